#pragma once
// lkgrep on POSIX hosts: the whole host file system stands for the drive. The shipped program
// runs it with the production matcher only; the reference build (testing/reference) hands in the
// reference matcher as well.

#include "tools/lkgrep/LkGrep.h"

namespace lk {

[[nodiscard]] int RunLkGrepOnPosix(int argc, char** argv, const LkGrepMatcherFactory& reference);

}  // namespace lk
