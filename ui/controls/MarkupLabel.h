#pragma once
// A label that renders the program's markup (bold, italic, underline, line breaks, links, text
// colour, indents, inline images; see markup/Markup.h) with word wrap. Links take the link
// colour, show the hand cursor and open their target with the shell's "open" action on a click.
//
// The label is a real window whose text (WM_GETTEXT) is the plain text without tags, so screen
// readers and tests read what is shown. A transparent label paints its parent's background
// behind the text. Optional: a mirrored, fading reflection under the text; small scroll arrows at
// the right-hand corners when the text is taller than the label.

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <string>

#include "markup/MarkupLayout.h"
#include "ui/controls/Gdi.h"
#include "ui/controls/Window.h"

namespace lk::ui {

class MarkupLabel final : public BufferedWindow {
 public:
  // Answers WM_PRINTCLIENT too: what it shows may stand behind a transparent control.
  MarkupLabel() : BufferedWindow(PrintClient::Answer) {}
  struct CreateArgs {
    HWND parent = nullptr;
    int id = 0;
    RECT place{};  // device pixels
    std::wstring fontFace = L"Tahoma";
    int fontPixels = 11;
    bool bold = false;
    COLORREF textColor = Rgb(0x000000);
    COLORREF linkColor = Rgb(0x083D97);
    // Background: none (transparent), one colour, or a vertical gradient.
    std::optional<COLORREF> background{};
    std::optional<COLORREF> gradientBottom{};
    int lineSpacing = 0;
    bool wordWrap = true;
    bool plainText = false;  // show the text as it is, without markup
    bool verticalCenter = false;
    bool scrollable = false;
    int reflectionHeight = 0;  // designed pixels
    HIMAGELIST images = nullptr;
    bool visible = true;
    UINT dpi = 96;
  };

  bool Create(const CreateArgs& args);
  // The text in markup (UTF-8), or as it is for a plain label.
  void SetText(const std::string& utf8);
  void SetDpi(UINT dpi);
  void SetImages(HIMAGELIST images);
  // The height the text needs at the current width (device pixels).
  [[nodiscard]] int TextHeight();

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HFONT FontFor(const markup::TextStyle& style);
  const markup::Layout& CurrentLayout(HDC dc);
  void Paint(HDC dc, const RECT& client) override;
  void DrawText(HDC dc, int offsetX, int offsetY, bool maskOnly);
  void DrawReflection(HDC dc, const RECT& client, int offsetY);
  [[nodiscard]] bool NeedsScrolling();
  [[nodiscard]] RECT ArrowRect(bool up) const;
  void ScrollBy(int pixels);
  [[nodiscard]] std::string LinkAt(POINT point);

  CreateArgs args_;
  std::vector<markup::Item> items_;
  UniqueFont fonts_[8];
  std::optional<markup::Layout> layout_;
  int layoutWidth_ = -1;
  int scrollY_ = 0;
  std::string hoverLink_;
};

}  // namespace lk::ui
