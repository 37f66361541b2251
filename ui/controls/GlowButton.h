#pragma once
// A push button of the office theme: a real BUTTON (so Tab, Space, Enter, Alt accelerators and
// screen readers work as for any button), drawn by us with a glossy gradient that glows under
// the mouse. As a toggle button it keeps a pressed look that its owner switches (the start
// button's blinking). An optional picture stands right of the caption.
//
// The parent must forward WM_DRAWITEM (every ui::Window does). The caption may carry an '&'
// accelerator. The object owns its button until the button is destroyed, by the object or with
// its parent; a failure in one of its handlers is shown like one of a ui::Window, never
// swallowed.

#include <windows.h>

#include <functional>
#include <string>

#include "ui/controls/Gdi.h"
#include "ui/controls/Picture.h"
#include "ui/controls/Theme.h"

namespace lk::ui {

class GlowButton {
 public:
  struct CreateArgs {
    HWND parent = nullptr;
    int id = 0;
    std::wstring caption{};
    RECT place{};  // device pixels
    int fontPixels = 11;
    bool bold = true;
    COLORREF textColor = Rgb(0x083772);
    const Theme* theme = nullptr;
    bool toggle = false;
    bool visible = true;
    UINT dpi = 96;
  };

  GlowButton() = default;
  GlowButton(const GlowButton&) = delete;
  GlowButton& operator=(const GlowButton&) = delete;
  ~GlowButton();

  bool Create(const CreateArgs& args);
  [[nodiscard]] HWND Hwnd() const noexcept { return hwnd_.Get(); }
  [[nodiscard]] static GlowButton* FromHwnd(HWND hwnd) noexcept;

  void Draw(const DRAWITEMSTRUCT& item);

  // The toggle's pressed look; a plain push button ignores it.
  void SetToggle(bool toggle);
  [[nodiscard]] bool IsToggle() const noexcept { return toggle_; }
  void SetDown(bool down);
  [[nodiscard]] bool IsDown() const noexcept { return down_; }

  void SetGlyph(Picture picture, int designWidth, int designHeight);
  void SetDpi(UINT dpi);
  // Runs once each time the mouse enters the button.
  void OnMouseEnter(std::function<void()> handler) { mouseEnter_ = std::move(handler); }

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data) noexcept;
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  UniqueWindow hwnd_;  // until WM_NCDESTROY, when a parent destroys it first
  const Theme* theme_ = nullptr;
  UniqueFont font_;
  std::wstring fontFace_;
  int fontPixels_ = 11;
  bool bold_ = true;
  COLORREF textColor_ = 0;
  UINT dpi_ = 96;
  bool toggle_ = false;
  bool down_ = false;
  bool hot_ = false;
  Picture glyph_;
  int glyphWidth_ = 0;
  int glyphHeight_ = 0;
  std::function<void()> mouseEnter_;
};

}  // namespace lk::ui
