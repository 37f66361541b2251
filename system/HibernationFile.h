#pragma once
// Whether a Windows installation is hibernated, from its hiberfil.sys: Windows writes the saved
// session there from the first page on when it hibernates, and a Fast Startup "shutdown" is a
// hibernation of the kernel session; a full shutdown leaves the first page zero. While it is
// hibernated, the registry and the files on the volume are not what Windows will resume with,
// and a change made to them is lost or corrupts the volume when it does.
//
// Portable: it reads the file through the file layer (a host folder or a disk image alike).

#include <cstdint>
#include <string>

#include "system/FileSystem.h"

namespace lk {

enum class HibernationState : std::uint8_t { NotHibernated, Hibernated, Unreadable };

// Reads the first 4096 bytes of C:\hiberfil.sys. No file, or a first page of zeros (also a
// shorter file of zeros), is NotHibernated; a file that cannot be read is Unreadable with the
// reason in *why.
[[nodiscard]] HibernationState ReadHibernationState(FileSystem& files, std::string* why);

// The note that tells a user what a hibernated installation means and what to do.
[[nodiscard]] std::string HibernationRemedy();

}  // namespace lk
