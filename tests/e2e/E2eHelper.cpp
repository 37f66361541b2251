// The Windows side of the end-to-end runner (tests/e2e/wine_runner.py drives everything from
// Linux; this program only does what needs the Win32 API inside the prefix):
//
//   lke2e drive SETTINGS     plays the user of AntiLauschkobold.exe: starts it, presses the start
//                            button, answers the dialogs, presses cancel when told, and writes
//                            what it sees (report entries, dialogs, clipboard) line by line
//   lke2e state SPEC OUT     reads the registry keys, files and services that SPEC names, and the
//                            pending deletions, into OUT
//   lke2e hold READY PATH... keeps the files open (no delete sharing) until it is ended; writes
//                            READY once they are open
//   lke2e service accept|refuse|ignore|hang  a service process and its answer to the stop
//                            control
//   lke2e probe DEVICE       exit 0 when the device can be opened
//
// Output lines are tab-separated; every text is hex of its UTF-8 bytes, so that the Linux side
// needs no quoting rules. The restart ends this process together with the program, so every line
// is flushed when written and the state is snapshotted before each dialog is answered.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/AnalysisTexts.h"
#include "markup/Markup.h"
#include "system/win/FsRedirection.h"
#include "system/win/UniqueHandle.h"
#include "tests/ui/GuiDriver.h"
#include "ui/ControlIds.h"
#include "ui/controls/PictureBox.h"

namespace {

using namespace std::chrono_literals;
namespace gui = lk::ui::testing;

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
  return text;
}

std::string Hex(const void* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string Hex(std::string_view text) { return Hex(text.data(), text.size()); }

std::string Unhex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '\t')) fields.push_back(field);
  return fields;
}

// Appends lines to a file and flushes each one: the process may end at any moment.
class LineWriter {
 public:
  explicit LineWriter(const std::wstring& path) : file_(_wfopen(path.c_str(), L"ab")) {}
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;
  ~LineWriter() {
    if (file_ != nullptr) fclose(file_);
  }
  void Write(const std::string& line) {
    if (file_ == nullptr) return;
    fwrite(line.data(), 1, line.size(), file_);
    fputc('\n', file_);
    fflush(file_);
  }

 private:
  FILE* file_;
};

// ---------------------------------------------------------------------------------------------
// State reader

// The 64-bit view of the registry (KEY_WOW64_64KEY below) and the native system directory (the
// redirection switched off for the scope of a NativeFiles), also for a 32-bit build on 64-bit
// Windows, because the scenario names native places.
using NativeFiles = lk::UniqueFsRedirection;

void ReadKey(const std::wstring& path, std::size_t index, std::vector<std::string>& out) {
  lk::UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Put()) !=
      ERROR_SUCCESS) {
    out.push_back("key\t" + std::to_string(index) + "\t0");
    return;
  }
  out.push_back("key\t" + std::to_string(index) + "\t1");
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      break;
    }
    std::vector<unsigned char> data(size + 2);
    nameLength = 16384;
    DWORD dataSize = size;
    if (RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, data.data(), &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    out.push_back("value\t" + std::to_string(index) + "\t" + std::to_string(type) + "\t" +
                  Hex(Utf8(std::wstring(name, nameLength))) + "\t" + Hex(data.data(), dataSize));
  }
}

void ReadPending(std::vector<std::string>& out) {
  lk::UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_READ | KEY_WOW64_64KEY, key.Put()) != ERROR_SUCCESS) {
    return;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
      ERROR_SUCCESS) {
    std::vector<unsigned char> data(size + 2);
    if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, &type, data.data(),
                         &size) == ERROR_SUCCESS) {
      out.push_back("pending\t" + Hex(data.data(), size));
    }
  }
}

void ReadService(const std::wstring& name, std::vector<std::string>& out) {
  const std::string label = "service\t" + Hex(Utf8(name)) + "\t";
  const lk::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    out.push_back(label + "error\t" + std::to_string(GetLastError()));
    return;
  }
  const lk::UniqueServiceHandle service(
      OpenServiceW(manager.Get(), name.c_str(), SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG));
  if (!service) {
    out.push_back(label + "absent");
    return;
  }
  SERVICE_STATUS status{};
  QueryServiceStatus(service.Get(), &status);
  // Asked without changing anything: a configuration change with an invalid start type is
  // refused, with 1072 when the service is marked for deletion, else as invalid (87). (A valid
  // change, even one that changes nothing, rewrites the service's key.)
  constexpr DWORD kInvalidStartType = 0x7fff;
  const bool marked =
      !ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, kInvalidStartType, SERVICE_NO_CHANGE,
                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
      GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  out.push_back(label + std::to_string(status.dwCurrentState) + "\t" + (marked ? "1" : "0"));
}

// SPEC lines: "key\tPATH", "file\tPATH", "service\tNAME" (UTF-8).
std::vector<std::string> ReadState(const std::wstring& specPath) {
  std::vector<std::string> out;
  std::ifstream spec(specPath.c_str(), std::ios::binary);
  std::string line;
  std::size_t keys = 0;
  std::size_t files = 0;
  const NativeFiles native = lk::DisableFsRedirectionForScope();
  while (std::getline(spec, line)) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 2) continue;
    if (fields[0] == "key") {
      ReadKey(Wide(fields[1]), keys++, out);
    } else if (fields[0] == "file") {
      const DWORD attributes = GetFileAttributesW(Wide(fields[1]).c_str());
      out.push_back("file\t" + std::to_string(files++) + "\t" +
                    (attributes != INVALID_FILE_ATTRIBUTES ? "1" : "0"));
    } else if (fields[0] == "service") {
      ReadService(Wide(fields[1]), out);
    }
  }
  ReadPending(out);
  return out;
}

void WriteStateFile(const std::wstring& specPath, const std::wstring& outPath) {
  const std::wstring temporary = outPath + L".tmp";
  {
    DeleteFileW(temporary.c_str());
    LineWriter writer(temporary);
    for (const std::string& line : ReadState(specPath)) writer.Write(line);
    writer.Write("done");
  }
  MoveFileExW(temporary.c_str(), outPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// ---------------------------------------------------------------------------------------------
// The user

// The dialog shows its message as plain text (the markup is rendered). The transcript names the
// text the program passed, so the plain text is matched against the program's message texts;
// a text that matches none is written as it is read, and the comparison shows the difference.
std::string MarkupFor(const std::string& plain) {
  namespace t = lk::texts;
  auto plainOf = [](std::string_view markup) {
    return lk::markup::PlainText(lk::markup::Parse(markup));
  };
  std::vector<std::string> fixed = {
      std::string(t::kSweepQuestion),
      "<b>" + std::string(t::kVerdictCleanHeadline) + "</b><br><br>" +
          std::string(t::kVerdictCleanNotice),
      std::string(t::kVerdictPartsFound),
      std::string(t::kVerdictClearSigns),
      std::string(t::kRestartRecommended),
      std::string(t::kSweepNothingFound),
      std::string(t::kDeviceWithoutDriver),
      std::string(t::kClipboardNotice),
      std::string(t::kNotice64BitBegin) + "<a href=\"" + std::string(t::kProductPageUrl) + "\">" +
          std::string(t::kPublisherLinkText) + "</a>" + std::string(t::kNotice64BitEnd),
  };
  for (const std::string& markup : fixed) {
    if (plainOf(markup) == plain) return markup;
  }
  // Texts that end in a part the program fills in: a list of paths, a system error message.
  for (std::string_view head : {t::kSuspiciousContent, t::kUninstallFailed}) {
    const std::string headPlain = plainOf(head);
    if (plain.compare(0, headPlain.size(), headPlain) == 0) {
      std::string markup = std::string(head) + plain.substr(headPlain.size());
      if (plainOf(markup) == plain) return markup;
    }
  }
  return plain;
}

// The dialog's icon control shows one image of the dialog's list (warning, information,
// critical, question: the icon number minus one) and has no text. Its index is read from the
// control's object in the program's memory: the window's user data points to the object, and
// the index is its last member. Layout changes make the check below fail rather than lie.
int DialogIcon(HWND dialog) {
  HWND icon = gui::Control(dialog, lk::ui::kIdDialogIcon);
  if (icon == nullptr) return -1;
  if (!gui::IsShown(icon)) return 0;
  const auto object = static_cast<std::uintptr_t>(GetWindowLongPtrW(icon, GWLP_USERDATA));
  DWORD processId = 0;
  GetWindowThreadProcessId(icon, &processId);
  const lk::UniqueKernelHandle process(OpenProcess(PROCESS_VM_READ, FALSE, processId));
  if (!process || object == 0) return -1;
  constexpr std::size_t kSize = sizeof(lk::ui::PictureBox);
  constexpr std::size_t kIndexOffset = kSize - alignof(lk::ui::PictureBox);
  constexpr std::size_t kImagesOffset = kIndexOffset - sizeof(HIMAGELIST);
  unsigned char bytes[kSize] = {};
  SIZE_T got = 0;
  const bool read = ReadProcessMemory(process.Get(), reinterpret_cast<const void*>(object), bytes,
                                      kSize, &got) != FALSE &&
                    got == kSize;
  if (!read) return -1;
  HIMAGELIST images = nullptr;
  int index = -1;
  std::memcpy(&images, bytes + kImagesOffset, sizeof images);
  std::memcpy(&index, bytes + kIndexOffset, sizeof index);
  if (images == nullptr || index < 0 || index > 3) return -1;
  return index + 1;
}

std::wstring ClipboardText() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (OpenClipboard(nullptr)) {
      std::wstring text;
      if (HANDLE data = GetClipboardData(CF_UNICODETEXT); data != nullptr) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data)); chars != nullptr) {
          text = chars;
          GlobalUnlock(data);
        }
      }
      CloseClipboard();
      return text;
    }
    std::this_thread::sleep_for(50ms);
  }
  return {};
}

struct DriveSettings {
  std::wstring program;
  std::wstring out;
  std::wstring shots;       // folder for the screenshots (Windows path), may be empty
  std::wstring stateSpec;   // state to read at the end and before each dialog
  std::wstring snapshot;    // where the state before each dialog goes
  std::wstring finalState;  // where the state after the program's end goes
  std::vector<std::string> answers;
  std::string cancelAfterEntry;  // press cancel once this entry (caption) shows
  int timeoutSeconds = 240;
};

// SETTINGS lines: "program\tPATH", "out\tPATH", "shots\tPATH", "spec\tPATH", "snapshot\tPATH",
// "final\tPATH", "answer\tYes", "cancelafter\tHEXCAPTION", "timeout\tSECONDS".
DriveSettings ReadSettings(const std::wstring& path) {
  DriveSettings settings;
  std::ifstream file(path.c_str(), std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() != 2) continue;
    if (f[0] == "program")
      settings.program = Wide(f[1]);
    else if (f[0] == "out")
      settings.out = Wide(f[1]);
    else if (f[0] == "shots")
      settings.shots = Wide(f[1]);
    else if (f[0] == "spec")
      settings.stateSpec = Wide(f[1]);
    else if (f[0] == "snapshot")
      settings.snapshot = Wide(f[1]);
    else if (f[0] == "final")
      settings.finalState = Wide(f[1]);
    else if (f[0] == "answer")
      settings.answers.push_back(f[1]);
    else if (f[0] == "cancelafter")
      settings.cancelAfterEntry = Unhex(f[1]);
    else if (f[0] == "timeout")
      settings.timeoutSeconds = std::stoi(f[1]);
  }
  return settings;
}

class User {
 public:
  explicit User(DriveSettings settings) : s_(std::move(settings)), out_(s_.out) {}

  int Play() {
    gui::ProgramProcess program(s_.program);
    if (!program.Started()) return Fail("the program could not be started");
    // On a 64-bit Windows the main window stays hidden until the notice is confirmed, so it is
    // looked for whether shown or not; Settle answers the notice.
    gui::WaitUntil(
        [&] {
          main_ = gui::FindTopLevel(lk::ui::kMainWindowClass, program.Id(), false);
          return main_ != nullptr;
        },
        30s);
    if (main_ == nullptr) return Fail("the main window did not appear");
    clipboard_ = ClipboardText();
    // Window creation may already show a dialog (the 64-bit notice) and write an entry.
    if (!Settle(program, 3s)) return Fail("the window did not become idle");
    // The run empties the list before its first entry; until then, what is there (the 64-bit
    // note) has been read already.
    if (entriesSeen_ > 0) firstBeforeRun_ = Utf8(gui::ListItemText(list_, 0));
    gui::Click(gui::Control(main_, lk::ui::kIdStartAnalyze));
    out_.Write("started");

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(s_.timeoutSeconds);
    bool runStarted = false;
    for (;;) {
      if (program.HasExited()) {
        ReadEntries();
        out_.Write("exited");
        return 0;
      }
      HWND dialog = gui::FindTopLevel(lk::ui::kDialogClass, program.Id());
      ReadEntries();
      if (dialog != nullptr) {
        runStarted = true;
        Answer(dialog);
        continue;
      }
      if (gui::IsShown(cancel_))
        runStarted = true;
      else if (runStarted)
        break;
      if (std::chrono::steady_clock::now() > deadline) return Fail("the run did not end in time");
      std::this_thread::sleep_for(15ms);
    }
    std::this_thread::sleep_for(300ms);
    ReadEntries();
    CheckClipboard();
    // The list does not follow its newest entry; scroll to the end as a user would.
    const int count = gui::ListCount(list_);
    if (count > 0) {
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(list_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE,
                          SMTO_ABORTIFHUNG, 2000, &ignored);
      std::this_thread::sleep_for(200ms);
    }
    Shot(L"final-report");
    out_.Write("runended");
    PostMessageW(main_, WM_CLOSE, 0, 0);
    if (!program.WaitForExit(30s)) return Fail("the program did not end after the close request");
    if (!s_.finalState.empty()) WriteStateFile(s_.stateSpec, s_.finalState);
    out_.Write("end");
    return 0;
  }

 private:
  int Fail(const std::string& why) {
    out_.Write("fail\t" + Hex(why));
    return 1;
  }

  // Answers whatever dialogs window creation shows until the window stands still.
  bool Settle(gui::ProgramProcess& program, std::chrono::milliseconds quiet) {
    auto lastActivity = std::chrono::steady_clock::now();
    const auto deadline = lastActivity + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (program.HasExited()) return false;
      if (HWND dialog = gui::FindTopLevel(lk::ui::kDialogClass, program.Id()); dialog != nullptr) {
        ReadEntries();
        Answer(dialog);
        lastActivity = std::chrono::steady_clock::now();
        continue;
      }
      if (!IsWindowVisible(main_)) {
        lastActivity = std::chrono::steady_clock::now();  // still being created
      } else if (std::chrono::steady_clock::now() - lastActivity > quiet) {
        ReadEntries();
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // The main window is found while it is still being created (behind the 64-bit notice), when
  // its controls may not exist yet; so they are looked up whenever they are needed.
  void FindControls() {
    if (list_ == nullptr) list_ = gui::Control(main_, lk::ui::kIdReport);
    if (cancel_ == nullptr) cancel_ = gui::Control(main_, lk::ui::kIdAbbruch);
  }

  void ReadEntries() {
    FindControls();
    const int count = gui::ListCount(list_);
    // The run emptied the list: seen as fewer entries, or, when it has written as many again
    // since the last look, as another first entry.
    if (count < entriesSeen_ ||
        (firstBeforeRun_ && count > 0 && Utf8(gui::ListItemText(list_, 0)) != *firstBeforeRun_)) {
      entriesSeen_ = 0;
      firstBeforeRun_.reset();
    }
    for (; entriesSeen_ < count; ++entriesSeen_) {
      const std::string caption = Utf8(gui::ListItemText(list_, entriesSeen_));
      const int image = gui::ListItemImage(list_, entriesSeen_);
      out_.Write("entry\t" + std::to_string(image) + "\t" + Hex(caption));
      if (!cancelPressed_ && !s_.cancelAfterEntry.empty() && caption == s_.cancelAfterEntry) {
        gui::Click(cancel_);
        cancelPressed_ = true;
        out_.Write("cancelpressed");
      }
    }
  }

  void CheckClipboard() {
    const std::wstring now = ClipboardText();
    if (now != clipboard_) {
      clipboard_ = now;
      out_.Write("clipboard\t" + Hex(Utf8(now)));
    }
  }

  void Shot(const std::wstring& name) {
    if (s_.shots.empty()) return;
    const std::wstring path = s_.shots + L"\\" + name + L".png";
    gui::Screenshot(GetDesktopWindow(), path);
  }

  void Answer(HWND dialog) {
    // The texts are set before the dialog shows; wait for its painting before the picture.
    std::this_thread::sleep_for(150ms);
    CheckClipboard();
    const std::string title = Utf8(gui::TextOf(gui::Control(dialog, lk::ui::kIdDialogTitle)));
    const std::string text =
        MarkupFor(Utf8(gui::TextOf(gui::Control(dialog, lk::ui::kIdDialogMessage))));
    int buttons = 0;
    const int ids[4] = {lk::ui::kIdYes, lk::ui::kIdNo, lk::ui::kIdOk, lk::ui::kIdCancel};
    for (int i = 0; i < 4; ++i) {
      if (gui::IsShown(gui::Control(dialog, ids[i]))) buttons |= 1 << i;
    }
    const int icon = DialogIcon(dialog);
    ++dialogs_;
    Shot(L"dialog-" + std::to_wstring(dialogs_));
    // The state as it is before the answer: a restart answered here ends this process too.
    if (!s_.snapshot.empty()) WriteStateFile(s_.stateSpec, s_.snapshot);

    std::string answer;
    if (nextAnswer_ < s_.answers.size())
      answer = s_.answers[nextAnswer_++];
    else
      answer = (buttons & 2) != 0 ? "No" : "Ok";
    int result = 2;
    int button = 0;
    if (answer == "Yes") {
      result = 6;
      button = lk::ui::kIdYes;
    } else if (answer == "No") {
      result = 7;
      button = lk::ui::kIdNo;
    } else if (answer == "Ok") {
      result = 1;
      button = lk::ui::kIdOk;
    }
    // Written before the answer: it may restart the machine and end this process at once.
    out_.Write("dialog\t" + std::to_string(icon) + "\t" + std::to_string(buttons) + "\t" +
               std::to_string(result) + "\t" + Hex(title) + "\t" + Hex(text));
    if (button != 0)
      gui::Click(gui::Control(dialog, button));
    else
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    gui::WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 20s);
  }

  DriveSettings s_;
  LineWriter out_;
  HWND main_ = nullptr;
  HWND list_ = nullptr;
  HWND cancel_ = nullptr;
  int entriesSeen_ = 0;
  std::optional<std::string> firstBeforeRun_;
  int dialogs_ = 0;
  std::size_t nextAnswer_ = 0;
  bool cancelPressed_ = false;
  std::wstring clipboard_;
};

// ---------------------------------------------------------------------------------------------
// Fixtures

int Hold(const std::wstring& ready, const std::vector<std::wstring>& paths) {
  const NativeFiles native = lk::DisableFsRedirectionForScope();
  std::vector<lk::UniqueFile> handles;
  for (const std::wstring& path : paths) {
    // Read sharing only: the file can be read by others but not deleted, as a loaded module.
    lk::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) return 1;
    handles.push_back(std::move(file));
  }
  { LineWriter(ready).Write("ready"); }
  for (;;) Sleep(INFINITE);
}

SERVICE_STATUS_HANDLE g_status = nullptr;
SERVICE_STATUS g_state{};

// How the service answers the stop control: "accept" stops, "refuse" rejects it (1052),
// "ignore" takes it and keeps running, "hang" takes it and stays stop-pending.
std::wstring g_onStop;
lk::UniqueKernelHandle g_stopped;

DWORD WINAPI ServiceHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_INTERROGATE) {
    SetServiceStatus(g_status, &g_state);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_STOP && g_onStop != L"refuse") {
    if (g_onStop == L"hang") g_state.dwCurrentState = SERVICE_STOP_PENDING;
    if (g_onStop == L"accept") g_state.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(g_status, &g_state);
    if (g_onStop == L"accept") SetEvent(g_stopped.Get());
    return NO_ERROR;
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_status = RegisterServiceCtrlHandlerExW(L"", ServiceHandler, nullptr);
  g_state.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_state.dwCurrentState = SERVICE_RUNNING;
  g_state.dwControlsAccepted = g_onStop == L"refuse" ? 0 : SERVICE_ACCEPT_STOP;
  SetServiceStatus(g_status, &g_state);
  // A refusing service lives on until it is ended (the restart ends it).
  WaitForSingleObject(g_stopped.Get(), INFINITE);
}

int RunService(const std::wstring& onStop) {
  g_onStop = onStop;
  g_stopped.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"drive" && argc == 3) {
    User user(ReadSettings(argv[2]));
    return user.Play();
  }
  if (command == L"state" && argc == 4) {
    WriteStateFile(argv[2], argv[3]);
    return 0;
  }
  if (command == L"hold" && argc >= 4) {
    return Hold(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
  }
  if (command == L"service" && argc == 3) return RunService(argv[2]);
  if (command == L"probe" && argc == 3) {
    const lk::UniqueFile device(CreateFileW(argv[2], 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return device ? 0 : 1;
  }
  fputws(
      L"usage: lke2e drive SETTINGS | state SPEC OUT | hold READY PATH... | service accept|refuse "
      L"| probe DEVICE\n",
      stderr);
  return 2;
}
