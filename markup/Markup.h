#pragma once
// The small HTML-like markup of the window's labels and the message dialog, parsed into a flat
// list of items (styled text runs, line breaks, indents, inline images).
//
// Supported, tag names in either case: <b> <i> <u> with their closing tags, <br>, a CR LF pair
// (a line break like <br>; a lone LF or CR is dropped), <a href="..."> ... </a>,
// <FONT color="#rrggbb"> ... </FONT>, <IND x="n">, <IMG src="idx:n">. A closing tag without an
// opening one (the stray </P> of the footer) and unknown tags are ignored. A '<' that does not
// begin a tag is kept as text. The entities &lt; &gt; &amp; &quot; and &nbsp; are decoded.
//
// Portable: no OS headers. Texts are UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lk::markup {

struct TextStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  // 0xRRGGBB; no value: the control's own text colour (or its link colour inside a link).
  std::optional<std::uint32_t> color;
  // The link target; empty outside a link.
  std::string href;

  [[nodiscard]] bool IsLink() const { return !href.empty(); }
  friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

enum class ItemKind : std::uint8_t { Text, LineBreak, Indent, Image };

struct Item {
  ItemKind kind = ItemKind::Text;
  std::string text;  // Text only
  TextStyle style;   // Text and Image (an image inside a link is part of the link)
  int value = 0;     // Indent: pixels from the left edge; Image: image list index
};

// Parses markup into items. Adjacent text of the same style is merged into one item.
[[nodiscard]] std::vector<Item> Parse(std::string_view markup);

// The text a reader hears: the text items, line breaks as CR LF, no tags.
[[nodiscard]] std::string PlainText(const std::vector<Item>& items);

}  // namespace lk::markup
