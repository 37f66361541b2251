#include "system/win/SystemMessage.h"

#include <windows.h>

#include <string_view>

#include "win32/Utf.h"

namespace lk {

std::string SystemMessage(std::uint32_t code) {
  wchar_t buffer[256];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, 256, nullptr);
  while (length > 0 && (buffer[length - 1] <= L' ' || buffer[length - 1] == L'.')) --length;
  return Utf8FromWide(std::wstring_view(buffer, length));
}

}  // namespace lk
