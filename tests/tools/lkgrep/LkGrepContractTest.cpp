// lkgrep's command-line contract, checked by running the built tool on a folder of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "search/EncodedText.h"

namespace lk {
namespace {

namespace stdfs = std::filesystem;
using namespace std::string_literals;

// The signature strings stay scrambled in this executable too.
constexpr EncodedText kLibrarySignature("C3PO-r2d2-POE");
constexpr EncodedText kDeviceName("KeyboardClassC");

std::string Utf16Le(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

class LkGrepFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root = stdfs::temp_directory_path() /
           ("lkgrep-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    stdfs::remove_all(root);
    stdfs::create_directories(root);
  }
  void TearDown() override { stdfs::remove_all(root); }

  void Write(const std::string& relative, const std::string& content) {
    const stdfs::path path = root / relative;
    stdfs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  std::string Path(const std::string& relative) const { return (root / relative).string(); }

  // prefix: words put before the tool, e.g. to run it as another user. The reference matcher is
  // in the tool's test build only, so --reference runs that one.
  Outcome Run(const std::vector<std::string>& args, const std::string& prefix = {}) const {
    const bool reference = std::find(args.begin(), args.end(), "--reference") != args.end();
    return RunProgram(reference ? LKGREP_REFERENCE_PATH : LKGREP_PATH, args, prefix);
  }

  Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& prefix = {}) const {
    // A tool that hangs on some entry fails the test instead of stopping it.
    std::string command = "timeout 60 " + prefix + program;
    for (const std::string& arg : args) command += " " + Quote(arg);
    const std::string errFile = (root / ".stderr").string();
    command += " 2>" + Quote(errFile);
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return outcome;
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
      outcome.out.append(chunk.data(), n);
    const int status = pclose(pipe);
    outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream errStream(errFile, std::ios::binary);
    outcome.err.assign(std::istreambuf_iterator<char>(errStream), {});
    return outcome;
  }

  stdfs::path root;
};

using LkGrepCompile = LkGrepFixture;

TEST_F(LkGrepCompile, PrintsOneCellALineAndExitsZero) {
  const Outcome o = Run({"--compile", "skype and (ie or not ff) or a near b"});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out,
            "opTerm SKYPE\nopTerm IE\nopTerm FF\nopNot\nopOr\nopAnd\nopTerm A\nopTerm B\n"
            "opNear\nopOr\n");
  const Outcome cased = Run({"--match-case", "--compile", "Skype"});
  EXPECT_EQ(cased.out, "opTerm Skype\n");
}

TEST_F(LkGrepCompile, InvalidExpressionPrintsTheDiagnosticAndExitsTwo) {
  const Outcome o = Run({"--compile", "a b"});
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_THAT(o.err, ::testing::HasSubstr("syntax error at line 1"));
}

using LkGrepSearch = LkGrepFixture;

TEST_F(LkGrepSearch, PrintsFoundPathsInSearchOrderAndExitsZeroOrOne) {
  Write("b.dll", "xx skype yy");
  Write("a.sys", "SKYPE");
  Write("z.txt", "skype");
  Write("sub/c.dll", "Skype");
  Write("sub/d.dll", "nothing");
  const Outcome o = Run({"--recurse", "--mask", "*.sys;*.dll", "-e", "skype", root.string()});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out, Path("a.sys") + "\n" + Path("b.dll") + "\n" + Path("sub/c.dll") + "\n");

  const Outcome flat = Run({"--mask", "*.dll", "-e", "skype", root.string()});
  EXPECT_EQ(flat.out, Path("b.dll") + "\n");

  const Outcome none = Run({"-e", "firefox", root.string()});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "");
}

TEST_F(LkGrepSearch, BadExpressionOrArgumentsExitTwo) {
  Write("a.dll", "x");
  EXPECT_EQ(Run({"-e", "a and", root.string()}).code, 2);
  EXPECT_EQ(Run({"-e", "a"}).code, 2) << "no directory";
  EXPECT_EQ(Run({"--bogus", "-e", "a", root.string()}).code, 2);
  EXPECT_EQ(Run({"--near", "x", "-e", "a", root.string()}).code, 2);
  EXPECT_EQ(Run({"--preset", "everything", root.string()}).code, 2);
}

TEST_F(LkGrepSearch, OptionsReachTheMatcher) {
  Write("a.dll", "Skype.exe");
  Write("b.dll", "skypename");
  Write("c.dll", "ALPHA" + std::string(60, ' ') + "BETA");
  const std::string dir = root.string();
  EXPECT_EQ(Run({"--match-case", "-e", "Skype", dir}).out, Path("a.dll") + "\n");
  EXPECT_EQ(Run({"--whole-words", "-e", "skype", dir}).out, Path("a.dll") + "\n");
  EXPECT_EQ(Run({"-e", "alpha near beta", dir}).code, 1);
  EXPECT_EQ(Run({"--near", "100", "-e", "alpha near beta", dir}).out, Path("c.dll") + "\n");
}

TEST_F(LkGrepSearch, PresetsFindTheSweepSignaturesAsTheProgramDoes) {
  const std::string library = kLibrarySignature.Decode();
  const std::string device = kDeviceName.Decode();
  Write("after-nul.dll", "MZ\0"s + library + "\0"s);
  Write("in-word.dll", "xx" + library);
  Write("device-utf16.sys", "\0\0"s + Utf16Le("\\DosDevices\\" + device) + "\0\0"s);
  Write("device-utf16.dll", "\0\0"s + Utf16Le("\\DosDevices\\" + device) + "\0\0"s);
  Write("device-after-letter.sys", "x" + Utf16Le(device));
  const std::string dir = root.string();
  for (const char* matcher : {"", "--reference"}) {
    std::vector<std::string> libraries{"--preset", "libraries", "--mask", "*.dll", dir};
    std::vector<std::string> drivers{"--preset", "drivers", "--mask", "*.sys", dir};
    if (*matcher != '\0') {
      libraries.insert(libraries.begin(), matcher);
      drivers.insert(drivers.begin(), matcher);
    }
    EXPECT_EQ(Run(libraries).out, Path("after-nul.dll") + "\n") << matcher;
    EXPECT_EQ(Run(drivers).out, Path("device-utf16.sys") + "\n") << matcher;
  }
}

TEST_F(LkGrepSearch, TheShippedToolHasNoReferenceMatcher) {
  Write("a.dll", "skype");
  const Outcome shipped = RunProgram(LKGREP_PATH, {"--reference", "-e", "skype", root.string()});
  EXPECT_EQ(shipped.code, 2);
  EXPECT_NE(shipped.err.find("lkgrep: unknown option --reference\n"), std::string::npos)
      << shipped.err;
  EXPECT_EQ(shipped.err.find("[--reference]"), std::string::npos) << shipped.err;
  EXPECT_EQ(Run({"--reference", "-e", "skype", root.string()}).out, Path("a.dll") + "\n");
}

using LkGrepFindText = LkGrepFixture;

TEST_F(LkGrepFindText, PrintsOffsetAndLengthOrMinusOne) {
  const std::string library = kLibrarySignature.Decode();
  Write("f.dll", "abc" + library + "\0\0"s + Utf16Le("\\DosDevices\\" + kDeviceName.Decode()));
  const std::string file = Path("f.dll");
  Outcome o = Run({"--find-text", library, "--encoding", "ansi", file});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out, "3 13\n");
  o = Run({"--find-text", "\\dosdevices\\" + kDeviceName.Decode(), "--encoding", "utf16le", file});
  EXPECT_EQ(o.out, "18 52\n");
  o = Run({"--find-text", library, "--start", "4", file});
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.out, "-1 0\n");
  o = Run({"--find-text", "C3PO", "--case-sensitive", file});
  EXPECT_EQ(o.out, "3 4\n");
  o = Run({"--find-text", "c3po", "--case-sensitive", file});
  EXPECT_EQ(o.out, "-1 0\n");
  EXPECT_EQ(Run({"--find-text", "x", Path("missing.dll")}).code, 2);
  EXPECT_EQ(Run({"--find-text", "x", "--encoding", "utf8", file}).code, 2);
}

TEST_F(LkGrepFindText, AnOverlongSequenceIsNoCharacter) {
  // UTF-16 LE "x", U+0000, "y", U+FFFD, U+FFFD. C0 80 is a forbidden form of U+0000: it must not
  // find the NUL but stand for two unreadable bytes.
  Write("w.dat", "x\0\0\0y\0\xFD\xFF\xFD\xFF"s);
  const Outcome o = Run({"--find-text", "\xC0\x80", "--encoding", "utf16le", Path("w.dat")});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out, "6 4\n");
}

using LkGrepHostileTree = LkGrepFixture;

TEST_F(LkGrepHostileTree, APipeNeitherBlocksNorLosesTheHitsAroundIt) {
  Write("a.txt", "x");
  Write("z.txt", "x");
  ASSERT_EQ(::mkfifo(Path("p.fifo").c_str(), 0644), 0);
  const Outcome o = Run({"-e", "x", root.string()});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out, Path("a.txt") + "\n" + Path("z.txt") + "\n");
  EXPECT_EQ(o.err, "lkgrep: skipped " + Path("p.fifo") +
                       ": not a regular file (pipe, socket or device)\n");
}

TEST_F(LkGrepHostileTree, ANameHoldingABackslashIsSkippedAndShownEscaped) {
  Write("secret.txt", "x");
  Write("d/..\\secret.txt", "nothing");
  Write("d/x\\y.txt", "nothing");
  const Outcome o = Run({"-e", "x", Path("d")});
  EXPECT_EQ(o.code, 2) << "nothing matched, something was not examined";
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "lkgrep: skipped " + Path("d/..\\x5Csecret.txt") +
                       ": name holds a backslash (not a valid Windows name)\n"
                       "lkgrep: skipped " +
                       Path("d/x\\x5Cy.txt") +
                       ": name holds a backslash (not a valid Windows name)\n");
}

TEST_F(LkGrepHostileTree, NamesInOtherEncodingsAndCaseTwinsAreFoundAndShownEscaped) {
  Write("caf\xE9.txt", "x");
  Write("new\nline.txt", "x");
  Write("Twin.txt", "x");
  Write("twin.txt", "x");
  const Outcome o = Run({"--mask", "*.txt", "-e", "x", root.string()});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out, Path("caf\\xE9.txt") + "\n" + Path("new\\x0Aline.txt") + "\n" +
                       Path("Twin.txt") + "\n" + Path("twin.txt") + "\n");
  EXPECT_EQ(o.err, "");
}

TEST_F(LkGrepHostileTree, FoldersThatCannotBeReadAreNamedAndDecideTheExitCode) {
  Write("a.txt", "x");
  Write("locked/b.txt", "x");
  ASSERT_EQ(::chmod(Path("locked").c_str(), 0), 0);
  // Root reads every folder: run the tool as nobody then.
  const std::string asNobody =
      ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  Outcome o = Run({"--recurse", "-e", "x", root.string(), Path("nowhere")}, asNobody);
  EXPECT_EQ(o.code, 0) << "a match wins";
  EXPECT_EQ(o.out, Path("a.txt") + "\n");
  EXPECT_EQ(o.err, "lkgrep: skipped " + Path("locked") + "/: access denied\n" + "lkgrep: skipped " +
                       Path("nowhere") + "/: does not exist\n");

  o = Run({"--recurse", "-e", "y", root.string()}, asNobody);
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.err, "lkgrep: skipped " + Path("locked") + "/: access denied\n");
  ASSERT_EQ(::chmod(Path("locked").c_str(), 0755), 0);
  o = Run({"--recurse", "-e", "y", root.string()});
  EXPECT_EQ(o.code, 1) << "everything examined, nothing matched";
  EXPECT_EQ(o.err, "");
}

TEST_F(LkGrepHostileTree, ATermThatIsCutIsNamedInAWarning) {
  Write("a.txt", std::string(255, 'A'));
  const std::string longTerm(300, 'A');
  const std::string warning =
      "lkgrep: warning: the term \"" + std::string(24, 'A') +
      "...\" (300 characters) is cut to its first 255, so it matches more than written\n";
  Outcome o = Run({"-e", longTerm, root.string()});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.out, Path("a.txt") + "\n");
  EXPECT_EQ(o.err, warning);
  o = Run({"--compile", "\"" + longTerm + "\" or b"});
  EXPECT_EQ(o.err, warning);
  EXPECT_EQ(Run({"-e", std::string(255, 'A'), root.string()}).err, "");
}

TEST_F(LkGrepHostileTree, TheUsageTextExplainsSkipsEscapesCutsAndExitCodes) {
  const Outcome o = Run({"--help"});
  EXPECT_EQ(o.code, 0);
  for (const char* part : {"lkgrep: skipped PATH: REASON", "\\xHH", "caf\\xE9.txt",
                           "longer than 255 characters", "2 nothing matched and something"}) {
    EXPECT_THAT(o.out, ::testing::HasSubstr(part));
  }
}

using LkGrepThreads = LkGrepFixture;

TEST_F(LkGrepThreads, ManyThreadsPrintTheOutputAndExitCodeOfOne) {
  // Hits among misses of many sizes (one beyond a read block), and entries passed over.
  for (int i = 0; i < 60; ++i) {
    std::string content(i % 7 == 0 ? 300'000 : static_cast<std::size_t>(i) * 131, 'x');
    if (i % 4 == 1) content += " needle ";
    Write("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin", content);
  }
  ASSERT_EQ(::mkfifo(Path("d1/pipe.bin").c_str(), 0644), 0);
  Write("d2/x\\y.bin", "needle");
  stdfs::create_symlink(Path("d0/f1.bin"), Path("d0/link.bin"));
  for (const std::string expression : {"needle", "nothing"}) {
    const std::vector<std::string> args{"--recurse", "-e", expression, root.string()};
    std::vector<std::string> first = args;
    first.insert(first.begin(), {"-j", "1"});
    const Outcome one = Run(first);
    EXPECT_EQ(one.code, expression == "needle" ? 0 : 2);
    EXPECT_NE(one.err, "");
    for (const std::string threads : {"-j2", "-j4", "-j9"}) {
      std::vector<std::string> many = args;
      many.insert(many.begin(), threads);
      const Outcome o = Run(many);
      EXPECT_EQ(o.code, one.code) << threads;
      EXPECT_EQ(o.out, one.out) << threads;
      EXPECT_EQ(o.err, one.err) << threads;
    }
  }
  EXPECT_EQ(Run({"-j", "0", "-e", "x", root.string()}).code, 2);
  EXPECT_EQ(Run({"-j", "65", "-e", "x", root.string()}).code, 2);
}

}  // namespace
}  // namespace lk
