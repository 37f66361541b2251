#include "ui/VersionInfo.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "ui/VersionLibrary.h"
#include "win32/Utf.h"

namespace lk::ui {

VersionInfo::VersionInfo() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  Read(path);
}

VersionInfo::VersionInfo(const std::wstring& path) { Read(path); }

void VersionInfo::Read(const std::wstring& path) {
  fileVersion_ = kNotRead;
  // Without the library (the program reports that at start-up) nothing can be read.
  const VersionLibrary& version = VersionLibrary::Shared();
  if (!version) return;
  DWORD ignored = 0;
  const DWORD size = version->GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return;
  std::vector<unsigned char> block(size);
  if (!version->GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return;

  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* translations = nullptr;
  UINT translationsLength = 0;
  if (!version->VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translations,
                               &translationsLength) ||
      translationsLength < sizeof(Translation)) {
    return;
  }
  const auto* first = static_cast<const Translation*>(translations);
  wchar_t query[64];
  std::swprintf(query, 64, L"StringFileInfo\\%04X%04X\\FileVersion",
                static_cast<unsigned>(first->language), static_cast<unsigned>(first->codePage));
  void* value = nullptr;
  UINT valueLength = 0;
  if (!version->VerQueryValueW(block.data(), query, &value, &valueLength) || value == nullptr) {
    fileVersion_.clear();
    return;
  }
  // The string up to its terminating zero, whatever length the block states.
  const auto* text = static_cast<const wchar_t*>(value);
  fileVersion_ = Utf8FromWide(std::wstring(text, wcsnlen(text, valueLength)));
}

}  // namespace lk::ui
