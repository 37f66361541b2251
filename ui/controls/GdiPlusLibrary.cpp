#include "ui/controls/GdiPlusLibrary.h"

namespace lk::ui {

GdiPlusFunctions::GdiPlusFunctions(SystemLibrary& library) {
  library.Bind(GdiplusStartup, "GdiplusStartup");
  library.Bind(GdiplusShutdown, "GdiplusShutdown");
  library.Bind(GdipAlloc, "GdipAlloc");
  library.Bind(GdipFree, "GdipFree");
#define LK_GDIPLUS_BIND(name, parameters, arguments) library.Bind(name, #name);
  LK_GDIPLUS_STATUS_FUNCTIONS(LK_GDIPLUS_BIND)
#undef LK_GDIPLUS_BIND
}

}  // namespace lk::ui

// The flat functions GDI+'s classes call, in place of the import library's.
namespace Gdiplus {
namespace {

const lk::ui::GdiPlusLibrary& Library() { return lk::ui::GdiPlusLibrary::Shared(); }

}  // namespace

extern "C" {

GpStatus WINGDIPAPI GdiplusStartup(ULONG_PTR* token, GDIPCONST GdiplusStartupInput* input,
                                   GdiplusStartupOutput* output) {
  const auto& gdiplus = Library();
  return gdiplus ? gdiplus->GdiplusStartup(token, input, output) : GdiplusNotInitialized;
}

VOID WINGDIPAPI GdiplusShutdown(ULONG_PTR token) {
  if (const auto& gdiplus = Library()) gdiplus->GdiplusShutdown(token);
}

}  // extern "C"

namespace DllExports {
extern "C" {

VOID* WINGDIPAPI GdipAlloc(size_t size) {
  const auto& gdiplus = Library();
  return gdiplus ? gdiplus->GdipAlloc(size) : nullptr;
}

VOID WINGDIPAPI GdipFree(VOID* memory) {
  if (const auto& gdiplus = Library()) gdiplus->GdipFree(memory);
}

#define LK_GDIPLUS_FORWARD(name, parameters, arguments)               \
  GpStatus WINGDIPAPI name parameters {                               \
    const auto& gdiplus = Library();                                  \
    return gdiplus ? gdiplus->name arguments : GdiplusNotInitialized; \
  }
LK_GDIPLUS_STATUS_FUNCTIONS(LK_GDIPLUS_FORWARD)
#undef LK_GDIPLUS_FORWARD

}  // extern "C"
}  // namespace DllExports
}  // namespace Gdiplus
