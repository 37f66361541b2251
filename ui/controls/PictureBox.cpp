#include "ui/controls/PictureBox.h"

#include "ui/controls/Dpi.h"
#include "ui/controls/Gdi.h"

namespace lk::ui {
namespace {
constexpr wchar_t kClassName[] = L"LkPictureBox";
}

bool PictureBox::Create(const CreateArgs& args) {
  dpi_ = args.dpi;
  RegisterWindowClass(kClassName, 0, nullptr);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (args.visible) style |= WS_VISIBLE;
  return CreateBound(0, kClassName, L"", style, args.place.left, args.place.top,
                     args.place.right - args.place.left, args.place.bottom - args.place.top,
                     args.parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(args.id)));
}

void PictureBox::SetPicture(Picture picture, int designWidth, int designHeight) {
  picture_ = std::move(picture);
  designWidth_ = designWidth;
  designHeight_ = designHeight;
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void PictureBox::SetImage(HIMAGELIST images, int index) {
  images_ = images;
  index_ = index;
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void PictureBox::SetDpi(UINT dpi) {
  dpi_ = dpi;
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void PictureBox::Paint(HDC dc, const RECT& client) {
  PaintParentBackground(Hwnd(), dc);
  if (images_ != nullptr && index_ >= 0) {
    int cx = 0;
    int cy = 0;
    ImageList_GetIconSize(images_, &cx, &cy);
    ImageList_Draw(images_, index_, dc, (client.right - cx) / 2, (client.bottom - cy) / 2,
                   ILD_TRANSPARENT);
    return;
  }
  if (picture_.IsEmpty()) return;
  const int width = Scale(designWidth_, dpi_);
  const int height = Scale(designHeight_, dpi_);
  const int left = (client.right - width) / 2;
  const int top = (client.bottom - height) / 2;
  picture_.Draw(dc, RECT{left, top, left + width, top + height});
}

LRESULT PictureBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST:
      return HTTRANSPARENT;
    default:
      break;
  }
  return BufferedWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace lk::ui
