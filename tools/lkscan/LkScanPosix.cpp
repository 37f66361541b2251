// lkscan's entry point on Linux: it examines a Windows installation below --root, from a rescue
// system where the installation does not run. The running Linux system is nothing to examine.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/lkscan/LkScan.h"

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
        *error = "die Untersuchung einer Installation unter --root ist noch nicht verfügbar";
        return nullptr;
      },
      std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = lk::RunLkScan(args, host);
  std::cout.flush();
  return code;
}
