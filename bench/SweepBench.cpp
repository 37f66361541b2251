// lk_bench: the heuristic sweep over a corpus of real PE files, timed against a true floor.
//
// Builds (once, then reuses) a Windows-like tree under the build folder from the PE files that
// Wine installs under /usr/lib/*/wine/: a System32 folder of libraries and its drivers folder,
// hard-linked (or copied) from the host, plus planted positives and near misses whose verdicts
// are known. Then it runs, each in a child process so that its peak memory is its own:
//   - the floor: a plain read() of each whole file of both categories into one reused buffer,
//     one thread; the same with as many threads as cores (each with its buffer),
//   - a read-only pass in 256 KiB blocks through the file layer, and with plain POSIX reads,
//   - the sweep as the program does it (counting pass and content pass per category, through
//     SearchFileGrep, one thread) with the production matcher,
//   - lkgrep and lkscan with -j1 and -j as many as cores,
//   - the same with the reference matcher (once: it is slow),
//   - yara with an equivalent rule, when it is installed (one thread).
// Every ratio it prints is seconds over the one-thread floor (medians of interleaved runs, page
// cache warm). As root it also drops the page cache (/proc/sys/vm/drop_caches) before single
// cold runs and prints those against the cold floor; otherwise it says that it could not.
// It checks that every run agrees with the expected verdicts and with the reference.
// Two more parts time the engine's scaling (EngineBench.h): the found list under 100,000 hits
// and the stream search with a 100,000-character text; each prints whether it met its target.
// The scan part (ScanBench.h) prints lkgrep and lkscan against the floor with their targets: with
// -j cores at most 1.1 times the one-thread floor, and under 16 MiB of peak memory per thread.
// The exit status is 1 when a run disagrees or a target is missed.
//
//   lk_bench [--corpus DIR] [--runs N] [--threads N] [--no-reference] [--reference-limit N]
//            [--no-cold] [--kernel scalar|sse2|avx2|best]
//            [--parts sweep,found,stream,sparse,scan,offline,image]
// --kernel makes every child (not the lkscan program of the offline part) scan with that
// candidate loop, so that a machine with AVX-512 can time the AVX2 path as well.
// The offline part times lkscan --root over the corpus against the floor (it needs the test
// support's hive builder, so only builds with the tests have it); target 1.25 times the floor.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "bench/EngineBench.h"
#include "bench/ScanBench.h"
#include "search/EncodedText.h"
#include "search/SearchFileGrep.h"
#include "search/matcher/CandidateScanner.h"
#include "system/posix/PosixFileSystem.h"
#include "testing/reference/MatcherKind.h"
#include "trojan/SweepExpressions.h"

namespace stdfs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr const char* kSystemDir = "C:\\Windows\\System32\\";
constexpr const char* kDriversDir = "C:\\Windows\\System32\\Drivers";
constexpr std::size_t kReadBlock = 256 * 1024;

// The signature texts, scrambled so that this program does not match the sweep itself.
constexpr lk::EncodedText kLibraryString("C3PO-r2d2-POE");
constexpr lk::EncodedText kLibraryPrefix("C3PO");
constexpr lk::EncodedText kLibrarySuffix("r2d2");
constexpr lk::EncodedText kDeviceName("KeyboardClassC");
constexpr lk::EncodedText kDevicePath("\\DosDevices\\KeyboardClassC");
constexpr lk::EncodedText kSkypeWords("skype|iexplore|firefox|SKYPEVERSION");

std::string ReadAll(const stdfs::path& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find(separator, begin);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

std::string Utf16Le(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

std::vector<std::string> SkypeWords() { return Split(kSkypeWords.Decode(), '|'); }

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Peak resident memory of this process in KiB (VmHWM).
long PeakKiB() {
  for (const std::string& line : Split(ReadAll("/proc/self/status"), '\n')) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// ---------------------------------------------------------------- corpus

struct Plant {
  std::string name;  // in System32 (*.dll) or drivers (*.sys)
  bool driver = false;
  bool expected = false;
  std::string note;
};

struct Corpus {
  stdfs::path root;
  std::vector<Plant> plants;
  std::int64_t libraryBytes = 0, driverBytes = 0;
  int libraryFiles = 0, driverFiles = 0;
};

bool LinkOrCopy(const stdfs::path& from, const stdfs::path& to) {
  std::error_code ec;
  stdfs::create_hard_link(from, to, ec);
  if (!ec) return true;
  return stdfs::copy_file(from, to, stdfs::copy_options::overwrite_existing, ec);
}

void WriteAll(const stdfs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The planted files: real library bytes with a signature written over them, and their verdicts.
std::vector<std::pair<Plant, std::string>> MakePlants(const std::string& base) {
  const std::string lib = kLibraryString.Decode();
  const std::string pre = kLibraryPrefix.Decode();
  const std::string suf = kLibrarySuffix.Decode();
  const std::string dev = kDeviceName.Decode();
  const std::string devPath = kDevicePath.Decode();
  const std::vector<std::string> words = SkypeWords();
  const std::size_t mid = base.size() / 2;
  auto at = [&](std::size_t offset, const std::string& bytes) {
    std::string content = base;
    if (offset + bytes.size() > content.size()) content.resize(offset + bytes.size());
    content.replace(offset, bytes.size(), bytes);
    return content;
  };
  std::vector<std::pair<Plant, std::string>> plants;
  auto add = [&](std::string name, bool driver, bool expected, std::string note,
                 std::string content) {
    plants.push_back(
        {Plant{std::move(name), driver, expected, std::move(note)}, std::move(content)});
  };
  add("zz_lib_after_nul.dll", false, true, "library string after a NUL",
      at(mid, "\0"s + lib + "\0"s));
  add("zz_lib_at_start.dll", false, true, "library string at offset 0", at(0, lib));
  add("zz_lib_linefeed.dll", false, true, "line feed as the '?' byte",
      at(mid, "\0"s + pre + "\n" + suf + "\0"s));
  add("zz_lib_mid_word.dll", false, false, "library string inside a word",
      at(mid, "\0x"s + lib + "\0"s));
  add("zz_lib_no_gap.dll", false, false, "no byte between the halves",
      at(mid, "\0"s + pre + suf + "\0"s));
  add("zz_lib_boundary_64k.dll", false, true, "across 64 KiB", at(65536 - 6, " " + lib));
  add("zz_lib_boundary_256k.dll", false, true, "across 256 KiB", at(262144 - 5, "\0"s + lib));
  {
    std::string content = base;
    const std::size_t spots[] = {100, mid, base.size() - 200, base.size() / 4};
    for (std::size_t i = 0; i < words.size(); ++i)
      content.replace(spots[i], words[i].size(), words[i]);
    add("zz_skype_all_four.dll", false, true, "all four browser words", content);
    std::string three = base;
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (i != 2) three.replace(spots[i], words[i].size(), words[i]);
    }
    add("zz_skype_three.dll", false, false, "three of the four words", three);
  }
  add("zz_kbd_ansi.dll", false, true, "8-bit device path", at(mid, devPath));
  add("zz_dev_utf16.dll", false, false, "UTF-16 device name: not a library term",
      at(mid, "\0\0"s + Utf16Le(devPath)));
  add("zz_dev_word_start.sys", true, true, "UTF-16 device path",
      at(mid, "\0\0"s + Utf16Le(devPath) + "\0\0"s));
  add("zz_dev_after_letter.sys", true, false, "UTF-16 device name after a letter",
      at(mid, "\0x"s + Utf16Le(dev) + "\0\0"s));
  {
    std::string shortEnd = base + "\0\0"s + Utf16Le(devPath);
    shortEnd.pop_back();
    add("zz_dev_one_short.sys", true, true, "last '?' on the guard space", shortEnd);
  }
  add("zz_dev_boundary_64k.sys", true, true, "UTF-16 name across 64 KiB",
      at(65536 - 9, "\0"s + Utf16Le(dev)));
  add("zz_dev_at_start.sys", true, true, "UTF-16 name at offset 0", at(0, Utf16Le(dev)));
  add("zz_lib_in_driver.sys", true, true, "library string in a driver",
      at(mid, "\0"s + lib + "\0"s));
  return plants;
}

Corpus BuildCorpus(const stdfs::path& root) {
  Corpus corpus;
  corpus.root = root;
  const stdfs::path system32 = root / "Windows" / "System32";
  // Spelt as the program asks for it, so the path layer finds it without a case-blind search.
  const stdfs::path drivers = system32 / "Drivers";
  if (stdfs::is_directory(system32 / "drivers") && !stdfs::exists(drivers)) {
    stdfs::rename(system32 / "drivers", drivers);
  }
  const stdfs::path ready = root / ".complete";
  if (!stdfs::exists(ready)) {
    std::cout << "building the corpus in " << root << " ..." << std::endl;
    stdfs::remove_all(root);
    stdfs::create_directories(drivers);
    std::string base;
    for (const char* arch : {"i386", "x86_64"}) {
      const stdfs::path dir = "/usr/lib/"s + (arch == "i386"s ? "i386" : "x86_64") +
                              "-linux-gnu/wine/" + arch + "-windows";
      if (!stdfs::is_directory(dir)) continue;
      const std::string prefix = arch == "i386"s ? "w32_" : "w64_";
      for (const auto& entry : stdfs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        const std::string ext = entry.path().extension().string();
        // Libraries and the like go to System32 as *.dll; drivers, programs and 16-bit modules
        // to drivers as *.sys, so both folders have real PE content of many sizes.
        stdfs::path target;
        if (ext == ".dll") {
          target = system32 / (prefix + name);
        } else if (ext == ".sys") {
          target = drivers / (prefix + name);
        } else if (ext == ".exe" || ext == ".vxd" || ext == ".drv16" || ext == ".exe16") {
          target = drivers / (prefix + name + ".sys");
        } else {
          target = system32 / (prefix + name + ".dll");
        }
        LinkOrCopy(entry.path(), target);
        if (ext == ".dll" && base.empty() && entry.file_size() > 600'000 &&
            entry.file_size() < 2'000'000) {
          base = ReadAll(entry.path());
        }
      }
    }
    if (base.empty()) base = std::string(700'000, 'x');
    for (auto& [plant, content] : MakePlants(base)) {
      WriteAll((plant.driver ? drivers : system32) / plant.name, content);
    }
    WriteAll(ready, "");
  }
  for (auto& [plant, content] : MakePlants(std::string(700'000, 'x'))) {
    corpus.plants.push_back(plant);
  }
  for (const auto& e : stdfs::directory_iterator(system32)) {
    if (e.is_regular_file() && e.path().extension() == ".dll") {
      corpus.libraryBytes += static_cast<std::int64_t>(e.file_size());
      ++corpus.libraryFiles;
    }
  }
  for (const auto& e : stdfs::directory_iterator(drivers)) {
    if (e.is_regular_file() && e.path().extension() == ".sys") {
      corpus.driverBytes += static_cast<std::int64_t>(e.file_size());
      ++corpus.driverFiles;
    }
  }
  return corpus;
}

// ---------------------------------------------------------------- the measured runs (children)

struct Category {
  const char* mask;
  const char* dir;
  std::string expression;
};

std::vector<Category> Categories() {
  return {{"*.dll", kSystemDir, lk::LibrarySweepExpression()},
          {"*.sys", kDriversDir, lk::DriverSweepExpression()}};
}

// The sweep as the program runs it: per category a counting pass with the empty expression,
// then the content pass; prints the found paths.
int ChildSweep(const std::string& corpusRoot, lk::MatcherKind kind, int limit) {
  lk::PosixFileSystem files(corpusRoot);
  lk::SearchFileGrep grep(files, lk::MakeRefine(kind));
  grep.ThreadedSearch = false;
  grep.FileMasks = "*.*";
  grep.InternalFoundList = false;
  grep.ResultValues = lk::SPResults{lk::SPResult::srsDir,
                                    lk::SPResult::srsFilename,
                                    lk::SPResult::srsAttr,
                                    lk::SPResult::srsSize,
                                    lk::SPResult::srsCreateDate,
                                    lk::SPResult::srsLastAccessDate,
                                    lk::SPResult::srsLastModifiedDate};
  std::vector<std::string> found;
  std::int64_t examined = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const Category& c : Categories()) {
    grep.FileMasks = c.mask;
    grep.SetSearchString("");
    grep.OnFileChange = nullptr;
    grep.Dirs = c.dir;
    grep.RecurseSubDirs = false;
    grep.InternalFoundList = true;
    grep.OnFound = [](lk::SearchFileGrep&, const lk::SPFileRecord&) {};
    grep.RunSearch();
    if (grep.FoundList().Count() == 0) continue;
    int seen = 0;
    grep.OnFileChange = [&](lk::SearchFileGrep& sender, const std::string&) {
      ++examined;
      if (limit > 0 && ++seen >= limit) sender.StopSearch();
    };
    grep.SetSearchString(c.expression);
    grep.RunSearch();
    for (const std::string& path : grep.FoundList().Items()) found.push_back(path);
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  std::cout << "result " << seconds << ' ' << PeakKiB() << ' ' << examined << '\n';
  for (const std::string& path : found) std::cout << "found " << path << '\n';
  return 0;
}

// Reads every file of both categories in 256 KiB blocks through the same file layer.
int ChildReadOnly(const std::string& corpusRoot) {
  lk::PosixFileSystem files(corpusRoot);
  std::vector<char> buffer(kReadBlock);
  std::int64_t bytes = 0, examined = 0;
  unsigned checksum = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const Category& c : Categories()) {
    const std::string dir = lk::AppendBackslash(c.dir);
    auto entries = files.EnumerateDirectory(dir, c.mask);
    lk::DirectoryEntry entry;
    while (entries && entries->Next(entry)) {
      if (entry.IsDirectory()) continue;
      ++examined;
      auto file = files.OpenForReading(dir + entry.name, lk::FileShare::Read, nullptr);
      if (!file) continue;
      for (std::int64_t offset = 0;; offset += static_cast<std::int64_t>(kReadBlock)) {
        const lk::ReadResult r = file->ReadAt(offset, buffer.data(), buffer.size());
        if (!r.Ok() || r.bytes == 0) break;
        bytes += static_cast<std::int64_t>(r.bytes);
        checksum += static_cast<unsigned char>(buffer[r.bytes - 1]);
        if (r.bytes < buffer.size()) break;
      }
    }
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  std::cout << "result " << seconds << ' ' << PeakKiB() << ' ' << examined << '\n';
  std::cout << "bytes " << bytes << ' ' << checksum << '\n';
  return 0;
}

// The same reads with plain POSIX calls, without the Windows path layer.
int ChildRawRead(const std::string& corpusRoot) {
  std::vector<char> buffer(kReadBlock);
  std::int64_t bytes = 0, examined = 0;
  unsigned checksum = 0;
  const stdfs::path system32 = stdfs::path(corpusRoot) / "Windows" / "System32";
  const auto start = std::chrono::steady_clock::now();
  for (const auto& [dir, ext] :
       {std::pair{system32, ".dll"}, std::pair{system32 / "Drivers", ".sys"}}) {
    for (const auto& entry : stdfs::directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().extension() != ext) continue;
      ++examined;
      const int fd = ::open(entry.path().c_str(), O_RDONLY);
      if (fd < 0) continue;
      for (off_t offset = 0;; offset += static_cast<off_t>(kReadBlock)) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n <= 0) break;
        bytes += n;
        checksum += static_cast<unsigned char>(buffer[static_cast<std::size_t>(n) - 1]);
        if (static_cast<std::size_t>(n) < buffer.size()) break;
      }
      ::close(fd);
    }
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  std::cout << "result " << seconds << ' ' << PeakKiB() << ' ' << examined << '\n';
  std::cout << "bytes " << bytes << ' ' << checksum << '\n';
  return 0;
}

// The floor: every file of both categories read whole with plain read() calls into one reused
// buffer per thread (grown to the largest file); threads take the files in turn.
int ChildFloor(const std::string& corpusRoot, int threads) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<stdfs::path> paths;
  const stdfs::path system32 = stdfs::path(corpusRoot) / "Windows" / "System32";
  for (const auto& [dir, ext] :
       {std::pair{system32, ".dll"}, std::pair{system32 / "Drivers", ".sys"}}) {
    for (const auto& entry : stdfs::directory_iterator(dir)) {
      if (entry.is_regular_file() && entry.path().extension() == ext) paths.push_back(entry.path());
    }
  }
  std::atomic<std::size_t> next{0};
  std::atomic<std::int64_t> bytes{0};
  std::atomic<unsigned> checksum{0};
  const auto work = [&] {
    std::vector<char> buffer(1 << 16);
    std::int64_t mine = 0;
    unsigned sum = 0;
    for (std::size_t i; (i = next++) < paths.size();) {
      const int fd = ::open(paths[i].c_str(), O_RDONLY);
      if (fd < 0) continue;
      struct stat status {};
      if (::fstat(fd, &status) == 0 && static_cast<std::size_t>(status.st_size) >= buffer.size()) {
        buffer.resize(static_cast<std::size_t>(status.st_size) + 1);
      }
      std::size_t have = 0;
      for (ssize_t n; (n = ::read(fd, buffer.data() + have, buffer.size() - have)) > 0;) {
        have += static_cast<std::size_t>(n);
        if (have == buffer.size()) buffer.resize(buffer.size() * 2);
      }
      ::close(fd);
      mine += static_cast<std::int64_t>(have);
      if (have > 0) sum += static_cast<unsigned char>(buffer[have - 1]);
    }
    bytes += mine;
    checksum += sum;
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  std::cout << "result " << seconds << ' ' << PeakKiB() << ' ' << paths.size() << '\n';
  std::cout << "bytes " << bytes << ' ' << checksum << '\n';
  return 0;
}

// ---------------------------------------------------------------- the parent

struct RunResult {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
  std::int64_t examined = 0;
  std::set<std::string> found;  // host paths, lower-case file names
};

// Runs a command, returns its standard output (and exit status).
std::string Capture(const std::vector<std::string>& argv, int* status, bool quiet = false) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    if (quiet) {
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
    }
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char chunk[65536];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) {
    out.append(chunk, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (status != nullptr) *status = st;
  return out;
}

std::string FileNameOf(const std::string& windowsPath) {
  return lk::FoldedAscii(lk::FileNamePart(windowsPath));
}

RunResult RunChild(const std::string& self, const std::string& mode, const Corpus& corpus,
                   int limit = 0) {
  int status = 0;
  const std::string out =
      Capture({self, "--child", mode, corpus.root.string(), std::to_string(limit)}, &status);
  RunResult r;
  for (const std::string& line : Split(out, '\n')) {
    if (line.rfind("result ", 0) == 0) {
      char* end = nullptr;
      r.seconds = std::strtod(line.c_str() + 7, &end);
      r.peakKiB = std::strtol(end, &end, 10);
      r.examined = std::strtoll(end, &end, 10);
      r.ok = true;
    } else if (line.rfind("found ", 0) == 0) {
      r.found.insert(FileNameOf(line.substr(6)));
    }
  }
  r.ok = r.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

std::string YaraRules(bool drivers) {
  // Separator bytes of the matcher: a wildcard term matches only right after one of them (or at
  // the start of the file).
  const std::string sep = R"([\x00-\x2f\x3a-\x40\x5b-\x5e\x60\x7b-\x7d\xa6])";
  auto dotted = [](const std::string& word) {
    std::string re;
    for (char c : word) {
      re.push_back(c);
      re += "[\\x00-\\xff]";
    }
    re.resize(re.size() - std::strlen("[\\x00-\\xff]"));  // the last '?' is always satisfied
    return re;
  };
  const std::string pre = kLibraryPrefix.Decode(), suf = kLibrarySuffix.Decode();
  const std::vector<std::string> words = SkypeWords();
  std::string r = "rule sweep {\n strings:\n";
  r += "  $lib = /" + sep + pre + "[\\x00-\\xff]" + suf + "/ nocase\n";
  r += "  $lib0 = /" + pre + "[\\x00-\\xff]" + suf + "/ nocase\n";
  for (std::size_t i = 0; i < words.size(); ++i) {
    r += "  $w" + std::to_string(i) + " = \"" + words[i] + "\" nocase\n";
  }
  r += "  $kbd = \"" + kDeviceName.Decode() + "\" nocase\n";
  if (drivers) {
    r += "  $dev = /" + sep + dotted(kDeviceName.Decode()) + "/ nocase\n";
    r += "  $dev0 = /" + dotted(kDeviceName.Decode()) + "/ nocase\n";
  }
  r += " condition:\n  $lib or $lib0 at 0 or ($w0 and $w1 and $w2 and $w3) or $kbd";
  if (drivers) r += " or $dev or $dev0 at 0";
  r += "\n}\n";
  return r;
}

RunResult RunYara(const Corpus& corpus, const stdfs::path& work) {
  RunResult total;
  total.ok = true;
  const stdfs::path system32 = corpus.root / "Windows" / "System32";
  for (bool drivers : {false, true}) {
    const stdfs::path rules = work / (drivers ? "drivers.yar" : "libraries.yar");
    WriteAll(rules, YaraRules(drivers));
    const stdfs::path timing = work / "yara-time.txt";
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string out =
        Capture({"/usr/bin/time", "-f", "%M", "-o", timing.string(), "/usr/bin/yara", "-p", "1",
                 rules.string(), (drivers ? system32 / "Drivers" : system32).string()},
                &status, true);
    total.seconds += Seconds(std::chrono::steady_clock::now() - start);
    const long kib = std::strtol(ReadAll(timing).c_str(), nullptr, 10);
    total.peakKiB = std::max(total.peakKiB, kib);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) total.ok = false;
    for (const std::string& line : Split(out, '\n')) {
      if (line.empty()) continue;
      const std::string path = line.substr(line.find(' ') + 1);
      const std::string name = FileNameOf(path);
      const std::string ext = drivers ? ".sys" : ".dll";
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ext) == 0) total.found.insert(name);
    }
  }
  return total;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Drops the page cache (as root); false when the machine does not allow it.
bool DropPageCache() {
  ::sync();
  std::ofstream drop("/proc/sys/vm/drop_caches");
  if (!drop) return false;
  drop << "3\n";
  drop.flush();
  return static_cast<bool>(drop);
}

void PrintHeader(const char* title) {
  std::printf("\n%-44s %9s %9s %10s %8s\n", title, "seconds", "MB/s", "peak MiB", "x floor");
}

void PrintRow(const std::string& name, double seconds, long kib, double floor, double mb) {
  std::printf("%-44s %9.3f %9.0f %10.1f %8.2f\n", name.c_str(), seconds,
              seconds > 0 ? mb / seconds : 0, static_cast<double>(kib) / 1024.0,
              floor > 0 ? seconds / floor : 0);
}

// The floor, lkgrep and lkscan with one thread and with threads, interleaved, at warm cache, and
// once each at cold cache where the page cache can be dropped; prints every ratio against the
// one-thread floor and whether the targets were met.
bool RunScanPart(const std::string& self, const Corpus& corpus, int runs, double mb, int threads,
                 bool cold) {
  constexpr double kTargetRatio = 1.1;
  constexpr long kTargetPeakKiBPerThread = 16 * 1024;
  const std::string n = std::to_string(threads);
  struct Kind {
    std::string label, mode;
    int threads;
    std::vector<double> seconds;
    long peakKiB = 0;
    RunResult first;
  };
  std::vector<Kind> kinds{
      {"floor: read() whole files, 1 thread", "floor", 1, {}, 0, {}},
      {"floor: read() whole files, " + n + " threads", "floor", threads, {}, 0, {}},
      {"lkgrep -j1, both presets", "lkgrep", 1, {}, 0, {}},
      {"lkgrep -j" + n + ", both presets", "lkgrep", threads, {}, 0, {}},
      {"lkscan -j1, checks and sweep", "lkscan", 1, {}, 0, {}},
      {"lkscan -j" + n + ", checks and sweep", "lkscan", threads, {}, 0, {}}};
  bool ok = true;
  for (int run = 0; run < runs; ++run) {
    for (Kind& k : kinds) {
      const RunResult r = RunChild(self, k.mode, corpus, k.threads);
      ok = ok && r.ok;
      k.seconds.push_back(r.seconds);
      k.peakKiB = std::max(k.peakKiB, r.peakKiB);
      if (run == 0) k.first = r;
      if (run > 0 && r.found != k.first.found) {
        std::printf("  %s: results differ between runs\n", k.label.c_str());
        ok = false;
      }
    }
  }
  const double floor = Median(kinds[0].seconds);
  PrintHeader("warm cache (median of interleaved runs)");
  std::printf(
      "(%d runs; x floor = seconds / one-thread floor; %lld files examined by lkscan; "
      "candidate scan: %s)\n",
      runs, static_cast<long long>(kinds[4].first.examined),
      lk::CandidateScanner::ImplementationName());
  for (const Kind& k : kinds) PrintRow(k.label, Median(k.seconds), k.peakKiB, floor, mb);

  bool met = true;
  const auto target = [&](const Kind& k) {
    const double ratio = floor > 0 ? Median(k.seconds) / floor : 0;
    const bool fast = ratio <= kTargetRatio;
    std::printf("  %s: %.2fx the floor, target at most %.1fx: %s\n", k.label.c_str(), ratio,
                kTargetRatio, fast ? "met" : "MISSED");
    met = met && fast;
  };
  target(kinds[3]);
  target(kinds[5]);
  std::printf("  one thread: lkgrep %.2fx, lkscan %.2fx the floor\n",
              floor > 0 ? Median(kinds[2].seconds) / floor : 0,
              floor > 0 ? Median(kinds[4].seconds) / floor : 0);
  for (std::size_t i = 2; i < kinds.size(); ++i) {
    const Kind& k = kinds[i];
    const long perThread = k.peakKiB / k.threads;
    const bool small = k.peakKiB > 0 && perThread < kTargetPeakKiBPerThread;
    std::printf("  %s: peak %.1f MiB, %.1f MiB per thread, target under %ld MiB: %s\n",
                k.label.c_str(), static_cast<double>(k.peakKiB) / 1024.0,
                static_cast<double>(perThread) / 1024.0, kTargetPeakKiBPerThread / 1024,
                small ? "met" : "MISSED");
    met = met && small;
  }
  bool agree = true;
  for (std::size_t i = 3; i < kinds.size(); ++i)
    agree = agree && kinds[i].first.found == kinds[2].first.found;
  std::printf("  lkgrep and lkscan, one thread and %d, %s (%zu hits)%s\n", threads,
              agree ? "agree" : "DISAGREE", kinds[2].first.found.size(),
              ok ? "" : "; a child failed");

  if (!cold) {
    std::printf("\ncold cache: not measured (--no-cold)\n");
  } else if (!DropPageCache()) {
    std::printf(
        "\ncold cache: not measured; this machine does not let lk_bench drop the page "
        "cache (needs root and a writable /proc/sys/vm/drop_caches)\n");
  } else {
    PrintHeader("cold cache (page cache dropped before each run)");
    std::printf("(one run each; x floor = seconds / one-thread floor at cold cache)\n");
    std::vector<RunResult> results;
    for (const Kind& k : kinds) {
      (void)DropPageCache();
      results.push_back(RunChild(self, k.mode, corpus, k.threads));
    }
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      PrintRow(kinds[i].label, results[i].seconds, results[i].peakKiB, results[0].seconds, mb);
    }
  }
  return met && agree && ok;
}

int CheckPlants(const char* label, const RunResult& r, const Corpus& corpus, bool whole) {
  int wrong = 0;
  for (const Plant& p : corpus.plants) {
    const bool got = r.found.count(p.name) != 0;
    if (got != p.expected) {
      std::cout << "  " << label << ": " << p.name << " (" << p.note << ") "
                << (got ? "found" : "missed") << ", expected "
                << (p.expected ? "found" : "not found") << '\n';
      ++wrong;
    }
  }
  if (whole) {
    for (const std::string& name : r.found) {
      if (name.rfind("zz_", 0) != 0) {
        std::cout << "  " << label << ": unplanted file matches: " << name << '\n';
      }
    }
  }
  return wrong;
}

// The candidate loop that --kernel named (through the environment, so that every child takes it).
void SelectKernelFromEnvironment() {
  const char* kernel = std::getenv("LK_BENCH_KERNEL");
  if (kernel == nullptr) return;
  const std::string k = kernel;
  using Loop = lk::CandidateScanner::Implementation;
  lk::CandidateScanner::SelectImplementation(k == "scalar" ? Loop::Scalar
                                             : k == "sse2" ? Loop::Sse2
                                             : k == "avx2" ? Loop::Avx2
                                                           : Loop::Best);
}

}  // namespace

int main(int argc, char** argv) {
  std::string self = stdfs::canonical("/proc/self/exe").string();
  SelectKernelFromEnvironment();
  if (argc >= 5 && argv[1] == "--child"s) {
    const std::string mode = argv[2];
    const int limit = std::atoi(argv[4]);
    if (mode == "readonly") return ChildReadOnly(argv[3]);
    if (mode == "raw") return ChildRawRead(argv[3]);
    if (mode == "production") return ChildSweep(argv[3], lk::MatcherKind::Production, limit);
    if (mode == "reference") return ChildSweep(argv[3], lk::MatcherKind::Reference, limit);
    if (mode == "floor") return ChildFloor(argv[3], std::max(1, limit));
    if (mode == "lkscan") return lk::bench::RunLkScanChild(argv[3], std::max(1, limit));
    if (mode == "lkgrep") return lk::bench::RunLkGrepChild(argv[3], std::max(1, limit));
    return 2;
  }

  stdfs::path corpusRoot = LK_BENCH_CORPUS;
  int runs = 5;
  bool reference = true;
  int referenceLimit = 0;
  bool cold = true;
  const unsigned cores = std::thread::hardware_concurrency();
  int threads = cores == 0 ? 1 : static_cast<int>(cores);
  std::set<std::string> parts{"sweep", "found", "stream", "sparse", "scan", "offline"};
  // The image part writes a disk image as large as the corpus: only when asked for.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--corpus" && i + 1 < argc) {
      corpusRoot = argv[++i];
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--threads" && i + 1 < argc) {
      threads = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--kernel" && i + 1 < argc) {
      ::setenv("LK_BENCH_KERNEL", argv[++i], 1);
      SelectKernelFromEnvironment();
    } else if (a == "--no-cold") {
      cold = false;
    } else if (a == "--no-reference") {
      reference = false;
    } else if (a == "--reference-limit" && i + 1 < argc) {
      referenceLimit = std::atoi(argv[++i]);
    } else if (a == "--parts" && i + 1 < argc) {
      const std::vector<std::string> chosen = Split(argv[++i], ',');
      parts = std::set<std::string>(chosen.begin(), chosen.end());
    } else {
      std::cerr << "usage: lk_bench [--corpus DIR] [--runs N] [--threads N] [--no-reference] "
                   "[--reference-limit FILES] [--no-cold] [--kernel scalar|sse2|avx2|best] "
                   "[--parts sweep,found,stream,sparse,scan,offline,image]\n";
      return 2;
    }
  }

  bool targetsMet = true;
  if (parts.count("found") != 0) targetsMet &= lk::bench::RunFoundListBench(corpusRoot, runs);
  if (parts.count("stream") != 0) targetsMet &= lk::bench::RunStreamSearchBench(corpusRoot, runs);
  if (parts.count("sparse") != 0) targetsMet &= lk::bench::RunSparseBench(corpusRoot, runs);
  if (parts.count("sweep") == 0 && parts.count("scan") == 0 && parts.count("offline") == 0 &&
      parts.count("image") == 0) {
    return targetsMet ? 0 : 1;
  }

  const Corpus corpus = BuildCorpus(corpusRoot);
#if LK_BENCH_OFFLINE
  if (parts.count("offline") != 0) {
    (void)RunChild(self, "floor", corpus, 1);
    targetsMet &= lk::bench::RunOfflineBench(
        corpusRoot, runs, threads, [&] { return RunChild(self, "floor", corpus, 1).seconds; });
  }
#endif
#if LK_BENCH_IMAGE
  if (parts.count("image") != 0) {
    (void)RunChild(self, "floor", corpus, 1);
    targetsMet &= lk::bench::RunImageBench(
        corpusRoot, runs, threads, [&] { return RunChild(self, "floor", corpus, 1).seconds; });
  }
#endif
  if (parts.count("sweep") == 0) return targetsMet ? 0 : 1;
  const double mb = static_cast<double>(corpus.libraryBytes + corpus.driverBytes) / 1e6;
  std::cout << "corpus: " << corpus.libraryFiles << " *.dll (" << corpus.libraryBytes / 1000000
            << " MB) + " << corpus.driverFiles << " *.sys (" << corpus.driverBytes / 1000000
            << " MB) = " << static_cast<long>(mb) << " MB, " << corpus.plants.size()
            << " planted files\n";

  // Warm the page cache.
  (void)RunChild(self, "readonly", corpus);
  (void)RunChild(self, "readonly", corpus);

  if (parts.count("scan") != 0) {
    targetsMet &= RunScanPart(self, corpus, runs, mb, threads, cold);
  }
  if (parts.count("sweep") == 0) return targetsMet ? 0 : 1;

  const bool haveYara = stdfs::exists("/usr/bin/yara") && stdfs::exists("/usr/bin/time");
  std::vector<double> floorSeconds, readSeconds, rawSeconds, prodSeconds, yaraSeconds;
  long floorPeak = 0, readPeak = 0, rawPeak = 0, prodPeak = 0, yaraPeak = 0;
  RunResult production, yara;
  bool failed = false;
  for (int run = 0; run < runs; ++run) {
    const RunResult f = RunChild(self, "floor", corpus, 1);
    floorSeconds.push_back(f.seconds);
    floorPeak = std::max(floorPeak, f.peakKiB);
    failed |= !f.ok;
    const RunResult raw = RunChild(self, "raw", corpus);
    const RunResult r = RunChild(self, "readonly", corpus);
    const RunResult p = RunChild(self, "production", corpus);
    rawSeconds.push_back(raw.seconds);
    rawPeak = std::max(rawPeak, raw.peakKiB);
    failed |= !r.ok || !p.ok;
    readSeconds.push_back(r.seconds);
    prodSeconds.push_back(p.seconds);
    readPeak = std::max(readPeak, r.peakKiB);
    prodPeak = std::max(prodPeak, p.peakKiB);
    if (run == 0) production = p;
    if (p.found != production.found) {
      std::cout << "production results differ between runs\n";
      failed = true;
    }
    if (haveYara) {
      const RunResult y = RunYara(corpus, corpusRoot.parent_path());
      yaraSeconds.push_back(y.seconds);
      yaraPeak = std::max(yaraPeak, y.peakKiB);
      if (run == 0) yara = y;
    }
  }

  const double read = Median(readSeconds), prod = Median(prodSeconds);
  const double floor = Median(floorSeconds);
  std::printf("\n%-34s %9s %9s %10s %8s\n", "run (median of interleaved runs)", "seconds", "MB/s",
              "peak MiB", "x floor");
  auto row = [&](const char* name, double s, long kib, double ratio) {
    std::printf("%-34s %9.3f %9.0f %10.1f %8.2f\n", name, s, s > 0 ? mb / s : 0,
                static_cast<double>(kib) / 1024.0, ratio);
  };
  std::printf(
      "(%d runs; x floor = seconds / plain read() of each whole file, one thread; "
      "candidate scan: %s)\n",
      runs, lk::CandidateScanner::ImplementationName());
  const double raw = Median(rawSeconds);
  row("floor: read() whole files", floor, floorPeak, 1.0);
  row("256 KiB blocks, file layer", read, readPeak, read / floor);
  row("256 KiB blocks, plain pread", raw, rawPeak, raw / floor);
  row("sweep, production matcher", prod, prodPeak, prod / floor);
  if (haveYara) {
    const double y = Median(yaraSeconds);
    row("yara -p 1, equivalent rule", y, yaraPeak, y / floor);
    std::printf("  production is %.1fx faster than yara\n", y / prod);
  } else {
    std::printf("yara: not installed, skipped\n");
  }

  RunResult ref;
  if (reference) {
    ref = RunChild(self, "reference", corpus, referenceLimit);
    failed |= !ref.ok;
    const double share = referenceLimit > 0 ? static_cast<double>(ref.examined) /
                                                  (corpus.libraryFiles + corpus.driverFiles)
                                            : 1.0;
    std::printf("%-34s %9.3f %9.0f %10.1f %8.2f   (one run%s)\n", "sweep, reference matcher",
                ref.seconds, ref.seconds > 0 ? mb * share / ref.seconds : 0,
                static_cast<double>(ref.peakKiB) / 1024.0, ref.seconds / (floor * share),
                referenceLimit > 0 ? ", first files of each category only" : "");
    if (referenceLimit == 0) {
      std::printf("  production is %.0fx faster than the reference\n", ref.seconds / prod);
    }
  }

  std::cout << "\nagreement:\n";
  int wrong = CheckPlants("production", production, corpus, true);
  if (reference) {
    wrong += CheckPlants("reference", ref, corpus, referenceLimit == 0);
    if (referenceLimit == 0) {
      if (ref.found == production.found) {
        std::cout << "  production and reference agree on the whole corpus (" << ref.found.size()
                  << " matches)\n";
      } else {
        std::cout << "  production and reference DISAGREE on the whole corpus\n";
        for (const auto& n : production.found) {
          if (!ref.found.count(n)) std::cout << "    only production: " << n << '\n';
        }
        for (const auto& n : ref.found) {
          if (!production.found.count(n)) std::cout << "    only reference: " << n << '\n';
        }
        ++wrong;
      }
    }
  }
  if (haveYara) {
    const int yaraWrong = CheckPlants("yara", yara, corpus, true);
    std::cout << "  yara " << (yara.found == production.found ? "agrees" : "DISAGREES")
              << " with production (" << yara.found.size() << " matches)" << (yaraWrong ? "" : "")
              << '\n';
  }
  std::cout << "  planted files: " << corpus.plants.size() << ", wrong verdicts: " << wrong << '\n';
  return (failed || wrong != 0 || !targetsMet) ? 1 : 0;
}
