#pragma once
// lkscan's sweep against lkgrep's search over the same corpus, each measured in a child process
// of lk_bench (so that its peak memory is its own). Each child prints "result SECONDS PEAK_KIB
// FILES" and one "found PATH" line per hit (Windows paths), as the sweep's children do.

#include <string>

namespace lk::bench {

// The whole scan as lkscan runs it (known-version checks, counting pass, content pass, hashes of
// the hits, JSON Lines records), through the core: Scanner on a scripted system whose system
// folder is the corpus's C:\Windows\System32, with the POSIX file layer over the corpus.
int RunLkScanChild(const std::string& corpusRoot, int threads);

// lkgrep as a user would run it for the same two categories: one search with the library
// expression over System32\*.dll, one with the driver expression over Drivers\*.sys, through
// RunLkGrep with the host file system, as lkgrep's POSIX entry point has it.
// threads: the -j of both (the sweep's threads).
int RunLkGrepChild(const std::string& corpusRoot, int threads);

}  // namespace lk::bench
