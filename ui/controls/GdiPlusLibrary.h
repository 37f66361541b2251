#pragma once
// gdiplus.dll, loaded from the system folder at run time (see win32/SystemLibrary.h).
//
// The toolkit draws with GDI+'s C++ classes, which call the library's flat functions. Those are
// not imported: GdiPlusLibrary.cpp defines each flat function the toolkit uses and forwards it to
// the function looked up here, so the classes work unchanged. A flat function that is not in the
// list fails to link, which keeps the import from coming back. Without the library each one fails
// with GdiplusNotInitialized (the program reports the missing library at start-up).

#include "ui/controls/GdiPlus.h"
#include "win32/RuntimeLibrary.h"

// X(name, (parameters), (arguments)) for each flat function of Gdiplus::DllExports that returns
// a status; the parameter types are spelt as inside namespace Gdiplus.
// clang-format off
#define LK_GDIPLUS_STATUS_FUNCTIONS(X)                                                            \
  X(GdipAddPathArc, (GpPath* a, REAL b, REAL c, REAL d, REAL e, REAL f, REAL g),                  \
    (a, b, c, d, e, f, g))                                                                        \
  X(GdipAddPathRectangle, (GpPath* a, REAL b, REAL c, REAL d, REAL e), (a, b, c, d, e))           \
  X(GdipCloneBrush, (GpBrush* a, GpBrush** b), (a, b))                                            \
  X(GdipCloneImage, (GpImage* a, GpImage** b), (a, b))                                            \
  X(GdipClosePathFigure, (GpPath* a), (a))                                                        \
  X(GdipCreateBitmapFromScan0, (INT a, INT b, INT c, PixelFormat d, BYTE* e, GpBitmap** f),       \
    (a, b, c, d, e, f))                                                                           \
  X(GdipCreateBitmapFromStream, (IStream* a, GpBitmap** b), (a, b))                               \
  X(GdipCreateFromHDC, (HDC a, GpGraphics** b), (a, b))                                           \
  X(GdipCreateLineBrushFromRectI, (GDIPCONST GpRect* a, ARGB b, ARGB c, LinearGradientMode d,     \
                                   GpWrapMode e, GpLineGradient** f), (a, b, c, d, e, f))         \
  X(GdipCreatePath, (GpFillMode a, GpPath** b), (a, b))                                           \
  X(GdipCreatePen1, (ARGB a, REAL b, GpUnit c, GpPen** d), (a, b, c, d))                          \
  X(GdipCreateSolidFill, (ARGB a, GpSolidFill** b), (a, b))                                       \
  X(GdipDeleteBrush, (GpBrush* a), (a))                                                           \
  X(GdipDeleteGraphics, (GpGraphics* a), (a))                                                     \
  X(GdipDeletePath, (GpPath* a), (a))                                                             \
  X(GdipDeletePen, (GpPen* a), (a))                                                               \
  X(GdipDisposeImage, (GpImage* a), (a))                                                          \
  X(GdipDrawImageI, (GpGraphics* a, GpImage* b, INT c, INT d), (a, b, c, d))                      \
  X(GdipDrawImageRectI, (GpGraphics* a, GpImage* b, INT c, INT d, INT e, INT f),                  \
    (a, b, c, d, e, f))                                                                           \
  X(GdipDrawLine, (GpGraphics* a, GpPen* b, REAL c, REAL d, REAL e, REAL f), (a, b, c, d, e, f))  \
  X(GdipDrawPath, (GpGraphics* a, GpPen* b, GpPath* c), (a, b, c))                                \
  X(GdipDrawRectangleI, (GpGraphics* a, GpPen* b, INT c, INT d, INT e, INT f),                    \
    (a, b, c, d, e, f))                                                                           \
  X(GdipFillRectangleI, (GpGraphics* a, GpBrush* b, INT c, INT d, INT e, INT f),                  \
    (a, b, c, d, e, f))                                                                           \
  X(GdipGetImageGraphicsContext, (GpImage* a, GpGraphics** b), (a, b))                            \
  X(GdipGetImageHeight, (GpImage* a, UINT* b), (a, b))                                            \
  X(GdipGetImageWidth, (GpImage* a, UINT* b), (a, b))                                             \
  X(GdipGraphicsClear, (GpGraphics* a, ARGB b), (a, b))                                           \
  X(GdipResetClip, (GpGraphics* a), (a))                                                          \
  X(GdipSetClipPath, (GpGraphics* a, GpPath* b, CombineMode c), (a, b, c))                        \
  X(GdipSetInterpolationMode, (GpGraphics* a, InterpolationMode b), (a, b))                       \
  X(GdipSetLineWrapMode, (GpLineGradient* a, GpWrapMode b), (a, b))                               \
  X(GdipSetPenEndCap, (GpPen* a, GpLineCap b), (a, b))                                            \
  X(GdipSetPenStartCap, (GpPen* a, GpLineCap b), (a, b))                                          \
  X(GdipSetPixelOffsetMode, (GpGraphics* a, PixelOffsetMode b), (a, b))                           \
  X(GdipSetSmoothingMode, (GpGraphics* a, SmoothingMode b), (a, b))
// clang-format on

namespace lk::ui {

struct GdiPlusFunctions {
  static constexpr const wchar_t* kFileName = L"gdiplus.dll";

  explicit GdiPlusFunctions(SystemLibrary& library);

  decltype(&Gdiplus::GdiplusStartup) GdiplusStartup = nullptr;
  decltype(&Gdiplus::GdiplusShutdown) GdiplusShutdown = nullptr;
  decltype(&Gdiplus::DllExports::GdipAlloc) GdipAlloc = nullptr;
  decltype(&Gdiplus::DllExports::GdipFree) GdipFree = nullptr;
#define LK_GDIPLUS_SLOT(name, parameters, arguments) \
  decltype(&Gdiplus::DllExports::name) name = nullptr;
  LK_GDIPLUS_STATUS_FUNCTIONS(LK_GDIPLUS_SLOT)
#undef LK_GDIPLUS_SLOT
};

using GdiPlusLibrary = RuntimeLibrary<GdiPlusFunctions>;

}  // namespace lk::ui
