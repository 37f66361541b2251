#pragma once
// The questions about the platform a system is, and the system folders it names: which family
// and width of Windows, whether the program may change it, where its system directory and the
// data of all users lie, whether a device opens, and switching the system directory redirection
// off.
//
// Every system hands out its own (SystemAccess::PlatformQueries): Windows answers from its own
// calls, a mounted installation and a disk image from what their files and hives hold, and the
// scripted model from its script. The analysis asks them before it examines anything: which
// registry view and folders to read, and whether the redirection has to go off first.
//
// Failure reporting: none of these raises; a refusal leaves its reason in
// SystemAccess::LastSystemError.

#include <memory>
#include <string>
#include <string_view>

namespace lk {

// The file-system redirection switched off for the calling thread: ending the owner switches it
// back to what it was, on the thread that switched it off.
class FsRedirectionScope {
 public:
  FsRedirectionScope() = default;
  FsRedirectionScope(const FsRedirectionScope&) = delete;
  FsRedirectionScope& operator=(const FsRedirectionScope&) = delete;
  virtual ~FsRedirectionScope() = default;
};

class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  virtual ~Platform() = default;

  // System folders and the device ----------------------------------------------------------
  // The system directory without a trailing backslash; empty if the system does not tell.
  [[nodiscard]] virtual std::string QuerySystemDirectory() = 0;
  // The folder for data of all users ("C:\ProgramData") without a trailing backslash; empty if
  // the system does not tell.
  [[nodiscard]] virtual std::string QueryProgramDataDirectory() = 0;
  // The device (or file) exists and can be opened with no access rights and no sharing.
  [[nodiscard]] virtual bool DeviceCanBeOpened(std::string_view devicePath) = 0;

  // Platform ------------------------------------------------------------------------------
  [[nodiscard]] virtual bool IsNtFamily() = 0;
  // The program may change the system: an elevated administrator on Windows. Asking never
  // raises a prompt.
  [[nodiscard]] virtual bool HasAdministratorRights() = 0;
  // A 32-bit process on 64-bit Windows; false when the system cannot tell.
  [[nodiscard]] virtual bool RunningUnderWow64() = 0;
  // The system is 64-bit Windows, whatever the program is: a 32-bit process under WOW64 or a
  // 64-bit process. False when the system cannot tell.
  [[nodiscard]] virtual bool Is64BitWindows() = 0;
  // Switches the system directory redirection off for the calling thread until the owner ends;
  // null when the system does not offer it or refuses (LastSystemError tells why).
  [[nodiscard]] virtual std::unique_ptr<FsRedirectionScope> DisableFsRedirection() = 0;
};

}  // namespace lk
