#pragma once
// Texts that must not stand as plain bytes in our executables.
//
// The sweep's signature strings would make every program of ours look like the trojan to an
// antivirus product, and to our own sweep. An EncodedText is built at compile time (consteval),
// so only the scrambled bytes reach the executable; Decode() restores the text at run time. The
// key is read through a volatile object, so the optimiser cannot fold the decoding back into
// the plain text. This is obfuscation against byte scanners, not secrecy.
//
//   constexpr lk::EncodedText kName("text");   // only the scrambled bytes are emitted
//   std::string name = kName.Decode();

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace lk {

namespace encoded_text_detail {
// The key of byte i is kKeyBase + i * kKeyStep (mod 256): no plain byte pattern repeats.
inline constexpr std::uint8_t kKeyBase = 0xA5;
inline constexpr std::uint8_t kKeyStep = 0x3B;
inline volatile std::uint8_t runtimeKeyBase = kKeyBase;

constexpr std::uint8_t KeyAt(std::uint8_t base, std::size_t index) {
  return static_cast<std::uint8_t>(base + index * kKeyStep);
}
}  // namespace encoded_text_detail

template <std::size_t N>
class EncodedText {
 public:
  // text: a string literal; its terminating NUL is not stored.
  consteval explicit EncodedText(const char (&text)[N]) {
    for (std::size_t i = 0; i + 1 < N; ++i) {
      bytes_[i] =
          static_cast<std::uint8_t>(static_cast<std::uint8_t>(text[i]) ^
                                    encoded_text_detail::KeyAt(encoded_text_detail::kKeyBase, i));
    }
  }

  [[nodiscard]] std::string Decode() const {
    const std::uint8_t base = encoded_text_detail::runtimeKeyBase;
    std::string text(N - 1, '\0');
    for (std::size_t i = 0; i + 1 < N; ++i) {
      text[i] = static_cast<char>(bytes_[i] ^ encoded_text_detail::KeyAt(base, i));
    }
    return text;
  }

  [[nodiscard]] static constexpr std::size_t Length() { return N - 1; }

 private:
  std::array<std::uint8_t, N - 1> bytes_{};
};

}  // namespace lk
