#include "ui/controls/MarkupLabel.h"

#include <shellapi.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "markup/Markup.h"
#include "ui/controls/Dpi.h"
#include "ui/controls/Theme.h"
#include "win32/Utf.h"

namespace lk::ui {
namespace {

constexpr wchar_t kClassName[] = L"LkMarkupLabel";

class GdiMeasurer final : public markup::TextMeasurer {
 public:
  GdiMeasurer(HDC dc, std::function<HFONT(const markup::TextStyle&)> font, HIMAGELIST images,
              UINT dpi)
      : dc_(dc), font_(std::move(font)), images_(images), dpi_(dpi) {}

  int TextWidth(std::string_view utf8, const markup::TextStyle& style) override {
    const std::wstring text = WideFromUtf8(utf8);
    ScopedSelect select(dc_, font_(style));
    SIZE size{};
    GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
  }
  markup::FontMetrics Metrics(const markup::TextStyle& style) override {
    ScopedSelect select(dc_, font_(style));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc_, &tm);
    return {tm.tmAscent, tm.tmDescent};
  }
  int ImageWidth(int) override { return ImageSize().cx; }
  int ImageHeight(int) override { return ImageSize().cy; }
  int ScaleDesignPixels(int pixels) override { return Scale(pixels, dpi_); }

 private:
  SIZE ImageSize() const {
    int cx = 0;
    int cy = 0;
    if (images_ != nullptr) ImageList_GetIconSize(images_, &cx, &cy);
    return SIZE{cx, cy};
  }

  HDC dc_;
  std::function<HFONT(const markup::TextStyle&)> font_;
  HIMAGELIST images_;
  UINT dpi_;
};

// The advance of each character as the layout measured it. Drawing with these keeps every glyph
// where the layout put it: some fonts carry hand-tuned bitmaps for small sizes whose own advances
// differ from the measured ones, which would otherwise open gaps after bold runs and leave link
// underlines longer than their text.
std::vector<INT> MeasuredAdvances(HDC dc, const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  std::vector<INT> ends(text.size());
  SIZE size{};
  if (length == 0 ||
      !GetTextExtentExPointW(dc, text.c_str(), length, 0, nullptr, ends.data(), &size)) {
    return {};
  }
  std::vector<INT> advances(text.size());
  int previous = 0;
  for (std::size_t i = 0; i < ends.size(); ++i) {
    advances[i] = ends[i] - previous;
    previous = ends[i];
  }
  return advances;
}

bool IsOpenableLink(const std::string& href) {
  return href.find_first_not_of(' ') != std::string::npos;
}

}  // namespace

bool MarkupLabel::Create(const CreateArgs& args) {
  args_ = args;
  RegisterWindowClass(kClassName, 0, nullptr);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (args.visible) style |= WS_VISIBLE;
  return CreateBound(0, kClassName, L"", style, args.place.left, args.place.top,
                     args.place.right - args.place.left, args.place.bottom - args.place.top,
                     args.parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(args.id)));
}

void MarkupLabel::SetText(const std::string& utf8) {
  if (args_.plainText) {
    items_.clear();
    markup::Item item;
    item.text = utf8;
    items_.push_back(std::move(item));
  } else {
    items_ = markup::Parse(utf8);
  }
  const std::wstring plain = WideFromUtf8(markup::PlainText(items_));
  DefWindowProcW(Hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(plain.c_str()));
  layout_.reset();
  scrollY_ = 0;
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void MarkupLabel::SetDpi(UINT dpi) {
  args_.dpi = dpi;
  for (UniqueFont& font : fonts_) font.Reset();
  layout_.reset();
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

void MarkupLabel::SetImages(HIMAGELIST images) {
  args_.images = images;
  layout_.reset();
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

int MarkupLabel::TextHeight() {
  const WindowDc dc(Hwnd());
  return CurrentLayout(dc.Get()).height;
}

HFONT MarkupLabel::FontFor(const markup::TextStyle& style) {
  const bool bold = style.bold || args_.bold;
  const std::size_t index =
      (bold ? 1u : 0u) | (style.italic ? 2u : 0u) |
      (style.underline || (style.IsLink() && IsOpenableLink(style.href)) ? 4u : 0u);
  UniqueFont& font = fonts_[index];
  if (!font) {
    font = MakeFont(args_.fontFace, args_.fontPixels, args_.dpi, (index & 1u) != 0,
                    (index & 2u) != 0, (index & 4u) != 0);
  }
  return font.Get();
}

const markup::Layout& MarkupLabel::CurrentLayout(HDC dc) {
  RECT client{};
  GetClientRect(Hwnd(), &client);
  int width = client.right;
  if (args_.scrollable) width -= Scale(14, args_.dpi);  // room for the scroll arrows
  if (!layout_ || layoutWidth_ != width) {
    GdiMeasurer measurer(
        dc, [this](const markup::TextStyle& style) { return FontFor(style); }, args_.images,
        args_.dpi);
    markup::LayoutOptions options;
    options.maxWidth = std::max(1, width);
    options.lineSpacing = Scale(args_.lineSpacing, args_.dpi);
    options.wordWrap = args_.wordWrap;
    layout_ = markup::LayOut(items_, measurer, options);
    layoutWidth_ = width;
  }
  return *layout_;
}

void MarkupLabel::DrawText(HDC dc, int offsetX, int offsetY, bool maskOnly) {
  const markup::Layout& layout = CurrentLayout(dc);
  SetBkMode(dc, TRANSPARENT);
  for (const markup::Fragment& f : layout.fragments) {
    const int x = f.x + offsetX;
    const int y = f.y + offsetY;
    if (f.imageIndex >= 0) {
      if (!maskOnly && args_.images != nullptr) {
        ImageList_Draw(args_.images, f.imageIndex, dc, x, y, ILD_TRANSPARENT);
      }
      continue;
    }
    COLORREF color = args_.textColor;
    if (f.style.IsLink()) color = args_.linkColor;
    if (f.style.color) color = Rgb(*f.style.color);
    SetTextColor(dc, maskOnly ? RGB(255, 255, 255) : color);
    ScopedSelect select(dc, FontFor(f.style));
    const std::wstring text = WideFromUtf8(f.text);
    const std::vector<INT> advances = MeasuredAdvances(dc, text);
    ExtTextOutW(dc, x, y, 0, nullptr, text.c_str(), CountAs<UINT>(text.size()),
                advances.empty() ? nullptr : advances.data());
  }
}

void MarkupLabel::DrawReflection(HDC dc, const RECT& client, int offsetY) {
  const markup::Layout& layout = CurrentLayout(dc);
  const int height = Scale(args_.reflectionHeight, args_.dpi);
  const int width = client.right;
  if (height <= 0 || width <= 0 || layout.height <= 0) return;
  // The text's coverage as a white-on-black mask, then mirrored below the text with a fading
  // opacity, in the text colour.
  MemoryCanvas mask(dc, width, layout.height);
  MemoryCanvas target(dc, width, height);
  if (mask.Pixels() == nullptr || target.Pixels() == nullptr) return;
  std::fill_n(mask.Pixels(),
              static_cast<std::size_t>(width) * static_cast<std::size_t>(layout.height), 0u);
  DrawText(mask.Dc(), 0, 0, true);
  GdiFlush();
  const int top = offsetY + layout.height;
  BitBlt(target.Dc(), 0, 0, width, height, dc, 0, top, SRCCOPY);
  GdiFlush();
  const COLORREF color = args_.textColor;
  for (int row = 0; row < height && row < layout.height; ++row) {
    const int sourceRow = layout.height - 1 - row;
    const int fade = 110 * (height - row) / height;  // opacity, of 255
    for (int column = 0; column < width; ++column) {
      const std::uint32_t coverage =
          mask.Pixels()[static_cast<std::size_t>(sourceRow) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(column)] &
          0xFFu;
      if (coverage == 0) continue;
      std::uint32_t& pixel =
          target.Pixels()[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(column)];
      const std::uint32_t alpha = coverage * static_cast<std::uint32_t>(fade) / 255u;
      auto mix = [alpha](std::uint32_t back, std::uint32_t front) {
        return (back * (255u - alpha) + front * alpha) / 255u;
      };
      const std::uint32_t r = mix((pixel >> 16) & 0xFFu, GetRValue(color));
      const std::uint32_t g = mix((pixel >> 8) & 0xFFu, GetGValue(color));
      const std::uint32_t b = mix(pixel & 0xFFu, GetBValue(color));
      pixel = (r << 16) | (g << 8) | b;
    }
  }
  BitBlt(dc, 0, top, width, height, target.Dc(), 0, 0, SRCCOPY);
}

bool MarkupLabel::NeedsScrolling() {
  if (!args_.scrollable) return false;
  RECT client{};
  GetClientRect(Hwnd(), &client);
  const WindowDc dc(Hwnd());
  return CurrentLayout(dc.Get()).height > client.bottom;
}

RECT MarkupLabel::ArrowRect(bool up) const {
  RECT client{};
  GetClientRect(Hwnd(), &client);
  const int w = Scale(12, args_.dpi);
  const int h = Scale(10, args_.dpi);
  return up ? RECT{client.right - w, 0, client.right, h}
            : RECT{client.right - w, client.bottom - h, client.right, client.bottom};
}

void MarkupLabel::ScrollBy(int pixels) {
  RECT client{};
  GetClientRect(Hwnd(), &client);
  int maxScroll = 0;
  {
    const WindowDc dc(Hwnd());
    maxScroll = std::max(0, CurrentLayout(dc.Get()).height - static_cast<int>(client.bottom));
  }
  scrollY_ = std::clamp(scrollY_ + pixels, 0, maxScroll);
  InvalidateRect(Hwnd(), nullptr, FALSE);
}

std::string MarkupLabel::LinkAt(POINT point) {
  if (!layout_) return {};
  int offsetY = -scrollY_;
  if (args_.verticalCenter) {
    RECT client{};
    GetClientRect(Hwnd(), &client);
    offsetY = (client.bottom - layout_->height) / 2;
  }
  std::string href = layout_->LinkAt(point.x, point.y - offsetY);
  return IsOpenableLink(href) ? href : std::string{};
}

void MarkupLabel::Paint(HDC dc, const RECT& client) {
  if (args_.background && args_.gradientBottom) {
    FillGradient(dc, client, *args_.background, *args_.gradientBottom);
  } else if (args_.background) {
    FillSolid(dc, client, *args_.background);
  } else {
    PaintParentBackground(Hwnd(), dc);
  }
  const markup::Layout& layout = CurrentLayout(dc);
  int offsetY = -scrollY_;
  if (args_.verticalCenter) offsetY = (client.bottom - layout.height) / 2;
  DrawText(dc, 0, offsetY, false);
  if (args_.reflectionHeight > 0) DrawReflection(dc, client, offsetY);
  if (NeedsScrolling()) {
    static const Theme kTheme;
    const UniqueBrush brush(CreateSolidBrush(kTheme.scrollArrow));
    const ScopedSelect selectBrush(dc, brush.Get());
    const ScopedSelect selectPen(dc, GetStockObject(NULL_PEN));
    for (bool up : {true, false}) {
      const RECT r = ArrowRect(up);
      const bool enabled = up ? scrollY_ > 0 : scrollY_ < layout.height - client.bottom;
      if (!enabled) continue;
      const int cx = (r.left + r.right) / 2;
      const int half = (r.right - r.left) / 2 - 1;
      POINT points[3];
      if (up) {
        points[0] = {cx - half, r.bottom - 2};
        points[1] = {cx + half, r.bottom - 2};
        points[2] = {cx, r.top + 1};
      } else {
        points[0] = {cx - half, r.top + 2};
        points[1] = {cx + half, r.top + 2};
        points[2] = {cx, r.bottom - 1};
      }
      Polygon(dc, points, 3);
    }
  }
}

LRESULT MarkupLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      layout_.reset();
      InvalidateRect(Hwnd(), nullptr, FALSE);
      return 0;
    case WM_SETCURSOR: {
      POINT point{};
      GetCursorPos(&point);
      ScreenToClient(Hwnd(), &point);
      if (!LinkAt(point).empty()) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN: {
      const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (NeedsScrolling()) {
        const RECT up = ArrowRect(true);
        const RECT down = ArrowRect(false);
        const int line = Scale(args_.fontPixels + 3, args_.dpi);
        if (PtInRect(&up, point)) {
          ScrollBy(-line);
          return 0;
        }
        if (PtInRect(&down, point)) {
          ScrollBy(line);
          return 0;
        }
      }
      hoverLink_ = LinkAt(point);
      return 0;
    }
    case WM_LBUTTONUP: {
      const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const std::string link = LinkAt(point);
      if (!link.empty() && link == hoverLink_) {
        ShellExecuteW(Hwnd(), L"open", WideFromUtf8(link).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      }
      hoverLink_.clear();
      return 0;
    }
    case WM_MOUSEWHEEL:
      if (NeedsScrolling()) {
        const int delta = static_cast<short>(HIWORD(wParam));
        ScrollBy(-delta * Scale(args_.fontPixels + 3, args_.dpi) * 3 / WHEEL_DELTA);
        return 0;
      }
      break;
    default:
      break;
  }
  return BufferedWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace lk::ui
