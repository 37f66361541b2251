#pragma once
// Owners for GDI objects, device contexts, selections and paints, and the painting helpers every
// control of the toolkit shares: colours from RGB hex, vertical gradients, the parent's background
// behind a transparent control, and a double buffer for flicker-free painting.

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <optional>

#include "system/win/UniqueHandle.h"

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

// GDI owners: Windows traits of the one handle owner (system/win/UniqueHandle.h), so each object is
// deleted exactly once, an empty owner deletes nothing and the last error survives the delete.

// A font, brush, pen or bitmap: DeleteObject.
template <typename Handle>
struct GdiObjectTraits : WindowsHandleTraits {
  using Type = Handle;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { DeleteObject(value); }
};

using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;

// A DC of our own from CreateCompatibleDC: DeleteDC.
struct MemoryDcTraits : WindowsHandleTraits {
  using Type = HDC;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { DeleteDC(value); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// A DC of a window (or of the screen, window null) from GetDC: ReleaseDC, with that window.
struct WindowDcTraits : WindowsHandleTraits {
  struct Type {
    HWND window = nullptr;
    HDC dc = nullptr;
  };
  static Type Empty() noexcept { return {}; }
  static bool IsEmpty(const Type& value) noexcept { return value.dc == nullptr; }
  static void Close(const Type& value) noexcept { ReleaseDC(value.window, value.dc); }
};

// GetDC for one scope; released with the window it came from.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : owner_(WindowDcTraits::Type{window, GetDC(window)}) {}

  [[nodiscard]] HDC Get() const noexcept { return owner_.Get().dc; }
  [[nodiscard]] explicit operator bool() const noexcept { return static_cast<bool>(owner_); }

 private:
  UniqueHandle<WindowDcTraits> owner_;
};

// An object selected into a DC: closing puts the previous object back.
struct SelectionTraits : WindowsHandleTraits {
  struct Type {
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
  };
  static Type Empty() noexcept { return {}; }
  static bool IsEmpty(const Type& value) noexcept { return value.previous == nullptr; }
  static void Close(const Type& value) noexcept { SelectObject(value.dc, value.previous); }
};

// Selects an object into a DC for one scope and puts the previous one back. A failed selection
// has nothing to put back.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) noexcept
      : owner_(SelectionTraits::Type{dc, SelectObject(dc, object)}) {}

 private:
  UniqueHandle<SelectionTraits> owner_;
};

// BeginPaint/EndPaint: EndPaint follows every BeginPaint, also one that gave no DC.
struct PaintTraits : WindowsHandleTraits {
  struct Type {
    HWND window = nullptr;
    PAINTSTRUCT paint{};
  };
  static Type Empty() noexcept { return {}; }
  static bool IsEmpty(const Type& value) noexcept { return value.window == nullptr; }
  static void Close(const Type& value) noexcept { EndPaint(value.window, &value.paint); }
};

// An image list: ImageList_Destroy.
struct ImageListTraits : WindowsHandleTraits {
  using Type = HIMAGELIST;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ImageList_Destroy(value); }
};
using UniqueImageList = UniqueHandle<ImageListTraits>;

// An icon made or loaded without LR_SHARED: DestroyIcon.
struct IconTraits : WindowsHandleTraits {
  using Type = HICON;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { DestroyIcon(value); }
};
using UniqueIcon = UniqueHandle<IconTraits>;

// BeginPaint/EndPaint with a memory bitmap in between: everything is drawn into Dc() and copied
// to the window in one step when the scope ends. Without a memory bitmap (an empty client area,
// or no GDI resources left) it draws straight into the window's DC.
class BufferedPaint {
 public:
  explicit BufferedPaint(HWND window) noexcept;
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;
  ~BufferedPaint();

  [[nodiscard]] HDC Dc() const noexcept { return memory_ ? memory_.Get() : paint_.Get().paint.hdc; }
  [[nodiscard]] const RECT& Client() const noexcept { return client_; }

 private:
  // Declared in the order of creation: the selection goes first, the paint last.
  UniqueHandle<PaintTraits> paint_;
  RECT client_{};
  UniqueMemoryDc memory_;
  UniqueBitmap bitmap_;
  std::optional<ScopedSelect> selectBitmap_;
};

// A memory DC with a 32-bit top-down DIB of its own, for off-screen drawing.
class MemoryCanvas {
 public:
  MemoryCanvas(HDC reference, int width, int height) noexcept;

  [[nodiscard]] HDC Dc() const noexcept { return dc_.Get(); }
  [[nodiscard]] std::uint32_t* Pixels() const noexcept { return pixels_; }
  [[nodiscard]] int Width() const noexcept { return width_; }
  [[nodiscard]] int Height() const noexcept { return height_; }

 private:
  UniqueBitmap bitmap_;
  UniqueMemoryDc dc_;
  std::optional<ScopedSelect> selectBitmap_;
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
