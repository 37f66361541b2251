// The Windows side of the planting test: starts a program and lets it reach its idle state.
//
//   lkplant window EXE        starts EXE, waits until its main window exists and the program
//                             waits for input, then closes it. Exit 0 when the window came.
//   lkplant run EXE [ARGS]    starts EXE with the arguments and waits for its end. Exit 0 when
//                             it ended (its own exit code is printed).
// Exit 2 on a usage error, 3 when the program could not be started, did not get there in time
// or ended before its window came.
#include <windows.h>

#include <cstdio>
#include <string>

#include "system/win/UniqueHandle.h"
#include "ui/ControlIds.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;

std::wstring Quoted(const wchar_t* argument) { return std::wstring(L"\"") + argument + L"\""; }

struct Started {
  lk::UniqueKernelHandle process;
  DWORD id = 0;
};

Started Start(int argc, wchar_t** argv, int first) {
  std::wstring commandLine = Quoted(argv[first]);
  for (int i = first + 1; i < argc; ++i) commandLine += L" " + Quoted(argv[i]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(argv[first], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fwprintf(stderr, L"lkplant: cannot start %ls (error %lu)\n", argv[first], GetLastError());
    return {};
  }
  CloseHandle(info.hThread);
  return {lk::UniqueKernelHandle(info.hProcess), info.dwProcessId};
}

HWND MainWindowOf(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, lk::ui::kMainWindowClass, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId) return window;
  }
  return nullptr;
}

int RunWindow(int argc, wchar_t** argv) {
  const Started program = Start(argc, argv, 2);
  if (!program.process) return 3;
  HWND main = nullptr;
  for (DWORD waited = 0; main == nullptr; waited += 50) {
    if (WaitForSingleObject(program.process.Get(), 50) == WAIT_OBJECT_0) {
      std::fwprintf(stderr, L"lkplant: %ls ended before its main window came\n", argv[2]);
      return 3;
    }
    if (waited > kTimeoutMs) {
      std::fwprintf(stderr, L"lkplant: no main window of %ls\n", argv[2]);
      TerminateProcess(program.process.Get(), 99);
      return 3;
    }
    main = MainWindowOf(program.id);
  }
  WaitForInputIdle(program.process.Get(), kTimeoutMs);
  std::wprintf(L"main window up\n");
  PostMessageW(main, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(program.process.Get(), 20000) != WAIT_OBJECT_0) {
    TerminateProcess(program.process.Get(), 99);
  }
  return 0;
}

int RunToEnd(int argc, wchar_t** argv) {
  const Started program = Start(argc, argv, 2);
  if (!program.process) return 3;
  if (WaitForSingleObject(program.process.Get(), kTimeoutMs) != WAIT_OBJECT_0) {
    std::fwprintf(stderr, L"lkplant: %ls did not end\n", argv[2]);
    TerminateProcess(program.process.Get(), 99);
    return 3;
  }
  DWORD code = 0;
  GetExitCodeProcess(program.process.Get(), &code);
  std::wprintf(L"exit code %lu\n", code);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"window") return RunWindow(argc, argv);
  if (argc >= 3 && std::wstring(argv[1]) == L"run") return RunToEnd(argc, argv);
  std::fwprintf(stderr, L"usage: lkplant window EXE | lkplant run EXE [ARGS...]\n");
  return 2;
}
