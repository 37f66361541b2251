#include "tests/wine/WineTestSupport.h"

#include <atomic>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "win32/Utf.h"

namespace lk::test {

namespace {

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  std::wstring pattern = path;
  pattern.append(L"\\*");
  UniqueFind search(FindFirstFileW(pattern.c_str(), &found));
  if (search) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path;
      child.append(1, L'\\').append(name);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search.Get(), &found));
  }
  search.Reset();
  RemoveDirectoryW(path.c_str());
}

}  // namespace

std::string UniqueName(std::string_view stem) {
  static std::atomic<unsigned> counter{0};
  return std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter);
}

std::optional<std::string> WinePrefixArchitecture() {
  wchar_t buffer[1024];
  const DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", buffer, 1024);
  if (length == 0 || length >= 1024) return std::nullopt;
  std::string prefix = Utf8FromWide(std::wstring_view(buffer, length));
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  const std::string folder = prefix.substr(prefix.find_last_of('/') + 1);
  for (const char* arch : {"win32", "win64"}) {
    if (folder.starts_with(arch)) return arch;
  }
  return std::nullopt;
}

std::wstring ExecutableDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), 32768);
  std::wstring path(buffer.data(), length);
  return path.substr(0, path.find_last_of(L'\\'));
}

bool WriteWholeFile(std::string_view path, std::string_view content) {
  const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) &&
         written == content.size();
}

TemporaryDirectory::TemporaryDirectory() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  path_ = Utf8FromWide(std::wstring_view(temp, length));
  if (!path_.empty() && path_.back() == '\\') path_.pop_back();
  path_.push_back('\\');
  path_.append(UniqueName("lk-test"));
  CreateDirectoryW(WideFromUtf8(path_).c_str(), nullptr);
}

TemporaryDirectory::~TemporaryDirectory() { RemoveTree(WideFromUtf8(path_)); }

std::string TemporaryDirectory::operator/(std::string_view name) const {
  return path_ + "\\" + std::string(name);
}

namespace {

std::wstring QuitEventName(const std::wstring& service) {
  return L"Global\\LkTestServiceQuit-" + service;
}

}  // namespace

std::wstring TestServices::Command(std::wstring_view mode) {
  return L"\"" + ExecutableDirectory() + L"\\lk_test_service.exe\" " + std::wstring(mode);
}

void TestServices::Track(const std::wstring& name) {
  quitEvents_.emplace_back(CreateEventW(nullptr, TRUE, FALSE, QuitEventName(name).c_str()));
  names_.push_back(name);
}

std::string TestServices::Register(SC_HANDLE manager, std::string_view stem,
                                   std::wstring_view mode) {
  const std::string name = UniqueName(stem);
  const std::wstring wide = WideFromUtf8(name);
  const std::wstring command = Command(mode);
  Track(wide);
  const UniqueServiceHandle service(
      CreateServiceW(manager, wide.c_str(), wide.c_str(), SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service ? name : std::string();
}

void TestServices::QuitLast() {
  if (!quitEvents_.empty()) SetEvent(quitEvents_.back().Get());
}

void TestServices::RemoveAll(SC_HANDLE manager) {
  for (const std::wstring& name : names_) {
    const UniqueKernelHandle quit(
        OpenEventW(EVENT_MODIFY_STATE, FALSE, QuitEventName(name).c_str()));
    if (quit) SetEvent(quit.Get());
    const UniqueServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) continue;
    SERVICE_STATUS status{};
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    DeleteService(service.Get());
  }
  names_.clear();
  quitEvents_.clear();
}

}  // namespace lk::test
