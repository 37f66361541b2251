#include "ui/controls/BusyIndicator.h"

#include <cmath>

#include "ui/controls/Dpi.h"
#include "ui/controls/Shapes.h"

namespace lk::ui {
namespace {
constexpr wchar_t kClassName[] = L"LkBusyIndicator";
constexpr UINT_PTR kTimer = 1;
constexpr int kBlocks = 10;
}  // namespace

bool BusyIndicator::Create(const CreateArgs& args) {
  args_ = args;
  RegisterWindowClass(kClassName, 0, nullptr);
  return CreateBound(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, args.place.left,
                     args.place.top, args.place.right - args.place.left,
                     args.place.bottom - args.place.top, args.parent,
                     reinterpret_cast<HMENU>(static_cast<UINT_PTR>(args.id)));
}

void BusyIndicator::SetTurning(bool turning) {
  if (turning == turning_) return;
  turning_ = turning;
  if (turning_) {
    SetTimer(Hwnd(), kTimer, 90, nullptr);
  } else {
    KillTimer(Hwnd(), kTimer);
  }
  // Screen readers and tests can tell the state from the text.
  SetWindowTextW(Hwnd(), turning_ ? L"busy" : L"");
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void BusyIndicator::SetDpi(UINT dpi) {
  args_.dpi = dpi;
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void BusyIndicator::Paint(HDC dc, const RECT& client) {
  PaintParentBackground(Hwnd(), dc);
  Gdiplus::Graphics graphics(dc);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  const float cx = static_cast<float>(client.right) / 2.0f;
  const float cy = static_cast<float>(client.bottom) / 2.0f;
  const float radius = std::fmin(cx, cy) - 1.0f;
  const float blockLength = radius * 0.45f;
  const float blockWidth = std::fmax(2.0f, radius * 0.22f);
  constexpr float kPi = 3.14159265f;
  for (int i = 0; i < kBlocks; ++i) {
    // Distance behind the head of the running highlight: 0 is the head.
    const int behind = (step_ - i + kBlocks) % kBlocks;
    const int alpha = turning_ ? 255 - behind * 200 / kBlocks : (i == 0 ? 150 : 60);
    const float angle = 2.0f * kPi * static_cast<float>(i) / kBlocks - kPi / 2.0f;
    const float outer = radius;
    const float inner = radius - blockLength;
    Gdiplus::Pen pen(ToColor(args_.blockColor, static_cast<BYTE>(alpha)), blockWidth);
    pen.SetStartCap(Gdiplus::LineCapRound);
    pen.SetEndCap(Gdiplus::LineCapRound);
    graphics.DrawLine(&pen, cx + inner * std::cos(angle), cy + inner * std::sin(angle),
                      cx + outer * std::cos(angle) * 0.92f, cy + outer * std::sin(angle) * 0.92f);
  }
}

LRESULT BusyIndicator::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimer) {
        step_ = (step_ + 1) % kBlocks;
        InvalidateRect(Hwnd(), nullptr, FALSE);
        return 0;
      }
      break;
    case WM_DESTROY:
      KillTimer(Hwnd(), kTimer);
      break;
    default:
      break;
  }
  return BufferedWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace lk::ui
