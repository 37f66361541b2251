// The stream search with a long text: a 16 MiB file searched for a 100,000-character text and
// for a 10-character one, neither present. The file is made of runs of 'a' that each end in
// 'b', and both texts are runs of 'a' ending in 'c', so a search that compares the text anew at
// every position pays for the long text at almost every byte.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/EngineBench.h"
#include "streamsearch/StreamSearch.h"
#include "system/posix/PosixFileSystem.h"

namespace lk::bench {

namespace {

namespace stdfs = std::filesystem;

constexpr std::size_t kFileBytes = std::size_t{16} << 20;
constexpr std::size_t kRunLength = 1024;
constexpr std::size_t kLongText = 100'000;
constexpr std::size_t kShortText = 10;
constexpr double kTargetRatio = 2.0;

void BuildFile(const stdfs::path& corpusRoot) {
  const stdfs::path file = corpusRoot / "Stream" / "haystack.bin";
  std::error_code error;
  if (stdfs::file_size(file, error) == kFileBytes) return;
  stdfs::create_directories(file.parent_path());
  std::string run(kRunLength - 1, 'a');
  run.push_back('b');
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (std::size_t written = 0; written < kFileBytes; written += run.size()) out << run;
}

std::u16string AbsentText(std::size_t length) {
  std::u16string text(length - 1, u'a');
  text.push_back(u'c');
  return text;
}

// Seconds of one search; negative when it did not end as expected (not found).
double SearchOnce(StreamSearch& search, const std::u16string& text) {
  const auto start = std::chrono::steady_clock::now();
  const bool found = search.FindText(text, 0, TextEncoding::Ansi);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return found ? -1 : seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

bool RunStreamSearchBench(const stdfs::path& corpusRoot, int runs) {
  BuildFile(corpusRoot);
  PosixFileSystem files(corpusRoot.string());
  StreamSearch search(files);
  search.OpenStreamFile("C:\\Stream\\haystack.bin");
  const std::u16string shortText = AbsentText(kShortText);
  const std::u16string longText = AbsentText(kLongText);
  std::vector<double> shortSeconds, longSeconds;
  for (int run = 0; run < runs; ++run) {
    shortSeconds.push_back(SearchOnce(search, shortText));
    longSeconds.push_back(SearchOnce(search, longText));
  }
  const auto ended = [](double seconds) { return seconds >= 0; };
  const bool agree = std::all_of(shortSeconds.begin(), shortSeconds.end(), ended) &&
                     std::all_of(longSeconds.begin(), longSeconds.end(), ended);
  const double shortMedian = Median(shortSeconds);
  const double longMedian = Median(longSeconds);
  const double ratio = shortMedian > 0 ? longMedian / shortMedian : 0;
  const double mib = static_cast<double>(kFileBytes) / (1 << 20);
  std::printf("\nstream search, 16 MiB, ANSI, ignoring case (median of %d runs)  seconds  MiB/s\n",
              runs);
  std::printf("%-58s %8.3f %6.0f\n", "10-character text, absent", shortMedian, mib / shortMedian);
  std::printf("%-58s %8.3f %6.0f\n", "100,000-character text, absent", longMedian,
              mib / longMedian);
  const bool met = agree && ratio <= kTargetRatio;
  std::printf("  long / short: %.2f (target at most %.1f): %s\n", ratio, kTargetRatio,
              !agree ? "WRONG RESULT" : (met ? "met" : "MISSED"));
  return met;
}

}  // namespace lk::bench
