#pragma once
// What a console removal keeps before it changes anything, so that the change can be undone.
//
// The removal asks the journal to keep each thing just before it changes it: the file before it
// is deleted (now or at the next restart), the registry value before it is rewritten, the
// service's key before the service and its key are deleted. When keeping fails, that change is
// not made and the removal reports it as failed: nothing is removed that cannot be put back.
//
// The journal reads what it keeps itself, through the same system and file layer the scan uses,
// with the redirection as the scan has it; the removal names only where the thing is.

#include <string>
#include <string_view>

#include "system/SystemAccess.h"

namespace lk {

class RemovalJournal {
 public:
  // The outcome of keeping one thing: empty error on success, else a short German text that
  // says why it could not be kept (it goes into the action record).
  struct Kept {
    bool ok = false;
    std::string error;
  };

  RemovalJournal() = default;
  RemovalJournal(const RemovalJournal&) = delete;
  RemovalJournal& operator=(const RemovalJournal&) = delete;
  virtual ~RemovalJournal() = default;

  // Keeps a verified copy of the file with its size, SHA-256, attributes and times.
  virtual Kept KeepFile(std::string_view path) = 0;
  // Keeps the value (key relative to HKEY_LOCAL_MACHINE, seen in view) with its type and data.
  virtual Kept KeepRegistryValue(RegistryView view, std::string_view key,
                                 std::string_view valueName) = 0;
  // Keeps the service's whole key (SYSTEM\CurrentControlSet\Services\<name>, native view) with
  // all values and subkeys, so that the service can be registered again.
  virtual Kept KeepServiceKey(std::string_view serviceName) = 0;
  // Keeps the service's whole key in a control set other than the current one
  // (SYSTEM\<controlSet>\Services\<name>, native view), so that it can be put back there.
  virtual Kept KeepControlSetServiceKey(std::string_view controlSet,
                                        std::string_view serviceName) = 0;
  // Keeps a verified copy of a file that a change rewrites as a whole rather than deletes (the
  // hive file of an installation examined offline), for a person to fall back on. A restore
  // does not write it back: it undoes the change through the records of the values and keys.
  virtual Kept KeepBackup(std::string_view path) = 0;
  // Where the kept things are (the run's quarantine folder, as Windows names it); empty while
  // nothing was kept.
  [[nodiscard]] virtual std::string Location() const = 0;
};

}  // namespace lk
