#include "ui/controls/GlowButton.h"

#include <commctrl.h>

#include "ui/controls/Dpi.h"
#include "ui/controls/Shapes.h"
#include "ui/controls/Window.h"

namespace lk::ui {
namespace {

constexpr wchar_t kProperty[] = L"lk.GlowButton";
constexpr UINT_PTR kSubclassId = 0x6C6B;

}  // namespace

GlowButton::~GlowButton() {
  if (!hwnd_) return;
  if (!IsWindow(hwnd_.Get())) {
    static_cast<void>(hwnd_.Release());
    return;
  }
  // Unhooked first: the messages of the destruction reach no half-destroyed object.
  RemoveWindowSubclass(hwnd_.Get(), &GlowButton::SubclassProc, kSubclassId);
  RemovePropW(hwnd_.Get(), kProperty);
  hwnd_.Reset();
}

bool GlowButton::Create(const CreateArgs& args) {
  theme_ = args.theme;
  fontFace_ = theme_ != nullptr ? theme_->fontFace : L"Tahoma";
  fontPixels_ = args.fontPixels;
  bold_ = args.bold;
  textColor_ = args.textColor;
  toggle_ = args.toggle;
  dpi_ = args.dpi;
  DWORD style = WS_CHILD | WS_TABSTOP | WS_CLIPSIBLINGS | BS_OWNERDRAW;
  if (args.visible) style |= WS_VISIBLE;
  hwnd_.Reset(CreateWindowExW(
      0, L"BUTTON", args.caption.c_str(), style, args.place.left, args.place.top,
      args.place.right - args.place.left, args.place.bottom - args.place.top, args.parent,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(args.id)), ModuleInstance(), nullptr));
  if (!hwnd_) return false;
  SetPropW(hwnd_.Get(), kProperty, this);
  SetWindowSubclass(hwnd_.Get(), &GlowButton::SubclassProc, kSubclassId,
                    reinterpret_cast<DWORD_PTR>(this));
  SetDpi(dpi_);
  return true;
}

GlowButton* GlowButton::FromHwnd(HWND hwnd) noexcept {
  return hwnd != nullptr ? static_cast<GlowButton*>(GetPropW(hwnd, kProperty)) : nullptr;
}

void GlowButton::SetToggle(bool toggle) {
  toggle_ = toggle;
  if (!toggle_) down_ = false;
  InvalidateRect(hwnd_.Get(), nullptr, FALSE);
}

void GlowButton::SetDown(bool down) {
  if (!toggle_) return;
  down_ = down;
  InvalidateRect(hwnd_.Get(), nullptr, FALSE);
}

void GlowButton::SetGlyph(Picture picture, int designWidth, int designHeight) {
  glyph_ = std::move(picture);
  glyphWidth_ = designWidth;
  glyphHeight_ = designHeight;
  InvalidateRect(hwnd_.Get(), nullptr, FALSE);
}

void GlowButton::SetDpi(UINT dpi) {
  dpi_ = dpi;
  font_ = MakeFont(fontFace_, fontPixels_, dpi_, bold_);
  SendMessageW(hwnd_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  InvalidateRect(hwnd_.Get(), nullptr, FALSE);
}

void GlowButton::Draw(const DRAWITEMSTRUCT& item) {
  const int width = item.rcItem.right - item.rcItem.left;
  const int height = item.rcItem.bottom - item.rcItem.top;
  if (width <= 0 || height <= 0) return;
  MemoryCanvas canvas(item.hDC, width, height);
  HDC dc = canvas.Dc();
  if (dc == nullptr) return;
  PaintParentBackground(hwnd_.Get(), dc);

  static const Theme kDefaultTheme;
  const Theme& theme = theme_ != nullptr ? *theme_ : kDefaultTheme;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0 || (toggle_ && down_);
  const ButtonColors& colors =
      pressed ? theme.buttonPressed : (hot_ && !disabled ? theme.buttonHot : theme.buttonNormal);
  {
    Gdiplus::Graphics graphics(dc);
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    const float radius = static_cast<float>(Scale(4, dpi_));
    Gdiplus::GraphicsPath outline;
    AddRoundedRect(outline, 0.5f, 0.5f, static_cast<float>(width) - 1.0f,
                   static_cast<float>(height) - 1.0f, radius);
    FillGlossy(graphics, outline, width, height, height * 2 / 5, colors.topFirst, colors.topSecond,
               colors.bottomFirst, colors.bottomSecond);
    Gdiplus::GraphicsPath inner;
    AddRoundedRect(inner, 1.5f, 1.5f, static_cast<float>(width) - 3.0f,
                   static_cast<float>(height) - 3.0f, radius - 1.0f);
    Gdiplus::Pen light(ToColor(colors.innerLight, 170), 1.0f);
    graphics.DrawPath(&light, &inner);
    Gdiplus::Pen border(ToColor(colors.border), 1.0f);
    graphics.DrawPath(&border, &outline);
  }

  wchar_t caption[128] = {};
  GetWindowTextW(hwnd_.Get(), caption, 128);
  ScopedSelect selectFont(dc, font_.Get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, disabled ? theme.buttonDisabledText : textColor_);
  UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOCLIP;
  if ((item.itemState & ODS_NOACCEL) != 0) format |= DT_HIDEPREFIX;
  RECT measure{0, 0, width, height};
  DrawTextW(dc, caption, -1, &measure, format | DT_CALCRECT);
  const int textWidth = measure.right - measure.left;
  const int glyphWidth = glyph_.IsEmpty() ? 0 : Scale(glyphWidth_, dpi_);
  const int glyphHeight = glyph_.IsEmpty() ? 0 : Scale(glyphHeight_, dpi_);
  const int gap = glyph_.IsEmpty() ? 0 : Scale(6, dpi_);
  const int shift = pressed ? 1 : 0;
  const int left = (width - textWidth - gap - glyphWidth) / 2 + shift;
  RECT text{left, shift, left + textWidth, height + shift};
  DrawTextW(dc, caption, -1, &text, format | DT_LEFT);
  if (!glyph_.IsEmpty()) {
    const int top = (height - glyphHeight) / 2 + shift;
    const int x = left + textWidth + gap;
    glyph_.Draw(dc, RECT{x, top, x + glyphWidth, top + glyphHeight});
  }
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
    const int inset = Scale(3, dpi_);
    RECT focus{inset, inset, width - inset, height - inset};
    SetTextColor(dc, theme.focusColor);
    DrawFocusRect(dc, &focus);
  }
  BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, dc, 0, 0, SRCCOPY);
}

LRESULT GlowButton::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEMOVE:
      if (!hot_) {
        hot_ = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_.Get(), 0};
        TrackMouseEvent(&track);
        InvalidateRect(hwnd_.Get(), nullptr, FALSE);
        if (mouseEnter_) mouseEnter_();
      }
      break;
    case WM_MOUSELEAVE:
      hot_ = false;
      InvalidateRect(hwnd_.Get(), nullptr, FALSE);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      // Owner-drawn buttons would otherwise not take their Alt accelerator through the
      // dialog navigation: answer as a push button.
      return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case BM_SETSTATE:
    case WM_ENABLE:
    case WM_UPDATEUISTATE: {
      const LRESULT result = DefSubclassProc(hwnd_.Get(), message, wParam, lParam);
      InvalidateRect(hwnd_.Get(), nullptr, FALSE);
      return result;
    }
    case WM_NCDESTROY: {
      RemoveWindowSubclass(hwnd_.Get(), &GlowButton::SubclassProc, kSubclassId);
      RemovePropW(hwnd_.Get(), kProperty);
      const LRESULT result = DefSubclassProc(hwnd_.Get(), message, wParam, lParam);
      // Destroyed with the parent: nothing left to own.
      static_cast<void>(hwnd_.Release());
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(hwnd_.Get(), message, wParam, lParam);
}

LRESULT CALLBACK GlowButton::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR data) noexcept {
  auto* self = reinterpret_cast<GlowButton*>(data);
  try {
    return self->Handle(message, wParam, lParam);
  } catch (...) {
    // As at every window procedure: the failure is shown, and the message gets its default
    // answer so the message loop stays sound.
    ShowCurrentFailure(hwnd);
    return IsWindow(hwnd) ? DefSubclassProc(hwnd, message, wParam, lParam) : 0;
  }
}

}  // namespace lk::ui
