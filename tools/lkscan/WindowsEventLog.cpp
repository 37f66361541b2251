#include "tools/lkscan/WindowsEventLog.h"

#include <windows.h>

#include <vector>

#include "system/win/SystemMessage.h"
#include "system/win/UniqueHandle.h"
#include "tools/ConsoleTexts.h"
#include "win32/Utf.h"

namespace lk {

namespace {

// ReportEventW takes strings of up to 31,839 characters each.
constexpr std::size_t kMaxStringLength = 31000;

std::string ErrorText(DWORD code) {
  std::string text = SystemMessage(code);
  if (text.empty()) text = "Fehler " + std::to_string(code);
  return text;
}

// RegisterEventSourceW fails with null; its handle is given back with DeregisterEventSource.
struct EventSourceTraits : WindowsHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { DeregisterEventSource(value); }
};
using UniqueEventSource = UniqueHandle<EventSourceTraits>;

WORD TypeOf(EventKind kind) {
  switch (kind) {
    case EventKind::Error:
      return EVENTLOG_ERROR_TYPE;
    case EventKind::Warning:
      return EVENTLOG_WARNING_TYPE;
    case EventKind::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

class WindowsEventLog final : public EventSink {
 public:
  explicit WindowsEventLog(UniqueEventSource source) : source_(std::move(source)) {}

  bool Report(EventKind kind, std::uint32_t id, const std::vector<std::string>& strings) override {
    std::vector<std::wstring> wide;
    wide.reserve(strings.size());
    for (const std::string& text : strings) {
      std::wstring converted = WideFromUtf8(text);
      if (converted.size() > kMaxStringLength) {
        std::size_t end = kMaxStringLength;
        // Never cut a surrogate pair in two.
        if (converted[end] >= 0xDC00 && converted[end] <= 0xDFFF) --end;
        converted.resize(end);
      }
      wide.push_back(std::move(converted));
    }
    std::vector<LPCWSTR> pointers;
    for (const std::wstring& text : wide) pointers.push_back(text.c_str());
    return ReportEventW(source_.Get(), TypeOf(kind), 0, id, nullptr,
                        static_cast<WORD>(pointers.size()), 0, pointers.data(), nullptr) != 0;
  }

 private:
  UniqueEventSource source_;
};

}  // namespace

std::unique_ptr<EventSink> OpenWindowsEventLog(std::string* error) {
  UniqueEventSource source(RegisterEventSourceW(nullptr, kEventSourceName));
  if (!source) {
    *error = console_texts::Fill(lkscan_texts::kEventLogUnopenable, {ErrorText(GetLastError())});
    return nullptr;
  }
  return std::make_unique<WindowsEventLog>(std::move(source));
}

bool RegisterWindowsEventSource(std::string* error) {
  std::vector<wchar_t> program(32768);
  const DWORD length =
      GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
  if (length == 0 || length >= program.size()) {
    *error = console_texts::Fill(lkscan_texts::kOwnPathUnknown, {ErrorText(GetLastError())});
    return false;
  }
  const std::wstring key =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") +
      kEventSourceName;
  UniqueRegistryKey opened;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, opened.Put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(opened.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(program.data()),
                            (length + 1) * static_cast<DWORD>(sizeof(wchar_t)));
  }
  if (status == ERROR_SUCCESS) {
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    status = RegSetValueExW(opened.Get(), L"TypesSupported", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof(types));
  }
  if (status != ERROR_SUCCESS) {
    *error = "HKLM\\" + Utf8FromWide(key) + ": " + ErrorText(static_cast<DWORD>(status));
    return false;
  }
  return true;
}

}  // namespace lk
