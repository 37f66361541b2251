#include "tools/lkgrep/LkGrep.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <thread>

#include "base/Utf8.h"
#include "search/SearchFileGrep.h"
#include "search/expression/ExpressionCompiler.h"
#include "search/expression/RefineLexer.h"
#include "streamsearch/StreamSearch.h"
#include "tools/ConsoleTexts.h"
#include "trojan/SweepExpressions.h"

namespace lk {

namespace {

namespace t = lkgrep_texts;
using console_texts::Fill;

constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;
constexpr int kExitTrouble = 2;

// The usage text; "[--reference] " only where a reference matcher was handed in.
std::string Usage(bool withReference) {
  std::string usage(t::kUsage);
  if (!withReference) usage.erase(usage.find(t::kReferenceOption), t::kReferenceOption.size());
  return usage;
}

// How many bytes of a cut term a warning quotes.
constexpr std::size_t kQuotedTermLength = 24;

struct Options {
  std::optional<std::string> compile;
  std::optional<std::string> expression;  // from -e (UTF-8) or a preset (bytes already)
  bool expressionIsBytes = false;
  std::optional<std::string> findText;
  std::string encoding = "ansi";
  std::string mask = "*.*";
  bool matchCase = false;
  bool wholeWords = false;
  bool recurse = false;
  bool reference = false;
  bool caseSensitive = false;
  bool backward = false;
  std::optional<std::int32_t> near;
  std::optional<int> threads;
  std::int64_t start = 0;
  std::vector<std::string> positional;
};

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

// Warns about every term of expression that the scanner cuts to its longest length: the search
// then looks for its beginning only, which matches more than the user wrote.
void WarnAboutCutTerms(std::string_view expression, std::ostream& err) {
  RefineLexer lexer(expression);
  for (;;) {
    const int code = lexer.Scan();
    if (code == token::kEnd || code == token::kScannerError) return;
    if ((code != token::kWord && code != token::kString) ||
        lexer.WrittenLength() <= RefineLexer::kMaxValueLength) {
      continue;
    }
    err << Fill(
        t::kCutTermWarning,
        {EscapeForDisplay(lexer.Value().substr(0, kQuotedTermLength), false),
         std::to_string(lexer.WrittenLength()), std::to_string(RefineLexer::kMaxValueLength)});
  }
}

// Returns an error text, or nothing when the arguments parse.
std::optional<std::string> ParseArguments(const std::vector<std::string>& args, Options& o,
                                          bool referenceAvailable) {
  bool onlyPositional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPositional || arg.empty() || arg[0] != '-' || arg == "-") {
      o.positional.push_back(arg);
      continue;
    }
    auto value = [&](std::string& into) -> bool {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--") {
      onlyPositional = true;
    } else if (arg == "--match-case") {
      o.matchCase = true;
    } else if (arg == "--whole-words") {
      o.wholeWords = true;
    } else if (arg == "--recurse") {
      o.recurse = true;
    } else if (arg == "--reference" && referenceAvailable) {
      o.reference = true;
    } else if (arg == "--case-sensitive") {
      o.caseSensitive = true;
    } else if (arg == "--backward") {
      o.backward = true;
    } else if (arg == "--compile") {
      if (!value(v)) return std::string(t::kCompileNeedsExpression);
      o.compile = v;
    } else if (arg == "-e") {
      if (!value(v)) return std::string(t::kExpressionNeeded);
      if (o.expression) return std::string(t::kOneExpressionOnly);
      o.expression = v;
    } else if (arg == "--preset") {
      if (!value(v)) return std::string(t::kPresetNeedsName);
      if (o.expression) return std::string(t::kOneExpressionOnly);
      if (v == "libraries") {
        o.expression = LibrarySweepExpression();
      } else if (v == "drivers") {
        o.expression = DriverSweepExpression();
      } else {
        return Fill(t::kUnknownPreset, {v});
      }
      o.expressionIsBytes = true;
    } else if (arg == "--mask") {
      if (!value(v)) return std::string(t::kMaskNeedsMasks);
      o.mask = v;
    } else if (arg == "--near") {
      std::int32_t n = 0;
      if (!value(v) || !ParseNumber(v, n) || n < 0) return std::string(t::kNearNeedsNumber);
      o.near = n;
    } else if (arg == "--find-text") {
      if (!value(v)) return std::string(t::kFindTextNeedsText);
      o.findText = v;
    } else if (arg == "--encoding") {
      if (!value(v) || (v != "ansi" && v != "utf16le" && v != "utf16be")) {
        return std::string(t::kEncodingChoices);
      }
      o.encoding = v;
    } else if (arg.rfind("-j", 0) == 0) {
      // "-j N" or "-jN"
      if (arg.size() > 2) {
        v = arg.substr(2);
      } else if (!value(v)) {
        return std::string(t::kThreadsNeedNumber);
      }
      int n = 0;
      if (!ParseNumber(v, n) || n < 1 || n > 64) return std::string(t::kThreadsOutOfRange);
      o.threads = n;
    } else if (arg == "--start") {
      if (!value(v) || !ParseNumber(v, o.start)) return std::string(t::kStartNeedsNumber);
    } else {
      return Fill(t::kUnknownOption, {arg});
    }
  }
  const int modes = (o.compile ? 1 : 0) + (o.expression ? 1 : 0) + (o.findText ? 1 : 0);
  if (modes != 1) return std::string(t::kOneMode);
  if (o.compile && !o.positional.empty()) return std::string(t::kCompileAlone);
  if (o.expression && o.positional.empty()) return std::string(t::kDirectoryNeeded);
  if (o.findText && o.positional.size() != 1) return std::string(t::kFindTextOneFile);
  return std::nullopt;
}

int RunCompile(const Options& o, const LkGrepHost& host, std::ostream& out, std::ostream& err) {
  const std::string expression = host.toExpressionBytes(*o.compile);
  WarnAboutCutTerms(expression, err);
  const CompileResult result = CompileExpression(expression, o.matchCase);
  if (!result.valid) {
    err << (result.diagnostics.empty() ? std::string(t::kInvalidExpression) : result.diagnostics);
    return kExitTrouble;
  }
  out << DumpExpression(result.expression);
  return kExitFound;
}

int RunSearch(const Options& o, const LkGrepHost& host, std::ostream& out, std::ostream& err,
              const LkGrepMatcherFactory& reference) {
  const std::string expression =
      o.expressionIsBytes ? *o.expression : host.toExpressionBytes(*o.expression);
  std::string dirs;
  for (const std::string& dir : o.positional) {
    if (dir.find(';') != std::string::npos) {
      err << Fill(t::kSemicolonInDirectory, {EscapeForDisplay(dir, false)});
      return kExitTrouble;
    }
    if (!dirs.empty()) dirs += ';';
    dirs += host.toFileSystemPath(dir);
  }

  SearchFileGrep grep(host.files, o.reference ? reference() : MakeRefine());
  grep.ThreadedSearch = false;
  grep.InternalFoundList = true;
  grep.RecurseSubDirs = o.recurse;
  grep.FileMasks = o.mask;
  grep.Dirs = dirs;
  const unsigned cores = std::thread::hardware_concurrency();
  grep.Workers = o.threads.value_or(cores == 0 ? 1 : static_cast<int>(std::min(cores, 64U)));
  grep.Options().SetMatchCase(o.matchCase);
  grep.Options().SetWholeWordsOnly(o.wholeWords);
  if (o.near) grep.Options().SetNearestLength(*o.near);
  bool invalid = false;
  grep.OnTemplateInvalid = [&invalid](SearchFileGrep&) { invalid = true; };
  grep.SetSearchString(expression);
  if (invalid) {
    const CompileResult result = CompileExpression(expression, o.matchCase);
    err << (result.diagnostics.empty() ? std::string(t::kInvalidExpression) : result.diagnostics);
    return kExitTrouble;
  }
  if (!o.expressionIsBytes) WarnAboutCutTerms(expression, err);
  // A file that cannot be opened or read is skipped too: OnSkipped names it, with the reason.
  grep.OnSkipped = [&](SearchFileGrep&, const SPSkippedEntry& skipped) {
    err << Fill(t::kSkipped,
                {EscapeForDisplay(host.toDisplayPath(skipped.Dir), false),
                 EscapeForDisplay(skipped.Filename, true), DescribeFileError(skipped.Error)});
  };
  grep.RunSearch();
  const ThreadStringList& found = grep.FoundList();
  for (const std::string& path : found.Items()) {
    out << EscapeForDisplay(host.toDisplayPath(path), false) << '\n';
  }
  if (found.Count() > 0) return kExitFound;
  return grep.SkippedCount() > 0 ? kExitTrouble : kExitNothing;
}

int RunFindText(const Options& o, const LkGrepHost& host, std::ostream& out, std::ostream& err) {
  const TextEncoding encoding = o.encoding == "utf16le"   ? TextEncoding::Utf16Le
                                : o.encoding == "utf16be" ? TextEncoding::Utf16Be
                                                          : TextEncoding::Ansi;
  StreamSearch search(host.files);
  try {
    search.OpenStreamFile(host.toFileSystemPath(o.positional.front()));
    const bool found = search.FindText(
        Utf16FromUtf8(*o.findText), o.start, encoding,
        {.caseSensitive = o.caseSensitive, .wholeWords = o.wholeWords, .backward = o.backward});
    out << search.MatchOffset() << ' ' << search.MatchLength() << '\n';
    return found ? kExitFound : kExitNothing;
  } catch (const StreamSearchError& e) {
    err << t::kMessagePrefix << EscapeForDisplay(e.what(), false) << '\n';
    return kExitTrouble;
  }
}

}  // namespace

int RunLkGrep(const std::vector<std::string>& args, const LkGrepHost& host, std::ostream& out,
              std::ostream& err) {
  return RunLkGrep(args, host, out, err, {});
}

int RunLkGrep(const std::vector<std::string>& args, const LkGrepHost& host, std::ostream& out,
              std::ostream& err, const LkGrepMatcherFactory& reference) {
  const std::string usage = Usage(static_cast<bool>(reference));
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << usage;
    return kExitFound;
  }
  Options options;
  if (const auto problem = ParseArguments(args, options, static_cast<bool>(reference))) {
    err << t::kMessagePrefix << EscapeForDisplay(*problem, false) << '\n' << usage;
    return kExitTrouble;
  }
  if (options.compile) return RunCompile(options, host, out, err);
  if (options.findText) return RunFindText(options, host, out, err);
  return RunSearch(options, host, out, err, reference);
}

}  // namespace lk
