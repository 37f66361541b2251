// The static lkscan links with -Wl,--wrap=iconv_open,--wrap=iconv,--wrap=iconv_close (see
// CMakeLists.txt): hivex's calls arrive here, and the pairs it uses for names are converted by
// HiveNameCoding instead of glibc's loadable converters. Everything else goes on to glibc.
#include <iconv.h>

#include <array>
#include <cstddef>

#include "system/offline/HiveNameCoding.h"

namespace {

using lk::hive_name_coding::Encoding;

struct Pair {
  Encoding from;
  Encoding to;
};

// One handle per pair; a handle is the address of its entry, so no allocation and no state.
constexpr std::size_t kEncodings = 3;
const std::array<Pair, kEncodings* kEncodings> kPairs = [] {
  std::array<Pair, kEncodings * kEncodings> pairs{};
  for (std::size_t from = 0; from < kEncodings; ++from) {
    for (std::size_t to = 0; to < kEncodings; ++to) {
      pairs[from * kEncodings + to] = {static_cast<Encoding>(from), static_cast<Encoding>(to)};
    }
  }
  return pairs;
}();

const Pair* Ours(iconv_t handle) {
  for (const Pair& pair : kPairs) {
    if (static_cast<const void*>(&pair) == handle) return &pair;
  }
  return nullptr;
}

}  // namespace

extern "C" {

iconv_t __real_iconv_open(const char* toCode, const char* fromCode);
std::size_t __real_iconv(iconv_t handle, char** input, std::size_t* inputLeft, char** output,
                         std::size_t* outputLeft);
int __real_iconv_close(iconv_t handle);

iconv_t __wrap_iconv_open(const char* toCode, const char* fromCode) {
  const auto to = lk::hive_name_coding::EncodingNamed(toCode);
  const auto from = lk::hive_name_coding::EncodingNamed(fromCode);
  if (!to || !from) return __real_iconv_open(toCode, fromCode);
  const Pair& pair =
      kPairs[static_cast<std::size_t>(*from) * kEncodings + static_cast<std::size_t>(*to)];
  return const_cast<void*>(static_cast<const void*>(&pair));
}

std::size_t __wrap_iconv(iconv_t handle, char** input, std::size_t* inputLeft, char** output,
                         std::size_t* outputLeft) {
  const Pair* pair = Ours(handle);
  if (pair == nullptr) return __real_iconv(handle, input, inputLeft, output, outputLeft);
  return lk::hive_name_coding::IconvStep(pair->from, pair->to, input, inputLeft, output,
                                         outputLeft);
}

int __wrap_iconv_close(iconv_t handle) {
  return Ours(handle) != nullptr ? 0 : __real_iconv_close(handle);
}

}  // extern "C"
