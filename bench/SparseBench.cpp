// Sparse files: a folder of 4 GiB libraries and drivers that each hold 64 data extents of 64 KiB
// (4 MiB on disk), swept with the drivers' expression through SearchFileGrep (production matcher)
// and searched by the stream search for an absent UTF-16 text, forwards and backwards. The floor
// is a plain pread of every data extent (SEEK_DATA / SEEK_HOLE), one thread: the bytes on disk,
// which is what the work should follow, not the apparent size. The same searches over dense files
// that hold just the data (4 MiB each) show what the data alone costs each of them; the target is
// that the sparse files cost at most twice that.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/EngineBench.h"
#include "search/SearchFileGrep.h"
#include "streamsearch/StreamSearch.h"
#include "system/Sha256.h"
#include "system/posix/PosixFileSystem.h"
#include "trojan/SweepExpressions.h"

namespace lk::bench {

namespace {

namespace stdfs = std::filesystem;

constexpr std::int64_t kApparent = std::int64_t{4} << 30;
constexpr int kFiles = 4;
constexpr int kExtents = 64;
constexpr std::int64_t kExtentBytes = 64 << 10;
constexpr double kTargetRatio = 2.0;

std::string FileName(int f) {
  return "sparse" + std::to_string(f) + (f % 2 == 0 ? ".sys" : ".dll");
}

// Writes the files once; false when the file system keeps no holes.
bool BuildFiles(const stdfs::path& folder) {
  stdfs::create_directories(folder);
  std::string extent(static_cast<std::size_t>(kExtentBytes), '\0');
  for (std::size_t i = 0; i < extent.size(); ++i) {
    extent[i] = static_cast<char>("MZ\x90\0\x03\0\0\0\x04\0\xff\xffpe.text"[i % 18]);
  }
  for (int f = 0; f < kFiles; ++f) {
    const stdfs::path path =
        folder / ("sparse" + std::to_string(f) + (f % 2 == 0 ? ".sys" : ".dll"));
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && status.st_size == kApparent) continue;
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, kApparent) == 0;
    for (int e = 0; ok && e < kExtents; ++e) {
      const std::int64_t at = kApparent / kExtents * e;
      ok = ::pwrite(fd, extent.data(), extent.size(), at) == static_cast<ssize_t>(extent.size());
    }
    ::close(fd);
    if (!ok) return false;
  }
  const stdfs::path dense = folder.parent_path() / "SparseData";
  stdfs::create_directories(dense);
  for (int f = 0; f < kFiles; ++f) {
    const stdfs::path path = dense / FileName(f);
    std::error_code error;
    if (stdfs::file_size(path, error) == static_cast<std::uintmax_t>(kExtents * kExtentBytes)) {
      continue;
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    for (int e = 0; e < kExtents; ++e) std::fwrite(extent.data(), 1, extent.size(), out);
    std::fclose(out);
  }
  std::int64_t onDisk = 0;
  for (const auto& entry : stdfs::directory_iterator(folder)) {
    struct stat status {};
    if (::stat(entry.path().c_str(), &status) == 0) onDisk += std::int64_t{status.st_blocks} * 512;
  }
  return onDisk < std::int64_t{kFiles} * kExtents * kExtentBytes * 2;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The floor: every data extent read once with pread.
double ReadData(const stdfs::path& folder, std::int64_t& bytes) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<char> buffer(256 << 10);
  bytes = 0;
  for (const auto& entry : stdfs::directory_iterator(folder)) {
    const int fd = ::open(entry.path().c_str(), O_RDONLY);
    if (fd < 0) continue;
    off_t offset = 0;
    for (;;) {
      const off_t data = ::lseek(fd, offset, SEEK_DATA);
      if (data < 0) break;
      const off_t hole = ::lseek(fd, data, SEEK_HOLE);
      for (off_t at = data; at < hole;) {
        const ssize_t got = ::pread(
            fd, buffer.data(),
            static_cast<std::size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buffer.size()))),
            at);
        if (got <= 0) break;
        bytes += got;
        at += got;
      }
      offset = hole;
    }
    ::close(fd);
  }
  return Seconds(start);
}

double Sweep(const stdfs::path& corpusRoot, const char* folder, int& found,
             std::int64_t& examined) {
  PosixFileSystem files(corpusRoot.string());
  SearchFileGrep search(files);
  search.ThreadedSearch = false;
  search.Dirs = std::string("C:\\") + folder;
  search.FileMasks = "*.sys;*.dll";
  search.SetSearchString(DriverSweepExpression());
  const auto start = std::chrono::steady_clock::now();
  search.RunSearch();
  const double seconds = Seconds(start);
  found = search.FoundList().Count();
  examined = search.ExaminedFiles();
  return seconds;
}

double Stream(const stdfs::path& corpusRoot, const char* folder, bool backward, int& found) {
  PosixFileSystem files(corpusRoot.string());
  StreamSearch search(files);
  const auto start = std::chrono::steady_clock::now();
  found = 0;
  for (int f = 0; f < kFiles; ++f) {
    search.OpenStreamFile(std::string("C:\\") + folder + "\\" + FileName(f));
    if (search.FindText(u"\\DosDevices\\KeyboardClassC", 0, TextEncoding::Utf16Le,
                        {.backward = backward})) {
      ++found;
    }
  }
  return Seconds(start);
}

// The digests a scan makes of found files: capped as lkscan makes them, or over the whole
// apparent size (limit INT64_MAX, what every digest cost before the cap).
double Digests(const stdfs::path& corpusRoot, const char* folder, std::int64_t limit,
               int& digested) {
  PosixFileSystem files(corpusRoot.string());
  const auto start = std::chrono::steady_clock::now();
  digested = 0;
  for (int f = 0; f < kFiles; ++f) {
    const FileDigest digest =
        DigestFile(files, std::string("C:\\") + folder + "\\" + FileName(f), limit);
    if (digest.Ok()) ++digested;
  }
  return Seconds(start);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

bool RunSparseBench(const stdfs::path& corpusRoot, int runs) {
  const stdfs::path folder = corpusRoot / "Sparse";
  if (!BuildFiles(folder)) {
    std::printf("\nsparse files: the corpus's file system keeps no holes; part not run\n");
    return true;
  }
  std::vector<double> floor, sweep, forward, backward, denseSweep, denseForward, denseBackward;
  std::vector<double> uncapped, capped;
  int digested = 0;
  int cappedDigested = 0;
  std::int64_t dataBytes = 0;
  bool agree = true;
  for (int run = 0; run < runs; ++run) {
    floor.push_back(ReadData(folder, dataBytes));
    for (const bool sparse : {true, false}) {
      const char* name = sparse ? "Sparse" : "SparseData";
      int found = 0;
      std::int64_t examined = 0;
      (sparse ? sweep : denseSweep).push_back(Sweep(corpusRoot, name, found, examined));
      agree &= found == 0 && examined == kFiles;
      (sparse ? forward : denseForward).push_back(Stream(corpusRoot, name, false, found));
      agree &= found == 0;
      (sparse ? backward : denseBackward).push_back(Stream(corpusRoot, name, true, found));
      agree &= found == 0;
    }
    // One uncapped run is enough to show what it costs: it takes seconds per file.
    if (run == 0) uncapped.push_back(Digests(corpusRoot, "Sparse", INT64_MAX, digested));
    capped.push_back(Digests(corpusRoot, "Sparse", kDigestLimit, cappedDigested));
  }
  const double f = std::max(Median(floor), 1e-6);
  std::printf("\nsparse files: %d x 4 GiB apparent, %lld MiB of data on disk (median of %d runs)\n",
              kFiles, static_cast<long long>(dataBytes >> 20), runs);
  std::printf("%-52s %9s %8s %9s %8s\n", "", "sparse s", "x floor", "data-only", "sparse/d");
  std::printf("%-52s %9.4f %8.2f\n", "floor: pread of every data extent, one thread", f, 1.0);
  double worst = 0;
  const auto row = [&](const char* what, const std::vector<double>& s,
                       const std::vector<double>& d) {
    const double ratio = Median(s) / std::max(Median(d), 1e-6);
    worst = std::max(worst, ratio);
    std::printf("%-52s %9.4f %8.2f %9.4f %8.2f\n", what, Median(s), Median(s) / f, Median(d),
                ratio);
  };
  row("sweep through SearchFileGrep, drivers' expression", sweep, denseSweep);
  row("stream search, absent UTF-16 text, forwards", forward, denseForward);
  row("stream search, absent UTF-16 text, backwards", backward, denseBackward);
  std::printf("%-52s %9.4f %8.2f   (%d of %d digested)\n",
              "SHA-256 over the whole apparent size (no cap)", Median(uncapped),
              Median(uncapped) / f, digested, kFiles);
  std::printf("%-52s %9.4f %8.2f   (%d of %d digested: over the 1 GiB cap)\n",
              "SHA-256 as a scan makes it (1 GiB cap)", Median(capped), Median(capped) / f,
              cappedDigested, kFiles);
  const bool met = agree && worst <= kTargetRatio;
  std::printf("  worst sparse / data-only: %.2f (target at most %.1f): %s\n", worst, kTargetRatio,
              !agree ? "WRONG RESULT" : (met ? "met" : "MISSED"));
  return met;
}

}  // namespace lk::bench
