// lkgrep with the reference matcher behind --reference: a test program, never shipped. The
// command-line tests compare what both matchers find through the same arguments and output.
#include <memory>

#include "testing/reference/ReferenceRefine.h"
#include "tools/lkgrep/LkGrepPosix.h"

int main(int argc, char** argv) {
  return lk::RunLkGrepOnPosix(argc, argv, [] { return std::make_unique<lk::ReferenceRefine>(); });
}
