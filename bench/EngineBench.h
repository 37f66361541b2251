#pragma once
// The parts of lk_bench beyond the sweep: the found list under many hits, and the stream search
// with a long text. Each builds its files once under the corpus folder, prints its figures and
// returns whether its target was met.

#include <filesystem>
#include <functional>

namespace lk::bench {

// A search that lists 100,000 hits against the same 100,000 entries without a hit; the hits may
// take at most twice as long.
[[nodiscard]] bool RunFoundListBench(const std::filesystem::path& corpusRoot, int runs);

// The stream search over a 16 MiB file with a 100,000-character text against a 10-character
// one; the long text may take at most twice as long.
[[nodiscard]] bool RunStreamSearchBench(const std::filesystem::path& corpusRoot, int runs);

// Sparse files of 4 GiB with 4 MiB of data each, swept and stream-searched, against a pread of
// their data extents and against the same searches over dense files of just that data; at most
// twice as long as the latter.
[[nodiscard]] bool RunSparseBench(const std::filesystem::path& corpusRoot, int runs);

// lkscan --root over the corpus as a Windows installation (blank hives added once), with -j1 and
// -j threads, against the floor that floor times; with threads it may take at most 1.25 times
// as long.
[[nodiscard]] bool RunOfflineBench(const std::filesystem::path& corpusRoot, int runs, int threads,
                                   const std::function<double()>& floor);

// lkscan --image over the corpus in a raw NTFS disk image (made once beside the corpus), against
// the same floor on the host: at most 1.5 times as long.
[[nodiscard]] bool RunImageBench(const std::filesystem::path& corpusRoot, int runs, int threads,
                                 const std::function<double()>& floor);

}  // namespace lk::bench
