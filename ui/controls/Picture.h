#pragma once
// A picture from a PNG resource of the program, kept with its alpha channel and drawn smoothly
// scaled. Each picture is stored twice, at designed size and at twice that size; the copy that
// fits the display scaling is loaded.

#include <windows.h>

#include <memory>

namespace Gdiplus {
class Bitmap;
}

namespace lk::ui {

class Picture {
 public:
  Picture() noexcept;
  Picture(Picture&&) noexcept;
  Picture& operator=(Picture&&) noexcept;
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  ~Picture();

  // Loads the RCDATA resource id1x at 96 DPI, else id2x. Empty when it cannot be loaded.
  [[nodiscard]] static Picture FromResource(int id1x, int id2x, UINT dpi);

  [[nodiscard]] bool IsEmpty() const noexcept { return bitmap_ == nullptr; }
  // Draws the picture into the rectangle, scaled to fit it.
  void Draw(HDC dc, const RECT& target) const;

 private:
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
};

// Starts GDI+ for the program's lifetime (one instance in the program entry).
class GdiplusSession {
 public:
  GdiplusSession() noexcept;
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  ~GdiplusSession();

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace lk::ui
