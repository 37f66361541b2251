#pragma once
// Whether a folder's owner and access list make it fit to hold a quarantine: the rules behind
// WindowsFileStore::CheckPrivateDirectory, apart from reading them, so they can be checked on
// security descriptors made for the purpose.
//
// Trusted are BUILTIN\Administrators, SYSTEM and NT SERVICE\TrustedInstaller. The owner must be
// one of them: an owner may always rewrite the access list, and an administrator's own user SID
// is no exception, since under UAC the same user's unelevated programs carry it too. Each entry
// of the access list that allows changing the folder, what is in it, or its rules (writing or
// adding files or folders, deleting, writing attributes, WRITE_DAC, WRITE_OWNER, and the generic
// write and all rights) must name a trusted principal or CREATOR OWNER. Inherit-only entries
// count: they become the rules of every file the quarantine will hold. CREATOR OWNER stands for
// the owner of each file created inside, and only principals that may create files become one,
// which the other entries already limit to the trusted ones. Entries that deny are harmless. An
// allowing entry whose principal is not read here (object and compound entries) counts as one
// that lets others change the folder, and so does the missing ("null") access list.

#include <windows.h>
// See WindowsFileStore.h.
#undef DeleteFile

#include "system/FileStore.h"

namespace lk {

// Private, ForeignOwner, WritableByOthers, or Unreadable when there is no owner to judge.
// alsoTrusted (when not null) is trusted like the administrators.
[[nodiscard]] FolderTrust JudgeFolderSecurity(PSID owner, const ACL* acl,
                                              PSID alsoTrusted = nullptr);

}  // namespace lk
