#include "system/win/WindowsFileStore.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <utility>
#include <vector>

#include "system/win/FolderSecurity.h"
#include "system/win/PendingRenames.h"
#include "system/win/RegistryValueData.h"
#include "system/win/UniqueHandle.h"
#include "win32/Utf.h"

namespace lk {

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

// Full control for the administrators and the system, for the folder and everything created in
// it, nothing inherited from the parent. The owner part is dropped where the caller may not give
// the folder away (ERROR_INVALID_OWNER).
constexpr wchar_t kPrivateFolderWithOwner[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr wchar_t kPrivateFolder[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// The attributes SetFileAttributesW sets; the others need calls of their own.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The folder a path names its last part in, with a backslash after a bare drive ("C:\").
std::wstring ContainingFolder(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return L".";
  std::wstring folder = path.substr(0, separator);
  if (folder.empty() || folder.back() == L':') folder.push_back(L'\\');
  return folder;
}

FILETIME ToFileTime(std::int64_t ticks) {
  const auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFU), static_cast<DWORD>(value >> 32)};
}

// A new file of WindowsFileStore: written in chunks a DWORD can count, flushed by Finish.
class WindowsWritableFile final : public WritableFile {
 public:
  explicit WindowsWritableFile(UniqueFile file) : file_(std::move(file)) {}

  std::uint32_t Write(const void* data, std::size_t length) override {
    if (!file_) return ERROR_INVALID_HANDLE;
    const auto* bytes = static_cast<const BYTE*>(data);
    constexpr std::size_t kChunk = 1U << 30;
    while (length > 0) {
      const auto chunk = static_cast<DWORD>(length < kChunk ? length : kChunk);
      DWORD written = 0;
      if (!WriteFile(file_.Get(), bytes, chunk, &written, nullptr)) return GetLastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      bytes += written;
      length -= written;
    }
    return 0;
  }

  std::uint32_t Finish() override {
    if (!file_) return ERROR_INVALID_HANDLE;
    // Closed here whatever the flush says, so the error of each call can be told.
    const HANDLE handle = file_.Release();
    const bool flushed = FlushFileBuffers(handle) != FALSE;
    const DWORD flushError = flushed ? 0 : GetLastError();
    const bool closed = CloseHandle(handle) != FALSE;
    if (!flushed) return flushError;
    return closed ? 0 : GetLastError();
  }

 private:
  UniqueFile file_;
};

}  // namespace

namespace {

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The SID of the user the process runs as; empty when the token does not tell.
std::vector<BYTE> ProcessUserSid() {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return {};
  DWORD size = 0;
  static_cast<void>(GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size));
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const auto* first = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(first, first + GetLengthSid(sid));
}

}  // namespace

WindowsFileStore::WindowsFileStore() {
  if (RunningUnderWine()) wineUser_ = ProcessUserSid();
}

bool WindowsFileStore::KeepsAccessRules(std::string_view) { return wineUser_.empty(); }

FolderTrust WindowsFileStore::CheckPrivateDirectory(std::string_view path) {
  const std::wstring widePath = WideFromUtf8(path);
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FolderTrust::Missing
                                                                          : FolderTrust::Unreadable;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderTrust::ReparsePoint;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderTrust::NotADirectory;

  // The folder itself, not what a reparse point swapped in since would lead to; its attributes
  // are asked again through the handle that is judged.
  const UniqueFile folder(
      CreateFileW(widePath.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return FolderTrust::Unreadable;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(folder.Get(), &information)) return FolderTrust::Unreadable;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderTrust::ReparsePoint;
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return FolderTrust::NotADirectory;
  }

  PSID owner = nullptr;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder.Get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &acl,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return FolderTrust::Unreadable;
  }
  const UniqueLocalMemory descriptorOwner(descriptor);
  return JudgeFolderSecurity(owner, acl, wineUser_.empty() ? nullptr : wineUser_.data());
}

std::uint32_t WindowsFileStore::CreatePrivateDirectory(std::string_view path) {
  const std::wstring widePath = WideFromUtf8(path);
  for (const wchar_t* rules : {kPrivateFolderWithOwner, kPrivateFolder}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      return GetLastError();
    }
    const UniqueLocalMemory descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    if (CreateDirectoryW(widePath.c_str(), &security)) return 0;
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_OWNER) return error;
  }
  return ERROR_INVALID_OWNER;
}

std::unique_ptr<WritableFile> WindowsFileStore::CreateNewFile(std::string_view path,
                                                              std::uint32_t* error) {
  const std::wstring widePath = WideFromUtf8(path);
  auto fail = [error](DWORD code) -> std::unique_ptr<WritableFile> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  const DWORD folderAttributes = GetFileAttributesW(ContainingFolder(widePath).c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) {
    // The folder is the last part of the name asked about here, so its absence comes back as a
    // missing file; for the new file it is a missing path, as CreateFileW itself would say.
    const DWORD folderError = GetLastError();
    return fail(folderError == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : folderError);
  }
  if (folderAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return fail(ERROR_CANT_ACCESS_FILE);
  // Readers may look while it is written; no one else may write or delete it meanwhile. The
  // folder's inherited access list applies.
  UniqueFile file(CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return fail(GetLastError());
  if (error != nullptr) *error = 0;
  return std::make_unique<WindowsWritableFile>(std::move(file));
}

std::uint32_t WindowsFileStore::FindFile(std::string_view path) {
  const std::wstring widePath = WideFromUtf8(path);
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 0 : ERROR_FILE_NOT_FOUND;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
      error == ERROR_INVALID_NAME) {
    return error;
  }
  // A file the system holds locked (a paging file, say) may refuse its attributes but still
  // shows in its directory.
  WIN32_FIND_DATAW found{};
  const UniqueFind search(FindFirstFileW(widePath.c_str(), &found));
  if (!search) return GetLastError();
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 0 : ERROR_FILE_NOT_FOUND;
}

std::uint32_t WindowsFileStore::DeleteFile(std::string_view path) {
  return ::DeleteFileW(WideFromUtf8(path).c_str()) ? 0 : GetLastError();
}

std::uint32_t WindowsFileStore::DeleteFileAtRestart(std::string_view path) {
  return MoveFileExW(WideFromUtf8(path).c_str(), nullptr,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)
             ? 0
             : GetLastError();
}

std::uint32_t WindowsFileStore::CancelDeleteAtRestart(std::string_view path) {
  UniqueRegistryKey sessionManager;
  if (const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, sessionManager.Put());
      status != ERROR_SUCCESS) {
    return static_cast<std::uint32_t>(status);
  }
  DWORD type = REG_NONE;
  std::vector<BYTE> stored;
  if (const LSTATUS status =
          QueryRegistryValue(sessionManager.Get(), kPendingRenamesValue, type, stored);
      status != ERROR_SUCCESS) {
    return static_cast<std::uint32_t>(status);
  }
  PendingRenames renames(std::move(stored));
  if (type != REG_MULTI_SZ || !renames.RemoveDeletionsOf(NtPathOf(WideFromUtf8(path)))) {
    return ERROR_FILE_NOT_FOUND;
  }
  // The system deletes the value once it has carried the requests out; an empty list is the
  // same state.
  const std::vector<BYTE>& remaining = renames.Data();
  const LSTATUS status =
      renames.IsEmpty()
          ? RegDeleteValueW(sessionManager.Get(), kPendingRenamesValue)
          : RegSetValueExW(sessionManager.Get(), kPendingRenamesValue, 0, REG_MULTI_SZ,
                           remaining.data(), static_cast<DWORD>(remaining.size()));
  return static_cast<std::uint32_t>(status);
}

std::uint32_t WindowsFileStore::SetFileMetadata(std::string_view path, std::uint32_t attributes,
                                                std::int64_t creationTime,
                                                std::int64_t lastAccessTime,
                                                std::int64_t lastWriteTime) {
  const std::wstring widePath = WideFromUtf8(path);
  {
    const UniqueFile file(
        CreateFileW(widePath.c_str(), FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return GetLastError();
    const FILETIME creation = ToFileTime(creationTime);
    const FILETIME lastAccess = ToFileTime(lastAccessTime);
    const FILETIME lastWrite = ToFileTime(lastWriteTime);
    // A null time leaves that time as it is.
    if (!SetFileTime(file.Get(), creationTime != 0 ? &creation : nullptr,
                     lastAccessTime != 0 ? &lastAccess : nullptr,
                     lastWriteTime != 0 ? &lastWrite : nullptr)) {
      return GetLastError();
    }
  }
  DWORD settable = attributes & kSettableAttributes;
  if (settable == 0) settable = FILE_ATTRIBUTE_NORMAL;
  // FILE_ATTRIBUTE_NORMAL is valid only alone.
  if (settable != FILE_ATTRIBUTE_NORMAL) settable &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  return SetFileAttributesW(widePath.c_str(), settable) ? 0 : GetLastError();
}

}  // namespace lk
