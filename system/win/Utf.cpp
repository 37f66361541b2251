#include "system/win/Utf.h"

#include <windows.h>

#include <climits>

namespace lk {

namespace {

// The Win32 conversion calls take int lengths; our texts never come near that.
int ClampedLength(std::size_t length) {
  return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int inLength = ClampedLength(text.size());
  const int outLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), inLength, nullptr, 0);
  if (outLength <= 0) return {};
  std::wstring result(static_cast<std::size_t>(outLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), inLength, result.data(), outLength);
  return result;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int inLength = ClampedLength(text.size());
  const int outLength =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
  if (outLength <= 0) return {};
  std::string result(static_cast<std::size_t>(outLength), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), inLength, result.data(), outLength, nullptr,
                      nullptr);
  return result;
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
