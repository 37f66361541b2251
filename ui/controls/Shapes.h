#pragma once
// Drawing helpers on GDI+ shared by the controls: rounded rectangles and the glossy two-part
// fill of the office theme. Include only from .cpp files (pulls in gdiplus.h).

#include <windows.h>

#include "ui/controls/GdiPlus.h"

namespace lk::ui {

inline Gdiplus::Color ToColor(COLORREF color, BYTE alpha = 255) {
  return Gdiplus::Color(alpha, GetRValue(color), GetGValue(color), GetBValue(color));
}

// A rounded rectangle whose edges lie on pixel centres, for crisp one-pixel outlines.
inline void AddRoundedRect(Gdiplus::GraphicsPath& path, float x, float y, float width, float height,
                           float radius) {
  const float d = radius * 2.0f;
  if (d <= 0.0f) {
    path.AddRectangle(Gdiplus::RectF(x, y, width, height));
    return;
  }
  path.AddArc(x, y, d, d, 180.0f, 90.0f);
  path.AddArc(x + width - d, y, d, d, 270.0f, 90.0f);
  path.AddArc(x + width - d, y + height - d, d, d, 0.0f, 90.0f);
  path.AddArc(x, y + height - d, d, d, 90.0f, 90.0f);
  path.CloseFigure();
}

// Fills the area inside the path with an upper and a lower vertical gradient split at splitY.
inline void FillGlossy(Gdiplus::Graphics& graphics, Gdiplus::GraphicsPath& path, int width,
                       int height, int splitY, COLORREF topFirst, COLORREF topSecond,
                       COLORREF bottomFirst, COLORREF bottomSecond) {
  graphics.SetClip(&path);
  Gdiplus::LinearGradientBrush top(Gdiplus::Rect(0, -1, width, splitY + 2), ToColor(topFirst),
                                   ToColor(topSecond), Gdiplus::LinearGradientModeVertical);
  top.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  graphics.FillRectangle(&top, 0, 0, width, splitY);
  Gdiplus::LinearGradientBrush bottom(Gdiplus::Rect(0, splitY - 1, width, height - splitY + 2),
                                      ToColor(bottomFirst), ToColor(bottomSecond),
                                      Gdiplus::LinearGradientModeVertical);
  bottom.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  graphics.FillRectangle(&bottom, 0, splitY, width, height - splitY);
  graphics.ResetClip();
}

}  // namespace lk::ui
