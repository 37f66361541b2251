#include "system/offline/HiveNameCoding.h"

#include <cstring>
#include <new>

#include "base/Utf8.h"

namespace lk::hive_name_coding {

std::optional<Encoding> EncodingNamed(std::string_view name) noexcept {
  if (name == "LATIN1") return Encoding::Latin1;
  if (name == "UTF-16LE") return Encoding::Utf16Le;
  if (name == "UTF-8") return Encoding::Utf8;
  return std::nullopt;
}

namespace {

std::string Utf8From(Encoding from, std::string_view input) {
  std::string text;
  if (from == Encoding::Utf8) return std::string(input);
  if (from == Encoding::Latin1) {
    for (const char byte : input) AppendUtf8(static_cast<unsigned char>(byte), text);
    return text;
  }
  std::u16string units;
  for (std::size_t i = 0; i + 1 < input.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(input[i]) |
                                          (static_cast<unsigned char>(input[i + 1]) << 8U)));
  }
  if (input.size() % 2 != 0) units.push_back(static_cast<char16_t>(0xFFFD));
  return Utf8FromUtf16(units);
}

}  // namespace

Converted Convert(Encoding from, Encoding to, std::string_view input) {
  const std::string utf8 = Utf8From(from, input);
  Converted result;
  if (to == Encoding::Utf8) {
    result.text = utf8;
  } else if (to == Encoding::Utf16Le) {
    for (const char16_t unit : Utf16FromUtf8(utf8)) {
      result.text.push_back(static_cast<char>(unit & 0xFFU));
      result.text.push_back(static_cast<char>(unit >> 8U));
    }
  } else {
    for (std::size_t at = 0; at < utf8.size();) {
      const Utf8Character character = DecodeUtf8At(utf8, at);
      if (character.codePoint > 0xFF) {
        result.error = EILSEQ;
        result.text.clear();
        return result;
      }
      result.text.push_back(static_cast<char>(character.codePoint));
      at += character.length == 0 ? 1 : character.length;
    }
  }
  return result;
}

std::size_t IconvStep(Encoding from, Encoding to, char** input, std::size_t* inputLeft,
                      char** output, std::size_t* outputLeft) noexcept {
  // iconv(cd, NULL, ...) resets the shift state; these encodings have none.
  if (input == nullptr || *input == nullptr) return 0;
  try {
    const Converted converted = Convert(from, to, std::string_view(*input, *inputLeft));
    if (converted.error != 0) {
      errno = converted.error;
      return static_cast<std::size_t>(-1);
    }
    if (converted.text.size() > *outputLeft) {
      errno = E2BIG;
      return static_cast<std::size_t>(-1);
    }
    std::memcpy(*output, converted.text.data(), converted.text.size());
    *output += converted.text.size();
    *outputLeft -= converted.text.size();
    *input += *inputLeft;
    *inputLeft = 0;
    return 0;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return static_cast<std::size_t>(-1);
  }
}

}  // namespace lk::hive_name_coding
