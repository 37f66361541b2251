// WindowsFileStore against the real file system and its access lists, in a temporary folder, and
// the rules that judge a folder's owner and access list (FolderSecurity.h) on descriptors made
// from SDDL.
//
// What Wine 8 keeps of a file's security: nothing but the Unix mode. It reports the user running
// the program (S-1-5-21-0-0-0-1000) as the owner of every file and folder, whatever owner it was
// given, and builds the access list from the mode bits (SYSTEM and that user for the owner's
// bits, Everyone for the others'); an access list given to CreateDirectoryW or SetSecurityInfo
// only sets those bits. So under Wine no folder is private (ForeignOwner), the access list a
// folder reports still shows whether others may change it, and nothing is inherited. Wine 8's
// CreateSymbolicLinkW reports success and creates nothing, and junctions cannot be made; the
// link test is skipped there. The tests below say where Wine differs.

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "system/SystemAccess.h"
#include "system/win/FolderSecurity.h"
#include "system/win/UniqueHandle.h"
#include "system/win/WindowsFileStore.h"
#include "system/win/WindowsFileSystem.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk {
namespace {

bool UnderWine() { return test::WinePrefixArchitecture().has_value(); }

// The SID of the user the test runs as.
std::vector<BYTE> UserSid() {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return {};
  std::vector<BYTE> buffer(1024);
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()),
                           &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const auto* first = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(first, first + GetLengthSid(sid));
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  const UniqueLocalMemory textOwner(text);
  return text;
}

// A security descriptor read from a file or made from SDDL, with its owner and access list.
struct Security {
  UniqueLocalMemory descriptor;
  PSID owner = nullptr;
  PACL acl = nullptr;

  static Security OfPath(const std::string& path) {
    Security security;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetNamedSecurityInfoW(WideFromUtf8(path).c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    &security.owner, nullptr, &security.acl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    security.descriptor.Reset(descriptor);
    return security;
  }
  static Security OfRules(const wchar_t* rules) {
    Security security;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    security.descriptor.Reset(descriptor);
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (descriptor != nullptr) {
      GetSecurityDescriptorOwner(descriptor, &security.owner, &defaulted);
      GetSecurityDescriptorDacl(descriptor, &present, &security.acl, &defaulted);
    }
    return security;
  }

  // The principals of the entries that allow any of the rights given.
  [[nodiscard]] std::vector<std::wstring> Allowed(ACCESS_MASK rights) const {
    std::vector<std::wstring> principals;
    for (DWORD index = 0; acl != nullptr && index < acl->AceCount; ++index) {
      void* entry = nullptr;
      if (!GetAce(acl, index, &entry)) break;
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
      if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Mask & rights) == 0) {
        continue;
      }
      principals.push_back(SidText(const_cast<DWORD*>(&allowed->SidStart)));
    }
    return principals;
  }
};

constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

class FileStoreTest : public ::testing::Test {
 protected:
  // Creates a folder with the access rules given in SDDL; false when the system refuses them.
  static bool CreateFolderWithRules(const std::string& path, const std::wstring& rules) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
      ADD_FAILURE() << "bad rules (error " << GetLastError() << ")";
      return false;
    }
    const UniqueLocalMemory owner(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    return CreateDirectoryW(WideFromUtf8(path).c_str(), &security) != FALSE;
  }

  static std::string ReadWholeFile(const std::string& path) {
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "(cannot open)";
    std::string content(1 << 16, '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr)) {
      return "(cannot read)";
    }
    content.resize(read);
    return content;
  }

  WindowsFileStore store_;
  test::TemporaryDirectory folder_;
};

// The rules, on descriptors as SDDL writes them.
TEST(FolderRules, OwnerMustBeTheAdministratorsTheSystemOrTrustedInstaller) {
  const struct {
    const wchar_t* rules;
    FolderTrust trust;
  } cases[] = {
      {L"O:BAD:P(A;OICI;FA;;;BA)", FolderTrust::Private},
      {L"O:SYD:P(A;OICI;FA;;;BA)", FolderTrust::Private},
      {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;OICI;FA;;;BA)",
       FolderTrust::Private},
      // An administrator's own account is not the administrators: its unelevated programs
      // carry the same SID.
      {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;BA)", FolderTrust::ForeignOwner},
      {L"O:BUD:P(A;OICI;FA;;;BA)", FolderTrust::ForeignOwner},
      // The owner is judged before the rules.
      {L"O:WDD:P(A;OICI;FA;;;WD)", FolderTrust::ForeignOwner},
      {L"D:P(A;OICI;FA;;;BA)", FolderTrust::Unreadable},
  };
  for (const auto& c : cases) {
    const Security security = Security::OfRules(c.rules);
    EXPECT_EQ(JudgeFolderSecurity(security.owner, security.acl), c.trust) << Utf8FromWide(c.rules);
  }
}

// Under Wine one user stands for the administrators: trusted as owner and in the rules, while
// everyone else still is not.
TEST(FolderRules, ASidTrustedBesidesTheAdministratorsCountsAsThem) {
  const Security user = Security::OfRules(L"O:S-1-5-21-1-2-3-1000");
  const PSID alsoTrusted = user.owner;
  const struct {
    const wchar_t* rules;
    FolderTrust trust;
  } cases[] = {
      {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;S-1-5-21-1-2-3-1000)(A;OICI;FA;;;SY)",
       FolderTrust::Private},
      {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;S-1-5-21-1-2-3-1000)(A;OICI;FA;;;WD)",
       FolderTrust::WritableByOthers},
      {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)", FolderTrust::ForeignOwner},
  };
  for (const auto& c : cases) {
    const Security security = Security::OfRules(c.rules);
    EXPECT_EQ(JudgeFolderSecurity(security.owner, security.acl, alsoTrusted), c.trust)
        << Utf8FromWide(c.rules);
  }
}

TEST(FolderRules, EntriesThatLetOthersChangeTheFolderOrItsFiles) {
  const struct {
    const wchar_t* rules;
    FolderTrust trust;
  } cases[] = {
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", FolderTrust::Private},
      {L"O:BAD:P(A;OICI;FA;;;WD)", FolderTrust::WritableByOthers},
      // Adding a file, adding a folder, deleting one, writing attributes, the rules or the owner.
      {L"O:BAD:P(A;;FA;;;BA)(A;;0x2;;;BU)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;;FA;;;BA)(A;;0x4;;;BU)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;;FA;;;BA)(A;;0x40;;;BU)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;;FA;;;BA)(A;;SD;;;BU)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;;FA;;;BA)(A;;0x100;;;BU)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;;FA;;;BA)(A;;WD;;;WD)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;;FA;;;BA)(A;;WO;;;AU)", FolderTrust::WritableByOthers},
      // What the users could do to the files created inside counts too.
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OIIO;GA;;;BU)", FolderTrust::WritableByOthers},
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OIIO;GW;;;BU)", FolderTrust::WritableByOthers},
      // An administrator's own account is another principal here too.
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1000)", FolderTrust::WritableByOthers},
      // Reading and listing for everyone, denials, TrustedInstaller and the creator of each
      // file inside (who can only be one of the trusted) leave it private.
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)(A;OICI;0x1200a9;;;BU)", FolderTrust::Private},
      {L"O:BAD:P(D;OICI;FA;;;WD)(A;OICI;FA;;;BA)", FolderTrust::Private},
      {L"O:BAD:P(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)",
       FolderTrust::Private},
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)", FolderTrust::Private},
      // No entry at all: nobody but the owner may do anything.
      {L"O:BAD:P", FolderTrust::Private},
  };
  for (const auto& c : cases) {
    const Security security = Security::OfRules(c.rules);
    EXPECT_EQ(JudgeFolderSecurity(security.owner, security.acl), c.trust) << Utf8FromWide(c.rules);
  }
  // No access list at all ("null DACL", which Wine's SDDL parser does not make) lets everyone
  // do everything.
  const Security administrators = Security::OfRules(L"O:BA");
  EXPECT_EQ(JudgeFolderSecurity(administrators.owner, nullptr), FolderTrust::WritableByOthers);
}

using PrivateFolders = FileStoreTest;

TEST_F(PrivateFolders, CreatedFolderIsPrivateAndCannotBeCreatedTwice) {
  const std::string path = folder_ / "Quarantäne";
  ASSERT_EQ(store_.CreatePrivateDirectory(path), 0U);
  // Wine gives every folder to the user running the program, who stands for the administrators
  // there; the store says that the Windows rules were not kept.
  const FolderTrust expected = FolderTrust::Private;
  EXPECT_EQ(store_.CheckPrivateDirectory(path), expected);
  EXPECT_EQ(store_.KeepsAccessRules(path), !UnderWine());
  const std::uint32_t again = store_.CreatePrivateDirectory(path);
  EXPECT_TRUE(again == ERROR_ALREADY_EXISTS || again == win_error::kFileExists) << again;
  EXPECT_EQ(store_.CheckPrivateDirectory(path), expected);
}

TEST_F(PrivateFolders, CreatedFolderGrantsTheAdministratorsAndTheSystemAlone) {
  const std::string path = folder_ / "q";
  ASSERT_EQ(store_.CreatePrivateDirectory(path), 0U);
  const Security security = Security::OfPath(path);
  ASSERT_NE(security.acl, nullptr);
  std::vector<std::wstring> everyone = security.Allowed(FILE_READ_DATA | kWriteRights);
  std::sort(everyone.begin(), everyone.end());
  if (UnderWine()) {
    // Wine turns the rules into the mode 0700: the owner's bits (SYSTEM and the user), none for
    // anyone else.
    std::vector<std::wstring> expected = {L"S-1-5-18", SidText(UserSid().data())};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(everyone, expected);
    return;
  }
  EXPECT_TRUE(IsWellKnownSid(security.owner, WinBuiltinAdministratorsSid))
      << "an elevated administrator may give the folder to the administrators";
  EXPECT_EQ(everyone, (std::vector<std::wstring>{L"S-1-5-18", L"S-1-5-32-544"}));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(security.descriptor.Get(), &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the parent's rules must not flow in";
  for (DWORD index = 0; index < security.acl->AceCount; ++index) {
    void* entry = nullptr;
    ASSERT_TRUE(GetAce(security.acl, index, &entry));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    EXPECT_EQ(allowed->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(allowed->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
  }
}

TEST_F(PrivateFolders, MissingFolderAndFile) {
  ASSERT_TRUE(test::WriteWholeFile(folder_ / "file", "x"));
  EXPECT_EQ(store_.CheckPrivateDirectory(folder_ / "missing"), FolderTrust::Missing);
  EXPECT_EQ(store_.CheckPrivateDirectory(folder_ / "no\\missing"), FolderTrust::Missing);
  EXPECT_EQ(store_.CheckPrivateDirectory(folder_ / "file"), FolderTrust::NotADirectory);
}

TEST_F(PrivateFolders, FolderEveryoneMayChangeIsNotPrivate) {
  const std::string path = folder_ / "open";
  ASSERT_TRUE(CreateFolderWithRules(path, L"O:BAD:P(A;OICI;FA;;;WD)")) << GetLastError();
  // Set again: Wine makes a new folder's mode through the umask, which takes the others'
  // write bit away again.
  const Security open = Security::OfRules(L"D:P(A;OICI;FA;;;WD)");
  ASSERT_EQ(SetNamedSecurityInfoW(WideFromUtf8(path).data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, open.acl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  if (UnderWine()) {
    // The rules Wine reports for it (mode 0777) give Everyone the right to change it.
    const Security security = Security::OfPath(path);
    const std::vector<std::wstring> writers = security.Allowed(kWriteRights);
    EXPECT_NE(std::find(writers.begin(), writers.end(), L"S-1-1-0"), writers.end());
  }
  EXPECT_EQ(store_.CheckPrivateDirectory(path), FolderTrust::WritableByOthers);
}

TEST_F(PrivateFolders, FolderOwnedByTheUserIsForeign) {
  const std::wstring user = SidText(UserSid().data());
  ASSERT_FALSE(user.empty());
  const std::string path = folder_ / "owned";
  ASSERT_TRUE(CreateFolderWithRules(path, L"O:" + user + L"D:P(A;OICI;FA;;;BA)"))
      << "error " << GetLastError();
  // Under Wine that user is the only one there is, and stands for the administrators.
  if (UnderWine()) {
    EXPECT_NE(store_.CheckPrivateDirectory(path), FolderTrust::ForeignOwner);
  } else {
    EXPECT_EQ(store_.CheckPrivateDirectory(path), FolderTrust::ForeignOwner);
  }
}

// A directory link to a folder is judged as the link it is, never as where it leads.
TEST_F(PrivateFolders, LinkToAFolderIsAReparsePoint) {
  const std::string target = folder_ / "target";
  ASSERT_EQ(store_.CreatePrivateDirectory(target), 0U);
  const std::string link = folder_ / "link";
  const bool made = CreateSymbolicLinkW(WideFromUtf8(link).c_str(), WideFromUtf8(target).c_str(),
                                        SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
  // Wine 8 answers success without making the link.
  if (!made || GetFileAttributesW(WideFromUtf8(link).c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no directory link can be made here";
  }
  EXPECT_EQ(store_.CheckPrivateDirectory(link), FolderTrust::ReparsePoint);
}

using NewFiles = FileStoreTest;

TEST_F(NewFiles, WrittenFileHoldsEveryByte) {
  const std::string path = folder_ / "winsys32.sys.Ж";
  std::uint32_t error = 1;
  std::unique_ptr<WritableFile> file = store_.CreateNewFile(path, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(error, 0U);
  std::string content(50000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  EXPECT_EQ(file->Write(content.data(), 20000), 0U);
  EXPECT_EQ(file->Write(content.data() + 20000, content.size() - 20000), 0U);
  EXPECT_EQ(file->Write(nullptr, 0), 0U);
  EXPECT_EQ(file->Finish(), 0U);
  EXPECT_EQ(ReadWholeFile(path), content);
  // Finished means closed.
  EXPECT_EQ(file->Write("x", 1), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(file->Finish(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST_F(NewFiles, ExistingNameIsNeverReplaced) {
  const std::string path = folder_ / "mfc42ul.dll";
  ASSERT_TRUE(test::WriteWholeFile(path, "original"));
  std::uint32_t error = 0;
  EXPECT_FALSE(store_.CreateNewFile(path, &error));
  EXPECT_EQ(error, win_error::kFileExists);
  EXPECT_EQ(ReadWholeFile(path), "original");
  ASSERT_TRUE(CreateDirectoryW(WideFromUtf8(folder_ / "folder").c_str(), nullptr));
  EXPECT_FALSE(store_.CreateNewFile(folder_ / "folder", &error));
  EXPECT_NE(error, 0U);
}

TEST_F(NewFiles, MissingFolderIsReported) {
  std::uint32_t error = 0;
  EXPECT_FALSE(store_.CreateNewFile(folder_ / "missing\\x.sys", &error));
  EXPECT_TRUE(error == win_error::kPathNotFound || error == win_error::kFileNotFound) << error;
}

TEST_F(NewFiles, FileWhileBeingWrittenMayBeReadButNotWritten) {
  const std::string path = folder_ / "held.bin";
  std::uint32_t error = 0;
  std::unique_ptr<WritableFile> file = store_.CreateNewFile(path, &error);
  ASSERT_TRUE(file);
  const std::wstring wide = WideFromUtf8(path);
  const UniqueFile reader(CreateFileW(wide.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
  EXPECT_TRUE(reader);
  const UniqueFile writer(CreateFileW(wide.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
  EXPECT_FALSE(writer);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(NewFiles, FileInAPrivateFolderInheritsItsRules) {
  const std::string quarantine = folder_ / "q";
  ASSERT_EQ(store_.CreatePrivateDirectory(quarantine), 0U);
  std::uint32_t error = 0;
  std::unique_ptr<WritableFile> file = store_.CreateNewFile(quarantine + "\\entry", &error);
  ASSERT_TRUE(file) << error;
  ASSERT_EQ(file->Finish(), 0U);
  const Security security = Security::OfPath(quarantine + "\\entry");
  std::vector<std::wstring> writers = security.Allowed(kWriteRights);
  std::sort(writers.begin(), writers.end());
  // Under Wine the file's mode decides: the owner's bits go to SYSTEM and the user.
  std::vector<std::wstring> expected = {L"S-1-5-18",
                                        UnderWine() ? SidText(UserSid().data()) : L"S-1-5-32-544"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(writers, expected);
}

using FileMetadata = FileStoreTest;

TEST_F(FileMetadata, AttributesAndTimesAreSetAsTheEnumerationReadsThem) {
  const std::string path = folder_ / "restored.dll";
  ASSERT_TRUE(test::WriteWholeFile(path, "MZ"));
  // 2001-02-03 and later, in 100 ns ticks since 1601.
  constexpr std::int64_t kCreation = 126255000000000000;
  constexpr std::int64_t kAccess = 126255100000000000;
  constexpr std::int64_t kWrite = 126255200000000000;
  const std::uint32_t attributes = file_attribute::kReadOnly | file_attribute::kHidden |
                                   file_attribute::kArchive | file_attribute::kDirectory;
  ASSERT_EQ(store_.SetFileMetadata(path, attributes, kCreation, kAccess, kWrite), 0U);

  WindowsFileSystem files;
  auto entryOf = [&files, this]() {
    DirectoryEntry entry;
    const auto enumeration = files.EnumerateDirectory(folder_.Path(), "restored.dll");
    EXPECT_TRUE(enumeration->Next(entry));
    return entry;
  };
  // Wine keeps no creation time (its host file systems cannot set one) and reports every
  // file as to be archived.
  const bool wine = UnderWine();
  DirectoryEntry entry = entryOf();
  EXPECT_EQ(entry.attributes,
            file_attribute::kReadOnly | file_attribute::kHidden | file_attribute::kArchive);
  if (!wine) {
    EXPECT_EQ(entry.creationTime, kCreation);
  }
  EXPECT_EQ(entry.lastAccessTime, kAccess);
  EXPECT_EQ(entry.lastWriteTime, kWrite);

  // Zero leaves a time as it is; no attribute makes a normal file again.
  ASSERT_EQ(store_.SetFileMetadata(path, 0, 0, 0, kWrite + 10000000), 0U);
  entry = entryOf();
  EXPECT_EQ(entry.attributes, wine ? file_attribute::kArchive : file_attribute::kNormal);
  if (!wine) {
    EXPECT_EQ(entry.creationTime, kCreation);
  }
  EXPECT_EQ(entry.lastAccessTime, kAccess);
  EXPECT_EQ(entry.lastWriteTime, kWrite + 10000000);
}

TEST_F(FileMetadata, MissingFileIsReported) {
  EXPECT_EQ(store_.SetFileMetadata(folder_ / "missing.dll", 0, 0, 0, 0), win_error::kFileNotFound);
}

using FileDeletion = FileStoreTest;

TEST_F(FileDeletion, DeletesAFileAndReportsWhatCannotBeDeleted) {
  const std::string path = folder_ / "entry.bin";
  ASSERT_TRUE(test::WriteWholeFile(path, "x"));
  EXPECT_EQ(store_.DeleteFile(path), 0U);
  EXPECT_EQ(GetFileAttributesW(WideFromUtf8(path).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(store_.DeleteFile(path), win_error::kFileNotFound);
  ASSERT_TRUE(CreateDirectoryW(WideFromUtf8(folder_ / "folder").c_str(), nullptr));
  EXPECT_NE(store_.DeleteFile(folder_ / "folder"), 0U);
}

}  // namespace
}  // namespace lk
