#pragma once
// Places parsed markup items on lines of a given width: word wrap at blanks, <IND> indents,
// inline images, explicit line breaks. The drawing side supplies the measurements through
// TextMeasurer and paints the fragments; this class never touches a device.
//
// Guarantees: fragments come in reading order; a word wider than the whole line is placed on a
// line of its own (it is not split); blanks at the start of a wrapped line are dropped.

#include <string>
#include <string_view>
#include <vector>

#include "markup/Markup.h"

namespace lk::markup {

struct FontMetrics {
  int ascent = 0;
  int descent = 0;
};

class TextMeasurer {
 public:
  TextMeasurer() = default;
  TextMeasurer(const TextMeasurer&) = delete;
  TextMeasurer& operator=(const TextMeasurer&) = delete;
  virtual ~TextMeasurer() = default;

  [[nodiscard]] virtual int TextWidth(std::string_view utf8, const TextStyle& style) = 0;
  [[nodiscard]] virtual FontMetrics Metrics(const TextStyle& style) = 0;
  // Width and height of image n of the control's image list (0 x 0 when it has none).
  [[nodiscard]] virtual int ImageWidth(int index) = 0;
  [[nodiscard]] virtual int ImageHeight(int index) = 0;
  // Converts a designed pixel distance (an <IND x="n">) to device pixels.
  [[nodiscard]] virtual int ScaleDesignPixels(int pixels) = 0;
};

struct Fragment {
  int x = 0;
  int y = 0;  // top of the text or image
  int width = 0;
  int height = 0;
  int line = 0;
  int imageIndex = -1;  // an image when >= 0, else text
  std::string text;
  TextStyle style;
};

struct Layout {
  std::vector<Fragment> fragments;
  int width = 0;   // widest line
  int height = 0;  // all lines
  int lineCount = 0;

  // The link target under the point, or empty.
  [[nodiscard]] std::string LinkAt(int x, int y) const;
};

struct LayoutOptions {
  int maxWidth = 0;     // 0: no wrapping
  int lineSpacing = 0;  // extra pixels between lines
  bool wordWrap = true;
};

[[nodiscard]] Layout LayOut(const std::vector<Item>& items, TextMeasurer& measurer,
                            const LayoutOptions& options);

}  // namespace lk::markup
