// lk_bench's offline part: lkscan --root over the corpus, laid out as the system drive of a
// Windows installation, against the floor (a plain read() of each whole file, one thread). The
// scan reads the two hives, runs the known-version checks and sweeps System32 and its drivers; its
// target with as many threads as cores is at most 1.25 times the floor, whole process included.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/EngineBench.h"
#include "tests/support/WindowsTree.h"

namespace lk::bench {

namespace {

namespace stdfs = std::filesystem;

constexpr double kTarget = 1.25;

// The hives of a fresh 32-bit installation (the corpus has no SysWOW64), with the keys a scan
// reads: Select, two control sets, the Windows key.
bool WriteHives(const stdfs::path& config) {
  try {
    stdfs::create_directories(config);
    test::WriteWindowsHives(config.string(), false);
    return true;
  } catch (const std::exception& failure) {
    std::printf("offline: %s\n", failure.what());
    return false;
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Runs lkscan --root root --json (or --image) with its output thrown away; seconds, or -1 when
// it failed.
double TimeLkScan(const stdfs::path& root, int threads, const char* what = "--root") {
  const std::string jobs = "-j" + std::to_string(threads);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::FILE* null = std::freopen("/dev/null", "w", stdout);
    static_cast<void>(null);
    execl(LK_LKSCAN_EXECUTABLE, LK_LKSCAN_EXECUTABLE, "--json", jobs.c_str(), what, root.c_str(),
          nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // 0 clean, 1 found (the corpus has planted positives): both are complete scans.
  return WIFEXITED(status) && WEXITSTATUS(status) <= 1 ? seconds : -1;
}

}  // namespace

bool RunOfflineBench(const stdfs::path& corpusRoot, int runs, int threads,
                     const std::function<double()>& floor) {
  const stdfs::path config = corpusRoot / "Windows" / "System32" / "config";
  if (!stdfs::exists(config / "SOFTWARE") && !WriteHives(config)) {
    std::printf("offline: cannot write the hives into %s\n", config.c_str());
    return false;
  }
  std::vector<double> scans, oneThread, reads;
  for (int run = 0; run < runs; ++run) {
    reads.push_back(floor());
    const double scan = TimeLkScan(corpusRoot, threads);
    const double one = TimeLkScan(corpusRoot, 1);
    if (scan < 0 || one < 0) {
      std::printf("offline: lkscan --root failed\n");
      return false;
    }
    scans.push_back(scan);
    oneThread.push_back(one);
  }
  const double read = Median(reads);
  const double scan = Median(scans);
  const double one = Median(oneThread);
  const double ratio = read > 0 ? scan / read : 0;
  std::printf("\noffline (median of %d interleaved runs; ratio = seconds / one-thread floor)\n",
              runs);
  std::printf("  floor: read() of each whole file, 1 thread  %9.3f s   ratio 1.00\n", read);
  std::printf("  lkscan --root --json -j1, whole run         %9.3f s   ratio %.2f\n", one,
              read > 0 ? one / read : 0);
  std::printf(
      "  lkscan --root --json -j%d, whole run         %9.3f s   ratio %.2f (target <= %.2f): "
      "%s\n",
      threads, scan, ratio, kTarget, ratio <= kTarget ? "met" : "MISSED");
  return ratio <= kTarget;
}

#if LK_BENCH_IMAGE
// lkscan --image over the corpus laid into a raw GPT disk image with one NTFS volume (made once,
// by the tests' image builder, beside the corpus), against the same floor: reading the files out
// of the image through the Sleuth Kit may take at most 1.5 times as long as reading them from
// the host.
bool RunImageBench(const stdfs::path& corpusRoot, int runs, int threads,
                   const std::function<double()>& floor) {
  constexpr double kImageTarget = 1.5;
  const stdfs::path config = corpusRoot / "Windows" / "System32" / "config";
  if (!stdfs::exists(config / "SOFTWARE") && !WriteHives(config)) return false;
  const stdfs::path image = corpusRoot.parent_path() / "bench-image.raw";
  if (!stdfs::exists(image)) {
    std::uintmax_t bytes = 0;
    for (const auto& entry : stdfs::recursive_directory_iterator(corpusRoot)) {
      if (entry.is_regular_file()) bytes += entry.file_size();
    }
    const std::uintmax_t megabytes = bytes / 1000000 * 5 / 4 + 256;
    std::printf("image: writing %s (%ju MB) from the corpus...\n", image.c_str(), megabytes);
    std::fflush(stdout);
    const std::string command = std::string("/usr/bin/python3 '") + LK_MAKE_IMAGE + "' --filler '" +
                                LK_NTFS_FILL + "' --tree '" + corpusRoot.string() + "' --out '" +
                                image.string() + "' --size-mb " + std::to_string(megabytes) +
                                " > /dev/null";
    if (std::system(command.c_str()) != 0) {
      std::printf("image: the image could not be made\n");
      std::error_code ignored;
      stdfs::remove(image, ignored);
      return false;
    }
  }
  std::vector<double> scans, oneThread, reads;
  for (int run = 0; run < runs; ++run) {
    reads.push_back(floor());
    const double scan = TimeLkScan(image, threads, "--image");
    const double one = TimeLkScan(image, 1, "--image");
    if (scan < 0 || one < 0) {
      std::printf("image: lkscan --image failed\n");
      return false;
    }
    scans.push_back(scan);
    oneThread.push_back(one);
  }
  const double read = Median(reads);
  const double scan = Median(scans);
  const double one = Median(oneThread);
  const double ratio = read > 0 ? scan / read : 0;
  std::printf(
      "\nimage (median of %d interleaved runs; ratio = seconds / one-thread floor on the "
      "host)\n",
      runs);
  std::printf("  floor: read() of each whole file, 1 thread  %9.3f s   ratio 1.00\n", read);
  std::printf("  lkscan --image --json -j1, whole run        %9.3f s   ratio %.2f\n", one,
              read > 0 ? one / read : 0);
  std::printf(
      "  lkscan --image --json -j%d, whole run        %9.3f s   ratio %.2f (target <= %.2f): "
      "%s\n",
      threads, scan, ratio, kImageTarget, ratio <= kImageTarget ? "met" : "MISSED");
  return ratio <= kImageTarget;
}
#endif

}  // namespace lk::bench
