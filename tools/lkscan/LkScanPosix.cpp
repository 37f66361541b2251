// lkscan's entry point on Linux: it examines a Windows installation below --root, from a rescue
// system where the installation does not run. The running Linux system is nothing to examine.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "system/offline/OfflineSystemAccess.h"
#include "system/posix/PosixFileSystem.h"
#include "tools/lkscan/LkScan.h"

namespace {

// The installation whose system drive is mounted at the root folder: its registry from the hive
// files, its files through the POSIX layer rooted at the same folder.
class OfflineScanTarget final : public lk::ScanTarget {
 public:
  OfflineScanTarget(std::unique_ptr<lk::OfflineSystemAccess> system, const std::string& root)
      : system_(std::move(system)), files_(root) {}

  lk::SystemAccess& System() override { return *system_; }
  lk::FileSystem& Files() override { return files_; }
  std::vector<lk::ScanNote> Notes() override {
    std::vector<lk::ScanNote> notes;
    for (const std::string& hive : system_->DirtyHives()) {
      notes.push_back(
          {"registry", "Registrierungsdatei " + hive +
                           ": Windows wurde nicht sauber beendet; neuere Änderungen "
                           "im Transaktionsprotokoll (.LOG1/.LOG2) sind nicht gelesen"});
    }
    return notes;
  }

 private:
  std::unique_ptr<lk::OfflineSystemAccess> system_;
  lk::PosixFileSystem files_;
};

}  // namespace

int main(int argc, char** argv) {
  const lk::LkScanHost host{
      [](const std::optional<std::string>& root,
         std::string* error) -> std::unique_ptr<lk::ScanTarget> {
        if (!root) {
          *error =
              "hier läuft kein Windows: mit --root DIR eine Windows-Installation angeben "
              "(den Ordner, in dem ihr Systemlaufwerk eingehängt ist)";
          return nullptr;
        }
        std::unique_ptr<lk::OfflineSystemAccess> system =
            lk::OfflineSystemAccess::Open(*root, error);
        if (!system) return nullptr;
        return std::make_unique<OfflineScanTarget>(std::move(system), *root);
      },
      std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = lk::RunLkScan(args, host);
  std::cout.flush();
  return code;
}
