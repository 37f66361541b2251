#include "search/matcher/CandidateScanner.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define LK_HAVE_SSE2 1
#include <emmintrin.h>
#if defined(__GNUC__) || defined(__clang__)
#define LK_HAVE_AVX2 1
#include <immintrin.h>
#endif
#endif

namespace lk {
namespace {

constexpr std::size_t kMaxNeedles = 32;

// The needles regrouped for the vector loops: distinct distances get one load each.
struct NeedleTable {
  std::size_t count = 0;
  std::array<std::uint8_t, kMaxNeedles> first{};
  std::array<std::uint8_t, kMaxNeedles> second{};
  std::array<std::uint8_t, kMaxNeedles> slot{};  // index into distances; 0xFF: one byte
  std::size_t distanceCount = 0;
  std::array<std::uint8_t, 16> distances{};
};

NeedleTable MakeTable(const std::vector<Needle>& needles, std::size_t from, std::size_t count) {
  NeedleTable t;
  t.count = count;
  for (std::size_t i = 0; i < count; ++i) {
    const Needle& n = needles[from + i];
    t.first[i] = n.first;
    t.second[i] = n.second;
    if (n.distance == 0) {
      t.slot[i] = 0xFF;
      continue;
    }
    std::size_t s = 0;
    while (s < t.distanceCount && t.distances[s] != n.distance) ++s;
    if (s == t.distanceCount) t.distances[t.distanceCount++] = n.distance;
    t.slot[i] = static_cast<std::uint8_t>(s);
  }
  return t;
}

std::uint64_t ScalarChunk(const std::uint8_t* p, const NeedleTable& t) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 64; ++i) {
    const auto f = static_cast<std::uint8_t>(p[i] | 0x20);
    for (std::size_t n = 0; n < t.count; ++n) {
      if (f != t.first[n]) continue;
      if (t.slot[n] != 0xFF && (p[i + t.distances[t.slot[n]]] | 0x20) != t.second[n]) continue;
      bits |= std::uint64_t{1} << i;
      break;
    }
  }
  return bits;
}

#if LK_HAVE_SSE2
std::uint64_t Sse2Chunk(const std::uint8_t* p, const NeedleTable& t) {
  const __m128i fold = _mm_set1_epi8(0x20);
  std::uint64_t bits = 0;
  for (int part = 0; part < 4; ++part) {
    const std::uint8_t* q = p + part * 16;
    const __m128i f0 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), fold);
    __m128i fd[16];
    for (std::size_t s = 0; s < t.distanceCount; ++s) {
      fd[s] =
          _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + t.distances[s])), fold);
    }
    __m128i acc = _mm_setzero_si128();
    for (std::size_t n = 0; n < t.count; ++n) {
      __m128i m = _mm_cmpeq_epi8(f0, _mm_set1_epi8(static_cast<char>(t.first[n])));
      if (t.slot[n] != 0xFF) {
        m = _mm_and_si128(
            m, _mm_cmpeq_epi8(fd[t.slot[n]], _mm_set1_epi8(static_cast<char>(t.second[n]))));
      }
      acc = _mm_or_si128(acc, m);
    }
    bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(acc)))
            << (part * 16);
  }
  return bits;
}
#endif

#if LK_HAVE_AVX2
__attribute__((target("avx2"))) std::uint64_t Avx2Chunk(const std::uint8_t* p,
                                                        const NeedleTable& t) {
  const __m256i fold = _mm256_set1_epi8(0x20);
  std::uint64_t bits = 0;
  for (int part = 0; part < 2; ++part) {
    const std::uint8_t* q = p + part * 32;
    const __m256i f0 =
        _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), fold);
    __m256i fd[16];
    for (std::size_t s = 0; s < t.distanceCount; ++s) {
      fd[s] = _mm256_or_si256(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + t.distances[s])), fold);
    }
    __m256i acc = _mm256_setzero_si256();
    for (std::size_t n = 0; n < t.count; ++n) {
      __m256i m = _mm256_cmpeq_epi8(f0, _mm256_set1_epi8(static_cast<char>(t.first[n])));
      if (t.slot[n] != 0xFF) {
        m = _mm256_and_si256(
            m, _mm256_cmpeq_epi8(fd[t.slot[n]], _mm256_set1_epi8(static_cast<char>(t.second[n]))));
      }
      acc = _mm256_or_si256(acc, m);
    }
    bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(acc)))
            << (part * 32);
  }
  return bits;
}
#endif

using ChunkFunction = std::uint64_t (*)(const std::uint8_t*, const NeedleTable&);

ChunkFunction BestChunkFunction() {
#if LK_HAVE_AVX2
  if (__builtin_cpu_supports("avx2")) return Avx2Chunk;
#endif
#if LK_HAVE_SSE2
  return Sse2Chunk;
#else
  return ScalarChunk;
#endif
}

ChunkFunction& ActiveChunkFunction() {
  static ChunkFunction function = BestChunkFunction();
  return function;
}

// Scans [begin, end) with one table of at most kMaxNeedles needles.
template <typename Chunk>
std::size_t Scan(Chunk chunk, const std::uint8_t* data, std::size_t begin, std::size_t end,
                 const NeedleTable& table, std::uint64_t& bits) {
  for (std::size_t at = begin; at < end; at += 64) {
    std::uint64_t found = chunk(data + at, table);
    if (found == 0) continue;
    if (end - at < 64) found &= (std::uint64_t{1} << (end - at)) - 1;
    if (found != 0) {
      bits = found;
      return at;
    }
  }
  bits = 0;
  return end;
}

}  // namespace

CandidateScanner::CandidateScanner(std::vector<Needle> needles) : needles_(std::move(needles)) {}

std::size_t CandidateScanner::NextChunk(const std::uint8_t* data, std::size_t begin,
                                        std::size_t end, std::uint64_t& bits) const {
  bits = 0;
  if (needles_.empty() || begin >= end) return end;
  const ChunkFunction chunk = ActiveChunkFunction();
  if (needles_.size() <= kMaxNeedles) {
    const NeedleTable table = MakeTable(needles_, 0, needles_.size());
    return Scan(chunk, data, begin, end, table, bits);
  }
  // Many needles: scan chunk by chunk with every table, so that chunks still come in order.
  std::vector<NeedleTable> tables;
  for (std::size_t from = 0; from < needles_.size(); from += kMaxNeedles) {
    tables.push_back(MakeTable(needles_, from, std::min(kMaxNeedles, needles_.size() - from)));
  }
  for (std::size_t at = begin; at < end; at += 64) {
    std::uint64_t found = 0;
    for (const NeedleTable& table : tables) found |= chunk(data + at, table);
    if (end - at < 64) found &= (std::uint64_t{1} << (end - at)) - 1;
    if (found != 0) {
      bits = found;
      return at;
    }
  }
  return end;
}

const char* CandidateScanner::ImplementationName() {
  const ChunkFunction f = ActiveChunkFunction();
#if LK_HAVE_AVX2
  if (f == Avx2Chunk) return "avx2";
#endif
#if LK_HAVE_SSE2
  if (f == Sse2Chunk) return "sse2";
#endif
  static_cast<void>(f);
  return "scalar";
}

void CandidateScanner::SelectImplementation(Implementation implementation) {
  ChunkFunction& active = ActiveChunkFunction();
  active = BestChunkFunction();
  switch (implementation) {
    case Implementation::Scalar:
      active = ScalarChunk;
      break;
    case Implementation::Sse2:
#if LK_HAVE_SSE2
      active = Sse2Chunk;
#endif
      break;
    case Implementation::Avx2:
    case Implementation::Best:
      break;
  }
}

}  // namespace lk
