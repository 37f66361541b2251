// lk_bench's offline part: lkscan --root over the corpus, laid out as the system drive of a
// Windows installation, against the read-only pass over the same files. The scan reads the two
// hives, runs the known-version checks and sweeps System32 and its drivers; its target is at most
// 1.25 times the read-only pass, whole process included.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
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

// Runs lkscan --root root --json with its output thrown away; seconds, or -1 when it failed.
double TimeLkScan(const stdfs::path& root) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::FILE* null = std::freopen("/dev/null", "w", stdout);
    static_cast<void>(null);
    execl(LK_LKSCAN_EXECUTABLE, LK_LKSCAN_EXECUTABLE, "--json", "--root", root.c_str(), nullptr);
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

bool RunOfflineBench(const stdfs::path& corpusRoot, int runs,
                     const std::function<double()>& readOnlyPass) {
  const stdfs::path config = corpusRoot / "Windows" / "System32" / "config";
  if (!stdfs::exists(config / "SOFTWARE") && !WriteHives(config)) {
    std::printf("offline: cannot write the hives into %s\n", config.c_str());
    return false;
  }
  std::vector<double> scans;
  std::vector<double> reads;
  for (int run = 0; run < runs; ++run) {
    reads.push_back(readOnlyPass());
    const double scan = TimeLkScan(corpusRoot);
    if (scan < 0) {
      std::printf("offline: lkscan --root failed\n");
      return false;
    }
    scans.push_back(scan);
  }
  const double read = Median(reads);
  const double scan = Median(scans);
  const double ratio = read > 0 ? scan / read : 0;
  std::printf("\noffline (median of %d interleaved runs)\n", runs);
  std::printf("  read-only pass                    %9.3f s\n", read);
  std::printf("  lkscan --root --json, whole run   %9.3f s   ratio %.2f (target <= %.2f): %s\n",
              scan, ratio, kTarget, ratio <= kTarget ? "met" : "MISSED");
  return ratio <= kTarget;
}

}  // namespace lk::bench
