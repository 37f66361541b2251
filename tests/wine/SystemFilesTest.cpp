// The file operations WindowsSystemAccess hands out, and its device query, against the real file
// system, and DeleteFileAtRestart against the real PendingFileRenameOperations value.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/WindowsPath.h"
#include "system/win/UniqueHandle.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

class SystemFilesTest : public ::testing::Test {
 protected:
  WindowsSystemAccess system_;
  test::TemporaryDirectory folder_;
};

UniqueFile OpenHeld(const std::string& path, DWORD access, DWORD share) {
  return UniqueFile(CreateFileW(WideFromUtf8(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

using FilePresence = SystemFilesTest;

TEST_F(FilePresence, FileIsPresentAndDirectoryIsNot) {
  ASSERT_TRUE(test::WriteWholeFile(folder_ / "mfc42ul.dll", "MZ"));
  ASSERT_TRUE(CreateDirectoryW(WideFromUtf8(folder_ / "Drivers").c_str(), nullptr));
  EXPECT_EQ(system_.SystemFiles().FindFile(folder_ / "mfc42ul.dll"), 0U);
  EXPECT_EQ(system_.SystemFiles().FindFile(folder_ / "MFC42UL.DLL"), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(folder_ / "Drivers"), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(folder_.Path()), 0U);
}

TEST_F(FilePresence, MissingFileMissingFolderAndBadNameAreAbsent) {
  EXPECT_NE(system_.SystemFiles().FindFile(folder_ / "winsys32.sys"), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(folder_ / "NoFolder\\winsys32.sys"), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(folder_ / "bad<name>.sys"), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(""), 0U);
}

TEST_F(FilePresence, PatternIsNotAFile) {
  ASSERT_TRUE(test::WriteWholeFile(folder_ / "a.sys", "x"));
  EXPECT_NE(system_.SystemFiles().FindFile(folder_ / "*.sys"), 0U);
}

TEST_F(FilePresence, FileHeldOpenExclusivelyIsPresent) {
  ASSERT_TRUE(test::WriteWholeFile(folder_ / "locked.sys", "x"));
  const UniqueFile held = OpenHeld(folder_ / "locked.sys", GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_TRUE(held);
  EXPECT_EQ(system_.SystemFiles().FindFile(folder_ / "locked.sys"), 0U);
}

TEST_F(FilePresence, NameOutsideAnsiCodePageIsFound) {
  const std::string path = folder_ / "lk-Ж😀.dll";
  ASSERT_TRUE(test::WriteWholeFile(path, "MZ"));
  EXPECT_EQ(system_.SystemFiles().FindFile(path), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(folder_ / "lk-Ж.dll"), 0U);
}

using FileDeletion = SystemFilesTest;

TEST_F(FileDeletion, DeletesFileNowAndReportsMissingOne) {
  const std::string path = folder_ / "lk-Ж😀.sys";
  ASSERT_TRUE(test::WriteWholeFile(path, "x"));
  EXPECT_EQ(system_.SystemFiles().DeleteFile(path), 0U);
  EXPECT_NE(system_.SystemFiles().FindFile(path), 0U);
  EXPECT_EQ(system_.SystemFiles().DeleteFile(path), win_error::kFileNotFound);
}

TEST_F(FileDeletion, FileInUseIsNotDeletedNow) {
  const std::string path = folder_ / "inuse.dll";
  ASSERT_TRUE(test::WriteWholeFile(path, "x"));
  {
    const UniqueFile held = OpenHeld(path, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(held);
    EXPECT_EQ(system_.SystemFiles().DeleteFile(path), win_error::kSharingViolation);
  }
  EXPECT_EQ(system_.SystemFiles().FindFile(path), 0U);
}

// The entries of PendingFileRenameOperations: pairs of source and target, NUL-separated.
std::vector<std::wstring> PendingRenames() {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
    return {};
  }
  DWORD size = 0;
  if (RegQueryValueExW(key.Get(), kPendingRenames, nullptr, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
  RegQueryValueExW(key.Get(), kPendingRenames, nullptr, nullptr,
                   reinterpret_cast<BYTE*>(data.data()), &size);
  std::vector<std::wstring> entries;
  const std::size_t count = size / sizeof(wchar_t);
  for (std::size_t start = 0; start < count;) {
    const std::wstring entry(data.data() + start);
    entries.push_back(entry);
    start += entry.size() + 1;
  }
  // The list ends with an extra NUL, read above as one empty entry too many.
  if (entries.size() % 2 == 1 && entries.back().empty()) entries.pop_back();
  return entries;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Takes the requests for paths containing marker out of the value again.
void RemovePendingRenames(const std::wstring& marker) {
  std::vector<std::wstring> entries = PendingRenames();
  std::wstring kept;
  for (std::size_t i = 0; i + 1 < entries.size(); i += 2) {
    if (entries[i].find(marker) != std::wstring::npos) continue;
    kept += entries[i] + L'\0' + entries[i + 1] + L'\0';
  }
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, key.Put()) !=
      ERROR_SUCCESS) {
    return;
  }
  if (kept.empty()) {
    RegDeleteValueW(key.Get(), kPendingRenames);
  } else {
    kept += L'\0';
    RegSetValueExW(key.Get(), kPendingRenames, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  }
}

TEST_F(FileDeletion, DeletionAtRestartIsRecordedAsPendingRename) {
  const std::string path = folder_ / "lk-Ж-winsys32.sys";
  ASSERT_TRUE(test::WriteWholeFile(path, "x"));
  const std::wstring marker = WideFromUtf8(folder_.Path());
  ASSERT_EQ(system_.SystemFiles().DeleteFileAtRestart(path), 0U);
  const std::vector<std::wstring> entries = PendingRenames();
  RemovePendingRenames(marker);

  bool recorded = false;
  for (std::size_t i = 0; i + 1 < entries.size(); i += 2) {
    if (SameText(entries[i], L"\\??\\" + WideFromUtf8(path))) {
      recorded = true;
      EXPECT_EQ(entries[i + 1], L"") << "the request must delete, not rename";
    }
  }
  EXPECT_TRUE(recorded);
  EXPECT_EQ(system_.SystemFiles().FindFile(path), 0U) << "the file stays until the restart";
}

// Raw access to PendingFileRenameOperations for the withdrawal tests: the value as it was is put
// aside and restored afterwards, so each test starts from a list of its own making.
class PendingRenameWithdrawal : public SystemFilesTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, key_.Put()),
              ERROR_SUCCESS);
    saved_ = Stored();
    RegDeleteValueW(key_.Get(), kPendingRenames);
  }
  void TearDown() override {
    if (saved_) {
      Store(*saved_);
    } else {
      RegDeleteValueW(key_.Get(), kPendingRenames);
    }
  }

  // The value's bytes; nothing when it does not exist.
  std::optional<std::string> Stored() {
    DWORD size = 0;
    if (RegQueryValueExW(key_.Get(), kPendingRenames, nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::string data(size, '\0');
    EXPECT_EQ(RegQueryValueExW(key_.Get(), kPendingRenames, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(data.data()), &size),
              ERROR_SUCCESS);
    data.resize(size);
    return data;
  }
  void Store(const std::string& data) {
    ASSERT_EQ(
        RegSetValueExW(key_.Get(), kPendingRenames, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
  }
  static std::string Bytes(std::wstring_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  }

  UniqueRegistryKey key_;
  std::optional<std::string> saved_;
};

TEST_F(PendingRenameWithdrawal, WithdrawnDeletionLeavesOtherRequestsByteForByte) {
  // Another program's requests: a rename that replaces, and a deletion of another file.
  std::wstring foreign;
  for (const wchar_t* text : {L"\\??\\C:\\lk-foreign\\a.tmp", L"!\\??\\C:\\lk-foreign\\b.dll",
                              L"\\??\\C:\\lk-foreign\\c.sys", L""}) {
    foreign.append(text).push_back(L'\0');
  }
  foreign.push_back(L'\0');
  Store(Bytes(foreign));
  const std::string path = folder_ / "lk-Ж-winsys32.sys";
  ASSERT_EQ(system_.SystemFiles().DeleteFileAtRestart(path), 0U);
  ASSERT_NE(Stored(), Bytes(foreign));

  // Another spelling of the same path: case and separators.
  std::string spelling = path;
  std::transform(spelling.begin(), spelling.end(), spelling.begin(), [](char c) {
    return c == '\\' ? '/' : c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  EXPECT_EQ(system_.SystemFiles().CancelDeleteAtRestart(spelling), 0U);
  EXPECT_EQ(Stored(), Bytes(foreign));
}

TEST_F(PendingRenameWithdrawal, LastWithdrawnDeletionRemovesTheValue) {
  const std::string path = folder_ / "mfc42ul.dll";
  ASSERT_EQ(system_.SystemFiles().DeleteFileAtRestart(path), 0U);
  ASSERT_EQ(system_.SystemFiles().DeleteFileAtRestart(path), 0U);
  EXPECT_EQ(system_.SystemFiles().CancelDeleteAtRestart(path), 0U);
  EXPECT_EQ(Stored(), std::nullopt);
  EXPECT_EQ(system_.SystemFiles().CancelDeleteAtRestart(path), win_error::kFileNotFound);
}

TEST_F(PendingRenameWithdrawal, NothingPendingForThePathGives2) {
  const std::string path = folder_ / "winsys32.sys";
  EXPECT_EQ(system_.SystemFiles().CancelDeleteAtRestart(path), win_error::kFileNotFound);

  // A rename of the same file is no deletion, and stays.
  const std::wstring rename =
      L"\\??\\" + WideFromUtf8(path) + L'\0' + L"\\??\\C:\\lk-x.sys" + L'\0' + L'\0';
  Store(Bytes(rename));
  EXPECT_EQ(system_.SystemFiles().CancelDeleteAtRestart(path), win_error::kFileNotFound);
  EXPECT_EQ(Stored(), Bytes(rename));
}

using ProgramDataDirectory = SystemFilesTest;

TEST_F(ProgramDataDirectory, IsAnExistingFolderWithoutTrailingBackslash) {
  const std::string directory = system_.QueryProgramDataDirectory();
  ASSERT_GE(directory.size(), 4u);
  EXPECT_NE(directory.back(), '\\');
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(directory).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(SameText(WideFromUtf8(FileNamePart(directory)), L"ProgramData")) << directory;
}

using SystemDirectory = SystemFilesTest;

TEST_F(SystemDirectory, IsTheSystem32FolderWithoutTrailingBackslash) {
  const std::string directory = system_.QuerySystemDirectory();
  ASSERT_GE(directory.size(), 4u);
  EXPECT_NE(directory.back(), '\\');
  const std::wstring wide = WideFromUtf8(directory);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(system_.SystemFiles().FindFile(AppendBackslash(directory) + "kernel32.dll"), 0U);
}

using DeviceOpening = SystemFilesTest;

TEST_F(DeviceOpening, ExistingDeviceOrFileOpensAndMissingOneDoesNot) {
  ASSERT_TRUE(test::WriteWholeFile(folder_ / "plain.sys", "x"));
  EXPECT_TRUE(system_.DeviceCanBeOpened(folder_ / "plain.sys"));
  EXPECT_TRUE(system_.DeviceCanBeOpened("\\\\.\\NUL"));
  EXPECT_FALSE(system_.DeviceCanBeOpened("\\\\.\\KeyboardClassLkMissing"));
  EXPECT_FALSE(system_.DeviceCanBeOpened(folder_ / "missing.sys"));
}

}  // namespace
}  // namespace lk
