#include "markup/MarkupLayout.h"

#include <algorithm>

namespace lk::markup {
namespace {

// Splits a text run into words and the blanks between them, keeping both.
std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < text.size()) {
    const bool blank = text[i] == ' ';
    std::size_t j = i;
    while (j < text.size() && (text[j] == ' ') == blank) ++j;
    parts.push_back(text.substr(i, j - i));
    i = j;
  }
  return parts;
}

class LineBuilder {
 public:
  LineBuilder(TextMeasurer& measurer, const LayoutOptions& options)
      : measurer_(measurer), options_(options) {}

  void AddText(std::string_view text, const TextStyle& style) {
    const FontMetrics metrics = measurer_.Metrics(style);
    for (std::string_view part : SplitWords(text)) {
      const bool blank = part.front() == ' ';
      if (blank && x_ == lineStartX_ && wrapped_) continue;  // no blanks at a wrapped line's start
      const int width = measurer_.TextWidth(part, style);
      if (!blank && options_.wordWrap && options_.maxWidth > 0 && x_ + width > options_.maxWidth &&
          x_ > lineStartX_) {
        TrimTrailingBlanks();
        EndLine(true);
      }
      Place(part, style, width, metrics.ascent, metrics.descent, -1);
    }
  }

  void AddImage(int index, const TextStyle& style) {
    const int width = measurer_.ImageWidth(index);
    const int height = measurer_.ImageHeight(index);
    if (options_.wordWrap && options_.maxWidth > 0 && x_ + width > options_.maxWidth &&
        x_ > lineStartX_) {
      EndLine(true);
    }
    // An image stands on the baseline.
    Place({}, style, width, height, 0, index);
  }

  void Indent(int designPixels) {
    x_ = measurer_.ScaleDesignPixels(designPixels);
    if (pending_.empty()) lineStartX_ = x_;
  }

  void Break() { EndLine(false); }

  Layout Finish(const TextStyle& baseStyle) {
    if (!pending_.empty() || result_.lineCount == 0) EndLine(false, &baseStyle);
    // The spacing belongs between lines, not after the last one.
    if (result_.lineCount > 0) result_.height -= options_.lineSpacing;
    return std::move(result_);
  }

 private:
  struct Pending {
    Fragment fragment;
    int ascent;
    int descent;
  };

  void Place(std::string_view text, const TextStyle& style, int width, int ascent, int descent,
             int image) {
    Fragment f;
    f.x = x_;
    f.width = width;
    f.imageIndex = image;
    f.text = std::string(text);
    f.style = style;
    // Merge with the previous fragment of the same style to keep the fragment count low.
    if (image < 0 && !pending_.empty() && pending_.back().fragment.imageIndex < 0 &&
        pending_.back().fragment.style == style &&
        pending_.back().fragment.x + pending_.back().fragment.width == x_) {
      // Measure the joined text as a whole: the sum of its parts' rounded widths can be a few
      // pixels wider than the text drawn in one piece.
      Fragment& joined = pending_.back().fragment;
      joined.text += f.text;
      joined.width = measurer_.TextWidth(joined.text, joined.style);
      x_ = joined.x + joined.width;
      return;
    }
    pending_.push_back(Pending{std::move(f), ascent, descent});
    x_ += width;
  }

  void TrimTrailingBlanks() {
    while (!pending_.empty() && pending_.back().fragment.imageIndex < 0) {
      Fragment& f = pending_.back().fragment;
      const std::size_t keep = f.text.find_last_not_of(' ');
      if (keep == std::string::npos) {
        pending_.pop_back();
        continue;
      }
      if (keep + 1 < f.text.size()) {
        f.text.erase(keep + 1);
        f.width = measurer_.TextWidth(f.text, f.style);
      }
      break;
    }
  }

  void EndLine(bool wrapped, const TextStyle* emptyLineStyle = nullptr) {
    int ascent = 0;
    int descent = 0;
    for (const Pending& p : pending_) {
      ascent = std::max(ascent, p.ascent);
      descent = std::max(descent, p.descent);
    }
    if (pending_.empty()) {
      // An empty line still has the height of the text around it.
      const FontMetrics m = measurer_.Metrics(emptyLineStyle ? *emptyLineStyle : lastStyle_);
      ascent = m.ascent;
      descent = m.descent;
    }
    int right = 0;
    for (Pending& p : pending_) {
      p.fragment.y = top_ + ascent - p.ascent;
      p.fragment.height = p.ascent + p.descent;
      p.fragment.line = result_.lineCount;
      right = std::max(right, p.fragment.x + p.fragment.width);
      lastStyle_ = p.fragment.style;
      result_.fragments.push_back(std::move(p.fragment));
    }
    pending_.clear();
    result_.width = std::max(result_.width, right);
    top_ += ascent + descent + options_.lineSpacing;
    result_.height = top_;
    ++result_.lineCount;
    x_ = 0;
    lineStartX_ = 0;
    wrapped_ = wrapped;
  }

  TextMeasurer& measurer_;
  const LayoutOptions& options_;
  Layout result_;
  std::vector<Pending> pending_;
  TextStyle lastStyle_;
  int x_ = 0;
  int lineStartX_ = 0;
  int top_ = 0;
  bool wrapped_ = false;
};

}  // namespace

std::string Layout::LinkAt(int x, int y) const {
  for (const Fragment& f : fragments) {
    if (f.style.IsLink() && x >= f.x && x < f.x + f.width && y >= f.y && y < f.y + f.height) {
      return f.style.href;
    }
  }
  return {};
}

Layout LayOut(const std::vector<Item>& items, TextMeasurer& measurer,
              const LayoutOptions& options) {
  LineBuilder builder(measurer, options);
  for (const Item& item : items) {
    switch (item.kind) {
      case ItemKind::Text:
        builder.AddText(item.text, item.style);
        break;
      case ItemKind::LineBreak:
        builder.Break();
        break;
      case ItemKind::Indent:
        builder.Indent(item.value);
        break;
      case ItemKind::Image:
        builder.AddImage(item.value, item.style);
        break;
    }
  }
  return builder.Finish(TextStyle{});
}

}  // namespace lk::markup
