#include "ui/controls/Picture.h"

// GDI+ expects these in scope, as the Windows SDK headers define them.
#include <shlwapi.h>

#include "ui/controls/GdiPlus.h"

namespace lk::ui {
namespace {

// The resource's bytes, valid for the program's lifetime.
std::pair<const void*, DWORD> ResourceBytes(int id) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (info == nullptr) return {nullptr, 0};
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) return {nullptr, 0};
  return {LockResource(loaded), SizeofResource(module, info)};
}

}  // namespace

Picture::Picture() noexcept = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;
Picture::~Picture() = default;

Picture Picture::FromResource(int id1x, int id2x, UINT dpi) {
  Picture picture;
  const auto [data, size] = ResourceBytes(dpi <= 96 ? id1x : id2x);
  if (data == nullptr || size == 0) return picture;
  IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(data), size);
  if (stream == nullptr) return picture;
  {
    Gdiplus::Bitmap decoded(stream);
    if (decoded.GetLastStatus() == Gdiplus::Ok) {
      const auto width = static_cast<INT>(decoded.GetWidth());
      const auto height = static_cast<INT>(decoded.GetHeight());
      // A premultiplied copy of our own: independent of the stream and fast to draw.
      auto copy = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
      if (copy->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics graphics(copy.get());
        graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
        graphics.DrawImage(&decoded, 0, 0, width, height);
        picture.bitmap_ = std::move(copy);
      }
    }
  }
  stream->Release();
  return picture;
}

void Picture::Draw(HDC dc, const RECT& target) const {
  if (!bitmap_) return;
  Gdiplus::Graphics graphics(dc);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  const INT width = target.right - target.left;
  const INT height = target.bottom - target.top;
  if (static_cast<UINT>(width) == bitmap_->GetWidth() &&
      static_cast<UINT>(height) == bitmap_->GetHeight()) {
    graphics.DrawImage(bitmap_.get(), static_cast<INT>(target.left), static_cast<INT>(target.top));
  } else {
    graphics.DrawImage(bitmap_.get(), Gdiplus::Rect(target.left, target.top, width, height));
  }
}

GdiplusSession::GdiplusSession() noexcept {
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token_, &input, nullptr);
}

GdiplusSession::~GdiplusSession() {
  if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
}

}  // namespace lk::ui
