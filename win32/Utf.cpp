#include "win32/Utf.h"

#include <windows.h>

#include <climits>

#include "base/Utf8.h"

namespace lk {

namespace {

// WideCharToMultiByte takes int lengths; our texts never come near that.
int ClampedLength(std::size_t length) {
  return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

// wchar_t is a UTF-16 code unit on Windows; the portable decoder does the work, so the program
// converts the same way on every Windows version and as the native tests check.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring WideFromUtf8(std::string_view text) {
  const std::u16string wide = Utf16FromUtf8(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8FromWide(std::wstring_view text) {
  return Utf8FromUtf16(std::u16string(text.begin(), text.end()));
}

std::string AnsiFromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int inLength = ClampedLength(text.size());
  const int outLength =
      WideCharToMultiByte(CP_ACP, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
  if (outLength <= 0) return {};
  std::string result(static_cast<std::size_t>(outLength), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), inLength, result.data(), outLength, nullptr, nullptr);
  return result;
}

}  // namespace lk
