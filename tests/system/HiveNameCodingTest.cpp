// The conversions the static lkscan gives hivex instead of glibc's loadable ones, held to iconv's
// contract as hivex relies on it.
#include "system/offline/HiveNameCoding.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace lk::hive_name_coding {
namespace {

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFFU));
    bytes.push_back(static_cast<char>(unit >> 8U));
  }
  return bytes;
}

TEST(HiveNameCoding, OnlyTheNamesHivexUsesAreTaken) {
  EXPECT_EQ(EncodingNamed("LATIN1"), Encoding::Latin1);
  EXPECT_EQ(EncodingNamed("UTF-16LE"), Encoding::Utf16Le);
  EXPECT_EQ(EncodingNamed("UTF-8"), Encoding::Utf8);
  EXPECT_FALSE(EncodingNamed("ISO-8859-15").has_value());
  EXPECT_FALSE(EncodingNamed("utf-8").has_value()) << "glibc's own spellings stay with glibc";
}

TEST(HiveNameCoding, NamesAsHivesStoreThemBecomeUtf8AndBack) {
  EXPECT_EQ(Convert(Encoding::Latin1, Encoding::Utf8,
                    "Stra\xDF"
                    "e")
                .text,
            "Straße");
  EXPECT_EQ(Convert(Encoding::Utf16Le, Encoding::Utf8, Utf16Le(u"Ж\U0001F600")).text,
            "Ж\U0001F600");
  EXPECT_EQ(Convert(Encoding::Utf8, Encoding::Latin1, "Straße").text,
            "Stra\xDF"
            "e");
  EXPECT_EQ(Convert(Encoding::Utf8, Encoding::Utf16Le, "Ж\U0001F600").text,
            Utf16Le(u"Ж\U0001F600"));
  // Hostile names: a lone surrogate and a half unit become U+FFFD, never a failure.
  EXPECT_EQ(
      Convert(Encoding::Utf16Le, Encoding::Utf8, Utf16Le(u"a") + std::string("\x00\xD8", 2) + "b")
          .text,
      "a\uFFFD\uFFFD");
}

TEST(HiveNameCoding, WhatLatin1CannotHoldIsEilseq) {
  // hivex then stores the name as UTF-16 instead.
  const Converted converted = Convert(Encoding::Utf8, Encoding::Latin1, "Ж");
  EXPECT_EQ(converted.error, EILSEQ);
  EXPECT_EQ(Convert(Encoding::Utf8, Encoding::Latin1, "a\xFF").error, EILSEQ);
}

TEST(HiveNameCoding, TheIconvStepConsumesAllOrReportsE2BigWithoutProgress) {
  std::string input =
      "Stra\xDF"
      "e";
  char* in = input.data();
  std::size_t inLeft = input.size();
  char small[4];
  char* out = small;
  std::size_t outLeft = sizeof(small);
  errno = 0;
  EXPECT_EQ(IconvStep(Encoding::Latin1, Encoding::Utf8, &in, &inLeft, &out, &outLeft),
            static_cast<std::size_t>(-1));
  EXPECT_EQ(errno, E2BIG);
  EXPECT_EQ(inLeft, input.size());
  EXPECT_EQ(out, small);

  char large[16];
  out = large;
  outLeft = sizeof(large);
  EXPECT_EQ(IconvStep(Encoding::Latin1, Encoding::Utf8, &in, &inLeft, &out, &outLeft), 0U);
  EXPECT_EQ(inLeft, 0U);
  EXPECT_EQ(std::string(large, out), "Straße");
  EXPECT_EQ(outLeft, sizeof(large) - 7);
  // The reset call of iconv(cd, NULL, ...) changes nothing.
  EXPECT_EQ(IconvStep(Encoding::Latin1, Encoding::Utf8, nullptr, nullptr, nullptr, nullptr), 0U);
}

}  // namespace
}  // namespace lk::hive_name_coding
