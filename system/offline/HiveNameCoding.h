#pragma once
// The text conversions hivex asks of iconv, done without it: LATIN1 and UTF-16LE to UTF-8 (key
// and value names as the hive stores them) and back (names hivex writes).
//
// A statically linked program cannot rely on glibc's iconv: beyond UTF-8 and ASCII it loads its
// converters and their names from the gconv modules of the glibc it was built with, which a
// rescue system does not have (or has in another version, which must not be loaded into us). The
// static lkscan therefore routes hivex's iconv calls for exactly these pairs here (see
// HiveNameCodingWrap.cpp); every other pair still goes to glibc.
//
// The conversion follows iconv's contract as hivex uses it: on success the whole input is
// consumed and the output advanced; when the output is too small nothing is consumed and E2BIG
// is reported (hivex grows its buffer and starts again); a character the target cannot hold
// (above U+00FF for LATIN1) is EILSEQ. UTF-8 and UTF-16 that are not valid become U+FFFD, as
// everywhere else in the program.

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lk::hive_name_coding {

enum class Encoding : unsigned char { Latin1, Utf16Le, Utf8 };

// The encoding of an iconv name this handles ("LATIN1", "UTF-16LE", "UTF-8"); none otherwise.
[[nodiscard]] std::optional<Encoding> EncodingNamed(std::string_view name) noexcept;

// Converts input from one encoding to another; the result, or the errno value (EILSEQ).
struct Converted {
  std::string text;
  int error = 0;
};
[[nodiscard]] Converted Convert(Encoding from, Encoding to, std::string_view input);

// iconv's calling convention over Convert: 0 with the input consumed, or -1 with errno set.
[[nodiscard]] std::size_t IconvStep(Encoding from, Encoding to, char** input,
                                    std::size_t* inputLeft, char** output,
                                    std::size_t* outputLeft) noexcept;

}  // namespace lk::hive_name_coding
