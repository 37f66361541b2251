// The shipped lkgrep on POSIX hosts.
#include "tools/lkgrep/LkGrepPosix.h"

int main(int argc, char** argv) { return lk::RunLkGrepOnPosix(argc, argv, {}); }
