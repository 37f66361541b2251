// The contract suites (tests/system/contract) for the Windows implementation, against the real
// registry, files, devices, service manager and desktop of Wine (or Windows), and the file layers
// over a folder of the real drive.
#include "tests/system/contract/DesktopContract.h"
#include "tests/system/contract/FileStoreContract.h"
#include "tests/system/contract/FileSystemContract.h"
#include "tests/system/contract/LiveSystemContract.h"
#include "tests/system/contract/PlatformContract.h"
#include "tests/system/contract/RegistryContract.h"
#include "tests/system/contract/ServiceManagerContract.h"
#include "tests/system/contract/SystemFilesContract.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "system/win/WindowsDesktop.h"
#include "system/win/WindowsFileStore.h"
#include "system/win/WindowsFileSystem.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk::contract {
namespace {

// The test's keys are made in the native view, the one the suite's connections see; on 32-bit
// Windows the flag is ignored.
constexpr REGSAM kNativeView = KEY_WOW64_64KEY;

class WindowsSubject final : public LiveSubject {
 public:
  WindowsSubject() : name_(test::UniqueName("LkContract")) {
    PutKey("");
    manager_.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  }

  ~WindowsSubject() override {
    services_.RemoveAll(Manager());
    UniqueRegistryKey software;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | kNativeView,
                      software.Put()) == ERROR_SUCCESS) {
      RegDeleteTreeW(software.Get(), WideFromUtf8(name_).c_str());
      RegDeleteKeyExW(software.Get(), WideFromUtf8(name_).c_str(), kNativeView, 0);
    }
  }

  SystemAccess& System() override { return system_; }
  std::string Key() override { return "SOFTWARE\\" + name_; }

  void PutKey(std::string_view relative) override {
    UniqueRegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(Below(relative)).c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS | kNativeView, nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
  }

  void PutValue(std::string_view relative, std::string_view name,
                const RegistryValue& value) override {
    UniqueRegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(Below(relative)).c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS | kNativeView, nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    std::wstring wide;
    const BYTE* data = reinterpret_cast<const BYTE*>(value.data.data());
    std::size_t size = value.data.size();
    if (HoldsText(value.type)) {
      wide = WideFromUtf8(value.data);
      data = reinterpret_cast<const BYTE*>(wide.data());
      size = wide.size() * sizeof(wchar_t);
    }
    ASSERT_EQ(RegSetValueExW(key.Get(), WideFromUtf8(name).c_str(), 0,
                             static_cast<DWORD>(value.type), data, static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }

  std::optional<RegistryValue> StoredValue(std::string_view relative,
                                           std::string_view name) override {
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(Below(relative)).c_str(), 0,
                      KEY_READ | kNativeView, key.Put()) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    const std::wstring wideName = WideFromUtf8(name);
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::string bytes(size, '\0');
    if (RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(bytes.data()), &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    bytes.resize(size);
    RegistryValue value{static_cast<RegistryValueType>(type), bytes};
    if (HoldsText(value.type)) {
      std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
      std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
      value.data = Utf8FromWide(wide);
    }
    return value;
  }

  bool KeyStored(std::string_view relative) override {
    UniqueRegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(Below(relative)).c_str(), 0,
                         KEY_READ | kNativeView, key.Put()) == ERROR_SUCCESS;
  }

  std::string Folder() override { return folder_.Path(); }
  void PutFile(std::string_view path, std::string_view bytes) override {
    ASSERT_TRUE(test::WriteWholeFile(path, bytes));
  }
  bool FileStored(std::string_view path) override {
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  std::string PutStoppedService() override { return RegisterService(); }

  std::string PutRunningService() override {
    const std::string name = RegisterService();
    const UniqueServiceHandle service(
        OpenServiceW(Manager(), WideFromUtf8(name).c_str(), SERVICE_ALL_ACCESS));
    EXPECT_TRUE(service && StartServiceW(service.Get(), 0, nullptr))
        << "StartServiceW failed with " << GetLastError();
    // A service starts slowly under emulation.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    SERVICE_STATUS status{};
    while (service && QueryServiceStatus(service.Get(), &status) &&
           status.dwCurrentState != SERVICE_RUNNING && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return name;
  }

  std::string PutDevice() override { return "\\\\.\\NUL"; }

 private:
  SC_HANDLE Manager() const { return manager_.Get(); }
  std::string Below(std::string_view relative) const {
    std::string path = "SOFTWARE\\";
    path += name_;
    if (!relative.empty()) {
      path += '\\';
      path += relative;
    }
    return path;
  }

  // Registers the test service of tests/wine/fixtures, which stops when asked.
  std::string RegisterService() {
    const std::string name = services_.Register(Manager(), "LkContractService", L"accept");
    EXPECT_FALSE(name.empty()) << "CreateServiceW failed with " << GetLastError();
    return name;
  }

  WindowsSystemAccess system_;
  std::string name_;
  test::TemporaryDirectory folder_;
  UniqueServiceHandle manager_;
  test::TestServices services_;
};

// The desktop's pending work is a message posted to a window of the test's own, whose procedure
// runs it.
class WindowsDesktopSubject final : public DesktopSubject {
 public:
  WindowsDesktopSubject() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowsDesktopSubject::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly when a test before registered it
    window_.Reset(CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    if (window_) SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~WindowsDesktopSubject() override {
    // Nothing of this test may run in the next one.
    MSG message{};
    while (PeekMessageW(&message, window_.Get(), 0, 0, PM_REMOVE)) {
    }
  }

  Desktop& TheDesktop() override { return desktop_; }
  std::string Unavailable() override {
    if (!window_) return "no window can be created here (DISPLAY unset?)";
    if (!OpenClipboard(nullptr)) return "no clipboard here (DISPLAY unset?)";
    CloseClipboard();
    return {};
  }
  std::optional<std::string> ClipboardText() override {
    if (!OpenClipboard(nullptr)) return std::nullopt;
    std::optional<std::string> text;
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT); data != nullptr) {
      if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data)); wide != nullptr) {
        text = Utf8FromWide(wide);
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return text;
  }
  void PostWork(std::function<void()> work) override {
    work_.push_back(std::move(work));
    PostMessageW(window_.Get(), kWorkMessage, 0, 0);
  }

 private:
  static constexpr wchar_t kClassName[] = L"LkDesktopContract";
  static constexpr UINT kWorkMessage = WM_APP + 7;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<WindowsDesktopSubject*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == kWorkMessage && self != nullptr && !self->work_.empty()) {
      const std::function<void()> work = std::move(self->work_.front());
      self->work_.erase(self->work_.begin());
      work();
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  WindowsDesktop desktop_;
  UniqueWindow window_;
  std::vector<std::function<void()>> work_;
};

// The file layers over a folder of the real drive, which stands for the suites' root.
class WindowsFilesSubject {
 public:
  WindowsFilesSubject() {
    for (const auto& [relative, bytes] : FileContractTree()) {
      const std::string path = folder_.Path() + '\\' + relative;
      std::error_code error;
      std::filesystem::create_directories(std::filesystem::path(WideFromUtf8(path)).parent_path(),
                                          error);
      EXPECT_TRUE(test::WriteWholeFile(path, bytes)) << relative << ": " << error.message();
    }
  }
  FileSystem& Files() { return files_; }
  std::string Root() const { return folder_.Path(); }

 private:
  test::TemporaryDirectory folder_;
  WindowsFileSystem files_;
};

class WindowsStoreSubject {
 public:
  WindowsStoreSubject() {
    EXPECT_TRUE(CreateDirectoryW(WideFromUtf8(folder_ / "Store").c_str(), nullptr))
        << GetLastError();
  }
  FileStore& Store() { return store_; }
  FileSystem& Files() { return files_; }
  std::string Root() const { return folder_.Path(); }

 private:
  test::TemporaryDirectory folder_;
  WindowsFileSystem files_;
  WindowsFileStore store_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Windows, RegistryContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, ServiceManagerContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, ServiceDeletionContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, SystemFilesContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, PlatformContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, SystemFileDeletionContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, LiveSystemContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, LivePlatformContract, WindowsSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, DesktopContract, WindowsDesktopSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, FileSystemContract, WindowsFilesSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, FileStoreContract, WindowsStoreSubject);

}  // namespace
}  // namespace lk::contract
