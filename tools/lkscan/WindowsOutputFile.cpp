#include "tools/lkscan/WindowsOutputFile.h"

#include <windows.h>

#include <limits>

#include "system/win/SystemMessage.h"
#include "system/win/UniqueHandle.h"
#include "tools/ConsoleTexts.h"
#include "win32/Utf.h"

namespace lk {

namespace {

std::string ErrorText(DWORD code) {
  std::string text = SystemMessage(code);
  if (text.empty()) text = "Fehler " + std::to_string(code);
  return text;
}

// Owns the handle and the temporary name until the move has put the file in its place.
class WindowsOutputFile final : public OutputFile {
 public:
  WindowsOutputFile(std::string path, std::wstring temporary, UniqueFile file)
      : path_(std::move(path)), temporary_(std::move(temporary)), file_(std::move(file)) {}
  ~WindowsOutputFile() override {
    file_.Reset();
    if (!committed_) DeleteFileW(temporary_.c_str());
  }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty() && file_) {
      const DWORD chunk = bytes.size() > std::numeric_limits<DWORD>::max() / 2
                              ? std::numeric_limits<DWORD>::max() / 2
                              : static_cast<DWORD>(bytes.size());
      DWORD written = 0;
      if (!WriteFile(file_.Get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
        failure_ = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        return false;
      }
      bytes.remove_prefix(written);
    }
    return failure_ == 0 && file_;
  }

  bool Commit(std::string* error) override {
    if (failure_ != 0 || !file_) {
      *error = path_ + ": " + ErrorText(failure_ != 0 ? failure_ : ERROR_INVALID_HANDLE);
      return false;
    }
    if (!FlushFileBuffers(file_.Get())) {
      *error = path_ + ": " + ErrorText(GetLastError());
      return false;
    }
    file_.Reset();
    const std::wstring place = WideFromUtf8(path_);
    if (!MoveFileExW(temporary_.c_str(), place.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      *error = path_ + ": " + ErrorText(GetLastError());
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  std::string path_;
  std::wstring temporary_;
  UniqueFile file_;
  DWORD failure_ = 0;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<OutputFile> CreateWindowsOutputFile(const std::string& path, std::string* error) {
  if (path.empty() || path.back() == '\\' || path.back() == '/') {
    *error = console_texts::Fill(lkscan_texts::kNoFileName, {path});
    return nullptr;
  }
  const std::wstring base = WideFromUtf8(path) + L".tmp-" + std::to_wstring(GetCurrentProcessId());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring temporary = base + L"-" + std::to_wstring(attempt);
    UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      return std::make_unique<WindowsOutputFile>(path, std::move(temporary), std::move(file));
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      *error = path + ": " + ErrorText(code);
      return nullptr;
    }
  }
  *error = path + ": " + ErrorText(ERROR_FILE_EXISTS);
  return nullptr;
}

}  // namespace lk
