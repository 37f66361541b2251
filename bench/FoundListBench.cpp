// The found list under many hits: the searcher looks every found path up in its found list
// before adding it, so the cost of that look-up decides how a search with many hits scales.
//
// A folder of 100,000 empty files is searched twice through SearchFileGrep: once with the empty
// search string, where every entry is a hit and goes into the found list, and once with MinSize
// 1, where the size filter drops every entry after the same enumeration. The difference between
// the two is what the hits cost.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/EngineBench.h"
#include "search/SearchFileGrep.h"
#include "system/posix/PosixFileSystem.h"

namespace lk::bench {

namespace {

namespace stdfs = std::filesystem;

constexpr int kEntries = 100'000;
constexpr double kTargetRatio = 2.0;

void BuildFolder(const stdfs::path& corpusRoot) {
  const stdfs::path ready = corpusRoot / ".found-complete";
  if (stdfs::exists(ready)) return;
  std::printf("building %d empty files in %s ...\n", kEntries, (corpusRoot / "Found").c_str());
  std::fflush(stdout);
  stdfs::remove_all(corpusRoot / "Found");
  stdfs::create_directories(corpusRoot / "Found");
  char name[32];
  for (int i = 0; i < kEntries; ++i) {
    std::snprintf(name, sizeof name, "entry%06d.dll", i);
    std::ofstream(corpusRoot / "Found" / name, std::ios::binary);
  }
  std::ofstream(ready, std::ios::binary);
}

struct Pass {
  double seconds = 0;
  int found = 0;
  int examined = 0;
};

Pass SearchOnce(FileSystem& files, bool hits) {
  SearchFileGrep grep(files);
  grep.ThreadedSearch = false;
  grep.RecurseSubDirs = false;
  grep.InternalFoundList = true;
  grep.Dirs = "C:\\Found";
  grep.FileMasks = "*.dll";
  grep.MinSize = hits ? 0 : 1;
  Pass pass;
  grep.OnFileChange = [&pass](SearchFileGrep&, const std::string&) { ++pass.examined; };
  grep.OnFound = [&pass](SearchFileGrep&, const SPFileRecord&) { ++pass.found; };
  const auto start = std::chrono::steady_clock::now();
  grep.RunSearch();
  pass.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (grep.FoundList().Count() != pass.found) pass.found = -1;
  return pass;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

bool RunFoundListBench(const stdfs::path& corpusRoot, int runs) {
  BuildFolder(corpusRoot);
  PosixFileSystem files(corpusRoot.string());
  std::vector<double> hitSeconds, missSeconds;
  bool agree = true;
  for (int run = 0; run < runs; ++run) {
    const Pass miss = SearchOnce(files, false);
    const Pass hit = SearchOnce(files, true);
    agree = agree && miss.found == 0 && hit.found == kEntries && miss.examined >= kEntries &&
            hit.examined == miss.examined;
    missSeconds.push_back(miss.seconds);
    hitSeconds.push_back(hit.seconds);
  }
  const double miss = Median(missSeconds);
  const double hit = Median(hitSeconds);
  const double ratio = miss > 0 ? hit / miss : 0;
  std::printf("\nfound list (median of %d runs)            seconds\n", runs);
  std::printf("%-40s %9.3f\n", "100,000 files, no hit (size filter)", miss);
  std::printf("%-40s %9.3f\n", "the same 100,000 files, all hits", hit);
  const bool met = agree && ratio <= kTargetRatio;
  std::printf("  hits / no hit: %.2f (target at most %.1f): %s\n", ratio, kTargetRatio,
              !agree ? "WRONG COUNTS" : (met ? "met" : "MISSED"));
  return met;
}

}  // namespace lk::bench
