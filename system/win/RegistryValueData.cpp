#include "system/win/RegistryValueData.h"

#include <cstring>
#include <string_view>

#include "win32/Utf.h"

namespace lk {

LSTATUS QueryRegistryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
  DWORD size = 0;
  DWORD storedType = REG_NONE;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &storedType, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  std::vector<BYTE> buffer;
  // Another writer may enlarge the value between the two calls; ERROR_MORE_DATA then tells the
  // new size. The bound keeps a value that grows on every call from holding us for ever.
  for (int attempt = 0; attempt < 16; ++attempt) {
    // One byte more than asked: a zero-size buffer would make the call report the size only.
    buffer.assign(static_cast<std::size_t>(size) + 1, 0);
    DWORD length = size + 1;
    status = RegQueryValueExW(key, name, nullptr, &storedType, buffer.data(), &length);
    if (status == ERROR_SUCCESS) {
      buffer.resize(length);
      type = storedType;
      data = std::move(buffer);
      return ERROR_SUCCESS;
    }
    if (status != ERROR_MORE_DATA) return status;
    size = length;
  }
  return ERROR_MORE_DATA;
}

namespace {

// The number of NUL characters the seam's text ends with, counted up to two.
std::size_t TrailingNuls(const std::string& text) {
  std::size_t count = 0;
  while (count < 2 && count < text.size() && text[text.size() - 1 - count] == '\0') ++count;
  return count;
}

}  // namespace

RegistryValue RegistryValueFromStored(DWORD type, const std::vector<BYTE>& data) {
  RegistryValue value;
  value.type = static_cast<RegistryValueType>(type);
  if (!HoldsText(static_cast<RegistryValueType>(type))) {
    value.data.assign(reinterpret_cast<const char*>(data.data()), data.size());
    return value;
  }
  // An odd byte count leaves half a character at the end: it is dropped.
  std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty()) std::memcpy(wide.data(), data.data(), wide.size() * sizeof(wchar_t));
  value.data = Utf8FromWide(wide);
  if (value.data.empty()) {
    value.data.push_back('\0');  // the empty text, or the empty list
  } else if (type == REG_MULTI_SZ) {
    // One NUL alone is the empty list as RegistryValue::MultiString writes it.
    if (value.data.size() == 1 && value.data[0] == '\0') return value;
    for (std::size_t nuls = TrailingNuls(value.data); nuls < 2; ++nuls) value.data.push_back('\0');
  } else if (value.data.back() != '\0') {
    value.data.push_back('\0');
  }
  return value;
}

std::vector<BYTE> StoredFromRegistryValue(const RegistryValue& value) {
  const auto type = static_cast<DWORD>(value.type);
  if (!HoldsText(static_cast<RegistryValueType>(type)))
    return std::vector<BYTE>(value.data.begin(), value.data.end());
  const std::wstring wide = WideFromUtf8(value.data);
  std::vector<BYTE> stored(wide.size() * sizeof(wchar_t));
  if (!stored.empty()) std::memcpy(stored.data(), wide.data(), stored.size());
  return stored;
}

}  // namespace lk
