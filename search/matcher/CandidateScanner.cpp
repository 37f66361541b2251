#include "search/matcher/CandidateScanner.h"

#include <algorithm>
#include <array>
#include <utility>

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

// Needles per vector loop; more are scanned by several tables.
constexpr std::size_t kTableSize = NeedleTable::kSize;

std::vector<NeedleTable> MakeTables(const std::vector<Needle>& needles) {
  std::vector<NeedleTable> tables;
  for (std::size_t from = 0; from < needles.size(); from += kTableSize) {
    NeedleTable t;
    t.count = std::min(kTableSize, needles.size() - from);
    for (std::size_t i = 0; i < t.count; ++i) {
      const Needle& n = needles[from + i];
      t.first[i] = n.first;
      t.second[i] = n.distance == 0 ? n.first : n.second;
      t.distance[i] = n.distance;
    }
    tables.push_back(t);
  }
  return tables;
}

std::uint64_t ScalarChunk(const std::uint8_t* p, const NeedleTable& t) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 64; ++i) {
    const auto f = static_cast<std::uint8_t>(p[i] | 0x20);
    for (std::size_t n = 0; n < t.count; ++n) {
      if (f == t.first[n] && (p[i + t.distance[n]] | 0x20) == t.second[n]) {
        bits |= std::uint64_t{1} << i;
        break;
      }
    }
  }
  return bits;
}

// Keeps the bits of a chunk at `at` that lie below end.
std::uint64_t BelowEnd(std::uint64_t bits, std::size_t at, std::size_t end) {
  if (end - at < 64) bits &= (std::uint64_t{1} << (end - at)) - 1;
  return bits;
}

std::size_t ScalarScan(const std::uint8_t* data, std::size_t begin, std::size_t end,
                       const NeedleTable& t, std::uint64_t& bits) {
  for (std::size_t at = begin; at < end; at += 64) {
    const std::uint64_t found = BelowEnd(ScalarChunk(data + at, t), at, end);
    if (found != 0) {
      bits = found;
      return at;
    }
  }
  bits = 0;
  return end;
}

#if LK_HAVE_SSE2
template <std::size_t N>
std::size_t Sse2Scan(const std::uint8_t* data, std::size_t begin, std::size_t end,
                     const NeedleTable& t, std::uint64_t& bits) {
  const __m128i fold = _mm_set1_epi8(0x20);
  __m128i x[N];
  __m128i y[N];
  std::size_t d[N];
  for (std::size_t n = 0; n < N; ++n) {
    x[n] = _mm_set1_epi8(static_cast<char>(t.first[n]));
    y[n] = _mm_set1_epi8(static_cast<char>(t.second[n]));
    d[n] = t.distance[n];
  }
  for (std::size_t at = begin; at < end; at += 64) {
    std::uint64_t found = 0;
    for (std::size_t part = 0; part < 4; ++part) {
      const std::uint8_t* q = data + at + part * 16;
      const __m128i f0 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), fold);
      __m128i acc = _mm_setzero_si128();
#pragma GCC unroll 8
      for (std::size_t n = 0; n < N; ++n) {
        const __m128i fd =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + d[n])), fold);
        acc = _mm_or_si128(acc, _mm_and_si128(_mm_cmpeq_epi8(f0, x[n]), _mm_cmpeq_epi8(fd, y[n])));
      }
      found |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(acc)))
               << (part * 16);
    }
    if (found != 0) {
      found = BelowEnd(found, at, end);
      if (found != 0) {
        bits = found;
        return at;
      }
    }
  }
  bits = 0;
  return end;
}
#endif

#if LK_HAVE_AVX2
template <std::size_t N>
__attribute__((target("avx2"))) std::size_t Avx2Scan(const std::uint8_t* data, std::size_t begin,
                                                     std::size_t end, const NeedleTable& t,
                                                     std::uint64_t& bits) {
  const __m256i fold = _mm256_set1_epi8(0x20);
  __m256i x[N];
  __m256i y[N];
  std::size_t d[N];
  for (std::size_t n = 0; n < N; ++n) {
    x[n] = _mm256_set1_epi8(static_cast<char>(t.first[n]));
    y[n] = _mm256_set1_epi8(static_cast<char>(t.second[n]));
    d[n] = t.distance[n];
  }
  for (std::size_t at = begin; at < end; at += 64) {
    std::uint64_t found = 0;
    for (std::size_t part = 0; part < 2; ++part) {
      const std::uint8_t* q = data + at + part * 32;
      const __m256i f0 =
          _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), fold);
      __m256i acc = _mm256_setzero_si256();
#pragma GCC unroll 8
      for (std::size_t n = 0; n < N; ++n) {
        const __m256i fd =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + d[n])), fold);
        acc = _mm256_or_si256(
            acc, _mm256_and_si256(_mm256_cmpeq_epi8(f0, x[n]), _mm256_cmpeq_epi8(fd, y[n])));
      }
      found |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(acc)))
               << (part * 32);
    }
    if (found != 0) {
      found = BelowEnd(found, at, end);
      if (found != 0) {
        bits = found;
        return at;
      }
    }
  }
  bits = 0;
  return end;
}
#endif

#if LK_HAVE_AVX2
template <std::size_t N>
__attribute__((target("avx512f,avx512bw"))) std::size_t Avx512Scan(const std::uint8_t* data,
                                                                   std::size_t begin,
                                                                   std::size_t end,
                                                                   const NeedleTable& t,
                                                                   std::uint64_t& bits) {
  const __m512i fold = _mm512_set1_epi8(0x20);
  __m512i x[N];
  __m512i y[N];
  std::size_t d[N];
  for (std::size_t n = 0; n < N; ++n) {
    x[n] = _mm512_set1_epi8(static_cast<char>(t.first[n]));
    y[n] = _mm512_set1_epi8(static_cast<char>(t.second[n]));
    d[n] = t.distance[n];
  }
  for (std::size_t at = begin; at < end; at += 64) {
    const std::uint8_t* q = data + at;
    const __m512i f0 = _mm512_or_si512(_mm512_loadu_si512(q), fold);
    __mmask64 found = 0;
#pragma GCC unroll 8
    for (std::size_t n = 0; n < N; ++n) {
      const __m512i fd = _mm512_or_si512(_mm512_loadu_si512(q + d[n]), fold);
      found |= _mm512_cmpeq_epi8_mask(f0, x[n]) & _mm512_cmpeq_epi8_mask(fd, y[n]);
    }
    if (found != 0) {
      const std::uint64_t below = BelowEnd(found, at, end);
      if (below != 0) {
        bits = below;
        return at;
      }
    }
  }
  bits = 0;
  return end;
}
#endif

using ScanFunction = std::size_t (*)(const std::uint8_t*, std::size_t, std::size_t,
                                     const NeedleTable&, std::uint64_t&);
using ScanFamily = std::array<ScanFunction, kTableSize + 1>;

template <template <std::size_t> class Wrap, std::size_t... I>
constexpr ScanFamily MakeFamily(std::index_sequence<I...>) {
  return {nullptr, Wrap<I + 1>::function...};
}

#if LK_HAVE_SSE2
template <std::size_t N>
struct Sse2Wrap {
  static constexpr ScanFunction function = Sse2Scan<N>;
};
constexpr ScanFamily kSse2Family = MakeFamily<Sse2Wrap>(std::make_index_sequence<kTableSize>());
#endif
#if LK_HAVE_AVX2
template <std::size_t N>
struct Avx2Wrap {
  static constexpr ScanFunction function = Avx2Scan<N>;
};
constexpr ScanFamily kAvx2Family = MakeFamily<Avx2Wrap>(std::make_index_sequence<kTableSize>());
template <std::size_t N>
struct Avx512Wrap {
  static constexpr ScanFunction function = Avx512Scan<N>;
};
constexpr ScanFamily kAvx512Family = MakeFamily<Avx512Wrap>(std::make_index_sequence<kTableSize>());
#endif

template <std::size_t N>
struct ScalarWrap {
  static constexpr ScanFunction function = ScalarScan;
};
constexpr ScanFamily kScalarFamily = MakeFamily<ScalarWrap>(std::make_index_sequence<kTableSize>());

const ScanFamily* BestFamily() {
#if LK_HAVE_AVX2
  if (__builtin_cpu_supports("avx512bw")) return &kAvx512Family;
  if (__builtin_cpu_supports("avx2")) return &kAvx2Family;
#endif
#if LK_HAVE_SSE2
  return &kSse2Family;
#else
  return &kScalarFamily;
#endif
}

const ScanFamily*& ActiveFamily() {
  static const ScanFamily* family = BestFamily();
  return family;
}

}  // namespace

CandidateScanner::CandidateScanner(std::vector<Needle> needles) : needles_(std::move(needles)) {}

std::size_t CandidateScanner::NextChunk(const std::uint8_t* data, std::size_t begin,
                                        std::size_t end, std::uint64_t& bits) const {
  bits = 0;
  if (needles_.empty() || begin >= end) return end;
  if (tables_.empty()) tables_ = MakeTables(needles_);
  const ScanFamily& family = *ActiveFamily();
  if (tables_.size() == 1) return family[tables_[0].count](data, begin, end, tables_[0], bits);
  // Many needles: every table over one chunk at a time, so that chunks still come in order.
  for (std::size_t at = begin; at < end; at += 64) {
    std::uint64_t found = 0;
    const std::size_t chunkEnd = std::min(end, at + 64);
    for (const NeedleTable& table : tables_) {
      std::uint64_t tableBits = 0;
      if (family[table.count](data, at, chunkEnd, table, tableBits) == at) found |= tableBits;
    }
    if (found != 0) {
      bits = found;
      return at;
    }
  }
  return end;
}

const char* CandidateScanner::ImplementationName() {
  const ScanFamily* family = ActiveFamily();
#if LK_HAVE_AVX2
  if (family == &kAvx512Family) return "avx512";
  if (family == &kAvx2Family) return "avx2";
#endif
#if LK_HAVE_SSE2
  if (family == &kSse2Family) return "sse2";
#endif
  static_cast<void>(family);
  return "scalar";
}

void CandidateScanner::SelectImplementation(Implementation implementation) {
  const ScanFamily*& active = ActiveFamily();
  active = BestFamily();
  switch (implementation) {
    case Implementation::Scalar:
      active = &kScalarFamily;
      break;
    case Implementation::Sse2:
#if LK_HAVE_SSE2
      active = &kSse2Family;
#endif
      break;
    case Implementation::Avx2:
#if LK_HAVE_AVX2
      if (__builtin_cpu_supports("avx2")) active = &kAvx2Family;
#endif
      break;
    case Implementation::Avx512:
    case Implementation::Best:
      break;
  }
}

}  // namespace lk
