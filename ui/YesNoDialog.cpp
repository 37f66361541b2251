#include "ui/YesNoDialog.h"

#include <algorithm>
#include <utility>

#include "ui/ControlIds.h"
#include "ui/Resources.h"
#include "ui/controls/DialogKeys.h"
#include "ui/controls/Dpi.h"
#include "win32/Utf.h"

namespace lk::ui {
namespace {

// Designed layout (pixels at 96 DPI).
constexpr int kClientWidth = 432;
constexpr int kClientHeight = 384;
constexpr int kCaptionHeight = 80;
constexpr int kMessageTop = 76;
constexpr int kMessageBottom = 273;
constexpr int kButtonBarHeight = 112;

constexpr COLORREF kCaptionTop = Rgb(0x5987D6);
constexpr COLORREF kCaptionBottom = Rgb(0x033893);
constexpr COLORREF kBarTop = Rgb(0xDAEAFD);
constexpr COLORREF kBarBottom = Rgb(0x88AEE4);

struct ButtonSpec {
  DialogButton bit;
  int id;
  const wchar_t* caption;
  DialogResult result;
  int left;
  int width;
};
// Each button keeps its place whether or not the others are shown.
constexpr ButtonSpec kButtons[4] = {
    {kButtonYes, kIdYes, L"&Ja", DialogResult::Yes, 8, 105},
    {kButtonNo, kIdNo, L"&Nein", DialogResult::No, 120, 105},
    {kButtonOk, kIdOk, L"&OK", DialogResult::Ok, 232, 89},
    {kButtonCancel, kIdCancel, L"A&bbruch", DialogResult::Cancel, 328, 81},
};
constexpr int kButtonTop = 43;
constexpr int kButtonHeight = 41;

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;

HWND g_openDialog = nullptr;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
}

}  // namespace

std::string ExpandBlackMarkers(std::string text) {
  ReplaceAll(text, "(FS)", "<FONT color=\"#000000\">");
  ReplaceAll(text, "(FE)", "</FONT>");
  return text;
}

HWND YesNoDialog::OpenDialog() noexcept { return g_openDialog; }

int YesNoDialog::S(int designPixels) const { return Scale(designPixels, dpi_); }

DialogResult YesNoDialog::Show(HWND owner, const Theme& theme, const std::string& title,
                               const std::string& text, DialogIcon icon, DialogButtons buttons) {
  YesNoDialog dialog(theme);
  if (!dialog.Build(owner, title, ExpandBlackMarkers(text), icon, buttons)) {
    return DialogResult::Cancel;
  }
  return dialog.RunModal(owner);
  // The dialog's window goes with the object, on every way out of this function.
}

bool YesNoDialog::Build(HWND owner, const std::string& title, const std::string& text,
                        DialogIcon icon, DialogButtons buttons) {
  dpi_ = owner != nullptr ? DpiForWindow(owner) : DpiForSystem();
  RegisterWindowClass(kDialogClass, CS_SAVEBITS, nullptr);
  const SIZE size = WindowSizeForClient(S(kClientWidth), S(kClientHeight), kStyle, kExStyle, dpi_);
  const POINT place = CentredPlace(owner, size);
  if (!CreateBound(kExStyle, kDialogClass, L"", kStyle, place.x, place.y, size.cx, size.cy, owner,
                   nullptr)) {
    return false;
  }
  EnableDialogKeys(Hwnd());
  CreateIcon(icon);
  CreateTexts(title, text);
  CreateButtons(buttons);
  return true;
}

POINT YesNoDialog::CentredPlace(HWND owner, SIZE size) {
  // Centred on the owner while it is on screen, else on the owner's (or the main) monitor.
  RECT area{};
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &info);
    area = info.rcWork;
  }
  int x = area.left + (area.right - area.left - size.cx) / 2;
  int y = area.top + (area.bottom - area.top - size.cy) / 2;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), &monitor)) {
    x = std::max(static_cast<int>(monitor.rcWork.left),
                 std::min(x, static_cast<int>(monitor.rcWork.right - size.cx)));
    y = std::max(static_cast<int>(monitor.rcWork.top),
                 std::min(y, static_cast<int>(monitor.rcWork.bottom - size.cy)));
  }
  return POINT{x, y};
}

void YesNoDialog::CreateIcon(DialogIcon icon) {
  icons_ = ImageList::FromIcons(
      {LK_ICON_WARNING, LK_ICON_INFORMATION, LK_ICON_CRITICAL, LK_ICON_QUESTION}, S(32));
  PictureBox::CreateArgs iconArgs;
  iconArgs.parent = Hwnd();
  iconArgs.id = kIdDialogIcon;
  iconArgs.place = RECT{S(8), S(8), S(8 + 41), S(8 + 41)};
  iconArgs.visible = icon != DialogIcon::None;
  iconArgs.dpi = dpi_;
  icon_.Create(iconArgs);
  const int iconIndex = static_cast<int>(icon) - 1;
  if (iconIndex >= 0 && iconIndex < 4)
    icon_.SetImage(icons_.Get(), iconIndex);
  else
    icon_.Show(false);
}

void YesNoDialog::CreateTexts(const std::string& title, const std::string& text) {
  MarkupLabel::CreateArgs titleArgs;
  titleArgs.parent = Hwnd();
  titleArgs.id = kIdDialogTitle;
  titleArgs.place = RECT{S(60), S(10), S(kClientWidth - 8), S(kCaptionHeight - 6)};
  titleArgs.fontFace = theme_.fontFace;
  titleArgs.fontPixels = 16;
  titleArgs.bold = true;
  titleArgs.textColor = Rgb(0xFFFFFF);
  titleArgs.linkColor = Rgb(0xFFFFFF);
  titleArgs.dpi = dpi_;
  title_.Create(titleArgs);
  title_.SetText(title);

  MarkupLabel::CreateArgs messageArgs = titleArgs;
  messageArgs.id = kIdDialogMessage;
  messageArgs.place = RECT{S(16), S(kMessageTop + 8), S(16 + 396), S(kMessageTop + 8 + 179)};
  messageArgs.fontPixels = 12;
  messageArgs.bold = false;
  messageArgs.textColor = Rgb(0x000000);
  messageArgs.linkColor = Rgb(0x083D97);
  messageArgs.background = Rgb(0xFFFFFF);
  messageArgs.scrollable = true;
  message_.Create(messageArgs);
  message_.SetText(text);
}

void YesNoDialog::CreateButtons(DialogButtons buttons) {
  const int barTop = kClientHeight - kButtonBarHeight;
  for (std::size_t i = 0; i < 4; ++i) {
    const ButtonSpec& spec = kButtons[i];
    GlowButton::CreateArgs args;
    args.parent = Hwnd();
    args.id = spec.id;
    args.caption = spec.caption;
    args.place = RECT{S(spec.left), S(barTop + kButtonTop), S(spec.left + spec.width),
                      S(barTop + kButtonTop + kButtonHeight)};
    args.fontPixels = 11;
    args.bold = true;
    args.textColor = Rgb(0x083772);
    args.theme = &theme_;
    args.visible = (buttons & spec.bit) != 0;
    args.dpi = dpi_;
    buttons_[i].Create(args);
  }
}

DialogResult YesNoDialog::RunModal(HWND owner) {
  const HWND previousOpen = std::exchange(g_openDialog, Hwnd());
  const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
  if (disableOwner) EnableWindow(owner, FALSE);
  ShowWindow(Hwnd(), SW_SHOW);
  SetForegroundWindow(Hwnd());
  for (const GlowButton& button : buttons_) {
    if (IsWindowVisible(button.Hwnd())) {
      SetFocus(button.Hwnd());
      break;
    }
  }
  MSG message{};
  while (!done_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The program is ending: leave the quit request for the main loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      result_ = DialogResult::Cancel;
      break;
    }
    if (got < 0) {
      result_ = DialogResult::Cancel;
      break;
    }
    if (RouteDialogKeys(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // Enable the owner before the dialog goes, so that the activation returns to it.
  if (disableOwner && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (Hwnd() != nullptr) ShowWindow(Hwnd(), SW_HIDE);
  g_openDialog = previousOpen;
  return result_;
}

void YesNoDialog::End(DialogResult result) {
  if (done_) return;
  result_ = result;
  done_ = true;
  // Wake the modal loop if it waits in GetMessage.
  PostMessageW(Hwnd(), WM_NULL, 0, 0);
}

void YesNoDialog::Paint(HDC dc, const RECT& client) {
  FillGradient(dc, RECT{0, 0, client.right, S(kCaptionHeight)}, kCaptionTop, kCaptionBottom);
  FillSolid(dc, RECT{0, S(kMessageTop), client.right, S(kMessageBottom)}, Rgb(0xFFFFFF));
  const int barTop = client.bottom - S(kButtonBarHeight);
  FillGradient(dc, RECT{0, std::max(barTop, S(kMessageBottom)), client.right, client.bottom},
               kBarTop, kBarBottom);
  const int lineY = barTop + S(6);
  const int lineHeight = std::max(1, S(1));
  FillSolid(dc, RECT{S(11), lineY, S(11 + 401), lineY + lineHeight}, theme_.separatorDark);
  FillSolid(dc, RECT{S(11), lineY + lineHeight, S(11 + 401), lineY + 2 * lineHeight},
            theme_.separatorLight);
}

LRESULT YesNoDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      // Only the buttons answer: Enter clicks the focused one; IDOK and IDCANCEL from Enter and
      // Escape mean nothing otherwise.
      if (ClickFocusedButtonOnEnter(Hwnd(), wParam, lParam)) return 0;
      if (lParam != 0 && HIWORD(wParam) == BN_CLICKED) {
        for (const ButtonSpec& spec : kButtons) {
          if (LOWORD(wParam) == spec.id) End(spec.result);
        }
      }
      return 0;
    case WM_CLOSE:
      End(DialogResult::Cancel);
      return 0;
    case WM_DESTROY:
      // Destroyed from outside (with its owner): the modal loop must not wait any longer.
      if (!done_) {
        result_ = DialogResult::Cancel;
        done_ = true;
      }
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        End(DialogResult::Cancel);
        return 0;
      }
      break;
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4) {
        End(DialogResult::Cancel);
        return 0;
      }
      break;
    case WM_NCHITTEST: {
      // The caption bar moves the dialog, as a title bar would.
      const LRESULT hit = Default(message, wParam, lParam);
      if (hit == HTCLIENT) {
        POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ScreenToClient(Hwnd(), &point);
        if (point.y < S(kCaptionHeight)) return HTCAPTION;
      }
      return hit;
    }
    default:
      break;
  }
  return BufferedWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace lk::ui
