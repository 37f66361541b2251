// The system contract (tests/system/contract) for the Windows implementation, against the real
// registry, files, devices and service manager of Wine (or Windows).
#include "tests/system/contract/SystemContract.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk::contract {
namespace {

// The test's keys are made in the native view, the one the suite's connections see; on 32-bit
// Windows the flag is ignored.
constexpr REGSAM kNativeView = KEY_WOW64_64KEY;

class WindowsSubject final : public Subject {
 public:
  WindowsSubject() : name_(test::UniqueName("LkContract")) {
    PutKey("");
    manager_ = system_.OpenServiceManager();
  }

  ~WindowsSubject() override {
    services_.RemoveAll(Manager());
    system_.CloseServiceObject(manager_);
    UniqueRegistryKey software;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | kNativeView,
                      software.Put()) == ERROR_SUCCESS) {
      RegDeleteTreeW(software.Get(), WideFromUtf8(name_).c_str());
      RegDeleteKeyExW(software.Get(), WideFromUtf8(name_).c_str(), kNativeView, 0);
    }
  }

  SystemAccess& System() override { return system_; }
  std::uint32_t Capabilities() const override {
    return kCanStopServices | kHasDevices | kDeletesAtRestart;
  }
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
  SC_HANDLE Manager() const { return WindowsSystemAccess::ToScHandle(manager_); }
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
  ServiceHandle manager_;
  test::TestServices services_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Windows, SystemContract, WindowsSubject);

}  // namespace
}  // namespace lk::contract
