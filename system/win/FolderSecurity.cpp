#include "system/win/FolderSecurity.h"

namespace lk {

namespace {

// Rights that change a folder, its entries or who may do so. The generic rights count because an
// inherit-only entry may hold them for what is created inside.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// NT SERVICE\TrustedInstaller, which owns the system's own folders; it has no well-known SID
// constant.
class TrustedInstallerSid {
 public:
  TrustedInstallerSid() {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    constexpr DWORD kSubAuthorities[] = {80,         956008885,  3418522649,
                                         1831038044, 1853292631, 2271478464};
    InitializeSid(Get(), &authority, 6);
    for (DWORD i = 0; i < 6; ++i) *GetSidSubAuthority(Get(), i) = kSubAuthorities[i];
  }
  [[nodiscard]] PSID Get() noexcept { return buffer_; }

 private:
  BYTE buffer_[SECURITY_MAX_SID_SIZE] = {};
};

// The administrators, the system and TrustedInstaller: the principals that may own and change a
// quarantine folder.
bool IsTrustedPrincipal(PSID sid, PSID alsoTrusted) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (alsoTrusted != nullptr && EqualSid(sid, alsoTrusted)) return true;
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) {
    return true;
  }
  TrustedInstallerSid trustedInstaller;
  return EqualSid(sid, trustedInstaller.Get()) != FALSE;
}

// Whether an access list lets anyone but the trusted principals change the folder or what is
// created in it (see FolderSecurity.h).
bool AllowsOthersToChange(const ACL* acl, PSID alsoTrusted) {
  for (DWORD index = 0; index < acl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(acl), index, &entry)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        // The callback form has the allowed form's layout, with conditions after the SID.
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kChangingRights) == 0) break;
        PSID sid = &allowed->SidStart;
        if (IsTrustedPrincipal(sid, alsoTrusted) || IsWellKnownSid(sid, WinCreatorOwnerSid)) break;
        return true;
      }
      case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return true;
      default:
        break;  // denying entries, and kinds that belong to the audit list only
    }
  }
  return false;
}

}  // namespace

FolderTrust JudgeFolderSecurity(PSID owner, const ACL* acl, PSID alsoTrusted) {
  if (owner == nullptr || !IsValidSid(owner)) return FolderTrust::Unreadable;
  if (!IsTrustedPrincipal(owner, alsoTrusted)) return FolderTrust::ForeignOwner;
  if (acl == nullptr || AllowsOthersToChange(acl, alsoTrusted)) {
    return FolderTrust::WritableByOthers;
  }
  return FolderTrust::Private;
}

}  // namespace lk
