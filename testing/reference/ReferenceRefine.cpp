#include "testing/reference/ReferenceRefine.h"

#include <limits>
#include <string>

#include "search/expression/ExpressionCompiler.h"
#include "search/matcher/MatchPlan.h"
#include "search/matcher/RefineExecuter.h"
#include "search/matcher/ZeroRuns.h"

namespace lk {
namespace {

// The file's bytes between two guard spaces.
std::string ReadContentBuffer(ReadableFile& file) {
  const std::int64_t size = file.Size();
  if (size < 0) throw FileReadError("Cannot tell the file size");
  if (static_cast<std::uint64_t>(size) >
      static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max() / 2)) {
    throw FileReadError("File too large to be held in memory");
  }
  std::string content;
  content.resize(static_cast<std::size_t>(size) + 2);
  content.front() = ' ';
  content.back() = ' ';
  std::int64_t offset = 0;
  while (offset < size) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(size - offset, std::int64_t{1} << 24));
    const ReadResult r = file.ReadAt(offset, content.data() + 1 + offset, want);
    if (!r.Ok()) {
      throw FileReadError("Read error at offset " + std::to_string(offset) + " (error " +
                          std::to_string(r.error) + ")");
    }
    if (r.bytes == 0) throw FileReadError("Read error at offset " + std::to_string(offset));
    offset += static_cast<std::int64_t>(r.bytes);
  }
  return content;
}

}  // namespace

std::unique_ptr<Refine> ReferenceRefine::NewOfSameKind() const {
  auto copy = std::make_unique<ReferenceRefine>();
  CopySettingsTo(*copy);
  return copy;
}

bool ReferenceRefine::Compile(std::string_view text) {
  CompileResult result = CompileExpression(text, MatchCase());
  compiled_ = std::move(result.expression);
  return result.valid;
}

bool ReferenceRefine::MatchContent(std::string_view content) {
  static_cast<void>(Compile(Template()));
  if (compiled_.Empty()) return false;
  ExecuterOptions options;
  options.anySingleCharacter = AnySingleCharacter();
  options.anySequenceCharacter = AnySequenceCharacter();
  options.nearestLength = NearestLength();
  options.wholeWordsOnly = WholeWordsOnly();
  options.matchCase = MatchCase();
  try {
    RefineExecuter executer(options);
    return executer.Execute(compiled_, content);
  } catch (const std::exception&) {
    return false;
  }
}

bool ReferenceRefine::MatchStream(ReadableFile& file) {
  // A sparse file is held with its long holes cut short, as the production matcher reads it.
  const std::int64_t size = file.Size();
  if (size > 0 && file.HoleFrom(0) < size && Compile(Template()) && !compiled_.Empty()) {
    const MatchPlan plan(compiled_, {MatchCase(), WholeWordsOnly(), NearestLength(),
                                     AnySingleCharacter(), AnySequenceCharacter()});
    if (const std::optional<ZeroRunRule> rule = ZeroRunRuleFor(plan)) {
      ZeroRunView view(file, size, *rule);
      if (view.Shortens()) return MatchContent(ReadContentBuffer(view));
    }
  }
  const std::string content = ReadContentBuffer(file);
  return MatchContent(content);
}

}  // namespace lk
