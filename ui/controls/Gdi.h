#pragma once
// Small owners for GDI objects and device contexts, and the painting helpers every control of
// the toolkit shares: colours from RGB hex, vertical gradients, the parent's background behind a
// transparent control, and a double buffer for flicker-free painting.

#include <windows.h>

#include <cstdint>
#include <utility>

namespace lk::ui {

// 0xRRGGBB as a COLORREF.
[[nodiscard]] constexpr COLORREF Rgb(std::uint32_t hex) {
  return RGB((hex >> 16) & 0xFF, (hex >> 8) & 0xFF, hex & 0xFF);
}

// A count or length as the type a Win32 call takes. size_t is that very type in the 32-bit build
// and wider in the 64-bit one; the texts we draw are far below either limit.
template <typename To, typename From>
[[nodiscard]] constexpr To CountAs(From value) {
  return static_cast<To>(value);
}

// Owns one GDI object (font, brush, pen, bitmap); deletes it once.
template <typename Handle>
class GdiObject {
 public:
  GdiObject() noexcept = default;
  explicit GdiObject(Handle handle) noexcept : handle_(handle) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ~GdiObject() { Reset(); }

  [[nodiscard]] Handle Get() const noexcept { return handle_; }
  [[nodiscard]] explicit operator bool() const noexcept { return handle_ != nullptr; }
  void Reset(Handle handle = nullptr) noexcept {
    if (handle_ != nullptr) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using UniqueFont = GdiObject<HFONT>;
using UniqueBrush = GdiObject<HBRUSH>;
using UniquePen = GdiObject<HPEN>;
using UniqueBitmap = GdiObject<HBITMAP>;

// Selects an object into a DC for one scope and puts the previous one back.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;
  ~ScopedSelect() { SelectObject(dc_, previous_); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// BeginPaint/EndPaint with a memory bitmap in between: everything is drawn into Dc() and copied
// to the window in one step when the scope ends.
class BufferedPaint {
 public:
  explicit BufferedPaint(HWND window) noexcept;
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;
  ~BufferedPaint();

  [[nodiscard]] HDC Dc() const noexcept { return memory_ != nullptr ? memory_ : paint_.hdc; }
  [[nodiscard]] const RECT& Client() const noexcept { return client_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  RECT client_{};
  HDC memory_ = nullptr;
  UniqueBitmap bitmap_;
  HGDIOBJ previousBitmap_ = nullptr;
};

// A memory DC with a 32-bit top-down DIB of its own, for off-screen drawing.
class MemoryCanvas {
 public:
  MemoryCanvas(HDC reference, int width, int height) noexcept;
  MemoryCanvas(const MemoryCanvas&) = delete;
  MemoryCanvas& operator=(const MemoryCanvas&) = delete;
  ~MemoryCanvas();

  [[nodiscard]] HDC Dc() const noexcept { return dc_; }
  [[nodiscard]] std::uint32_t* Pixels() const noexcept { return pixels_; }
  [[nodiscard]] int Width() const noexcept { return width_; }
  [[nodiscard]] int Height() const noexcept { return height_; }

 private:
  HDC dc_ = nullptr;
  UniqueBitmap bitmap_;
  HGDIOBJ previous_ = nullptr;
  std::uint32_t* pixels_ = nullptr;
  int width_;
  int height_;
};

// Fills the rectangle with a gradient from top to bottom (or left to right).
void FillGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical = true);
void FillSolid(HDC dc, const RECT& rect, COLORREF color);

// Paints what the parent shows behind the child into the child's DC (the parent answers
// WM_PRINTCLIENT), so a control without a background of its own blends in.
void PaintParentBackground(HWND child, HDC dc);

}  // namespace lk::ui
