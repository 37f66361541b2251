// The fault the planting test looks for, made on purpose: a program that imports version.dll
// and loads the libraries named on its command line by bare name, without restricting the
// library search. Libraries planted next to it run inside it; the planting test runs it as its
// control, so that a test whose planted libraries never run cannot pass.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  // Keeps the static import of version.dll (the call is never made: no run has that many
  // arguments).
  if (argc > 1000) {
    DWORD ignored = 0;
    return static_cast<int>(GetFileVersionInfoSizeW(argv[0], &ignored));
  }
  int loaded = 0;
  for (int i = 1; i < argc; ++i) {
    if (LoadLibraryW(argv[i]) != nullptr) ++loaded;
  }
  return loaded == argc - 1 ? 0 : 1;
}
