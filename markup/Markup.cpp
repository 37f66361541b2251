#include "markup/Markup.h"

#include <algorithm>
#include <charconv>

#include "base/TextCase.h"

namespace lk::markup {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One parsed tag: its name, whether it closes, and its attributes.
struct Tag {
  std::string_view name;
  bool closing = false;
  std::vector<std::pair<std::string_view, std::string_view>> attributes;

  [[nodiscard]] std::optional<std::string_view> Attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes) {
      if (EqualsIgnoringAsciiCase(k, key)) return v;
    }
    return std::nullopt;
  }
};

// Reads the tag that starts at text[pos] == '<'; returns its end (one past '>') or npos when
// the text there is no tag.
std::size_t ReadTag(std::string_view text, std::size_t pos, Tag& tag) {
  std::size_t i = pos + 1;
  if (i < text.size() && text[i] == '/') {
    tag.closing = true;
    ++i;
  }
  const std::size_t nameStart = i;
  while (i < text.size() && IsAsciiLetter(text[i])) ++i;
  if (i == nameStart) return std::string_view::npos;
  tag.name = text.substr(nameStart, i - nameStart);
  while (i < text.size()) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size()) return std::string_view::npos;
    if (text[i] == '>') return i + 1;
    if (text[i] == '/' && i + 1 < text.size() && text[i + 1] == '>') return i + 2;
    const std::size_t keyStart = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '=' && text[i] != '>' &&
           text[i] != '<') {
      ++i;
    }
    if (i == keyStart) return std::string_view::npos;  // a '<' inside: not a tag
    const std::string_view key = text.substr(keyStart, i - keyStart);
    std::string_view value;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i < text.size() && text[i] == '=') {
      ++i;
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        const char quote = text[i];
        const std::size_t close = text.find(quote, i + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        value = text.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const std::size_t valueStart = i;
        while (i < text.size() && !IsSpace(text[i]) && text[i] != '>') ++i;
        value = text.substr(valueStart, i - valueStart);
      }
    }
    tag.attributes.emplace_back(key, value);
  }
  return std::string_view::npos;
}

std::optional<int> ParseInt(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc{} || end == s.data()) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ParseColor(std::string_view s) {
  if (!s.empty() && s.front() == '#') s.remove_prefix(1);
  if (s.size() != 6) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
  if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return value;
}

class Parser {
 public:
  std::vector<Item> Run(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == '<') {
        Tag tag;
        const std::size_t end = ReadTag(text, i, tag);
        if (end != std::string_view::npos) {
          Apply(tag);
          i = end;
          continue;
        }
        AppendText("<");
        ++i;
      } else if (c == '\r' || c == '\n') {
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
          Push(Item{ItemKind::LineBreak, {}, {}, 0});
          i += 2;
        } else {
          ++i;  // a lone LF (or CR) is dropped
        }
      } else if (c == '&') {
        i += DecodeEntity(text.substr(i));
      } else if (c == '\t') {
        AppendText(" ");
        ++i;
      } else {
        const std::size_t next = text.find_first_of("<\r\n&\t", i);
        const std::size_t end = next == std::string_view::npos ? text.size() : next;
        AppendText(text.substr(i, end - i));
        i = end;
      }
    }
    return std::move(items_);
  }

 private:
  [[nodiscard]] TextStyle Current() const {
    TextStyle style;
    style.bold = bold_ > 0;
    style.italic = italic_ > 0;
    style.underline = underline_ > 0;
    if (!colors_.empty()) style.color = colors_.back();
    if (!links_.empty()) style.href = links_.back();
    return style;
  }

  void AppendText(std::string_view s) {
    if (s.empty()) return;
    TextStyle style = Current();
    if (!items_.empty() && items_.back().kind == ItemKind::Text && items_.back().style == style) {
      items_.back().text.append(s);
      return;
    }
    items_.push_back(Item{ItemKind::Text, std::string(s), std::move(style), 0});
  }

  void Push(Item item) { items_.push_back(std::move(item)); }

  std::size_t DecodeEntity(std::string_view s) {
    static constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&nbsp;", "\xC2\xA0"}};
    for (const auto& [name, replacement] : kEntities) {
      if (StartsWithIgnoringAsciiCase(s, name)) {
        AppendText(replacement);
        return name.size();
      }
    }
    AppendText("&");
    return 1;
  }

  static void Close(int& depth) { depth = std::max(0, depth - 1); }

  void Apply(const Tag& tag) {
    const std::string_view n = tag.name;
    if (EqualsIgnoringAsciiCase(n, "b") || EqualsIgnoringAsciiCase(n, "strong")) {
      tag.closing ? Close(bold_) : void(++bold_);
    } else if (EqualsIgnoringAsciiCase(n, "i") || EqualsIgnoringAsciiCase(n, "em")) {
      tag.closing ? Close(italic_) : void(++italic_);
    } else if (EqualsIgnoringAsciiCase(n, "u")) {
      tag.closing ? Close(underline_) : void(++underline_);
    } else if (EqualsIgnoringAsciiCase(n, "br")) {
      if (!tag.closing) Push(Item{ItemKind::LineBreak, {}, {}, 0});
    } else if (EqualsIgnoringAsciiCase(n, "a")) {
      if (tag.closing) {
        if (!links_.empty()) links_.pop_back();
      } else {
        // A link without a target still has to end at its </a>: mark it with a blank target
        // that opens nothing.
        const std::string_view target = tag.Attribute("href").value_or(" ");
        links_.emplace_back(target.empty() ? std::string_view(" ") : target);
      }
    } else if (EqualsIgnoringAsciiCase(n, "font")) {
      if (tag.closing) {
        if (!colors_.empty()) colors_.pop_back();
      } else {
        const auto color = tag.Attribute("color");
        const auto parsed = color ? ParseColor(*color) : std::nullopt;
        // Keep the enclosing colour for a FONT tag without a usable colour, so that its closing
        // tag still pairs up.
        colors_.push_back(parsed ? *parsed : (colors_.empty() ? kNoColor : colors_.back()));
      }
    } else if (EqualsIgnoringAsciiCase(n, "ind")) {
      if (!tag.closing) {
        const auto x = tag.Attribute("x");
        const auto value = x ? ParseInt(*x) : std::nullopt;
        if (value && *value >= 0) Push(Item{ItemKind::Indent, {}, {}, *value});
      }
    } else if (EqualsIgnoringAsciiCase(n, "img")) {
      const auto src = tag.Attribute("src");
      if (!tag.closing && src && src->size() > 4 && StartsWithIgnoringAsciiCase(*src, "idx:")) {
        const auto index = ParseInt(src->substr(4));
        if (index && *index >= 0) Push(Item{ItemKind::Image, {}, Current(), *index});
      }
    }
    // Anything else (</P>, <P>, unknown tags) is ignored.
  }

  static constexpr std::uint32_t kNoColor = 0xFFFFFFFFu;

  std::vector<Item> items_;
  int bold_ = 0;
  int italic_ = 0;
  int underline_ = 0;
  std::vector<std::uint32_t> colors_;
  std::vector<std::string> links_;

 public:
  static void NormaliseColors(std::vector<Item>& items) {
    for (Item& item : items) {
      if (item.style.color == kNoColor) item.style.color.reset();
    }
  }
};

}  // namespace

std::vector<Item> Parse(std::string_view markup) {
  std::vector<Item> items = Parser{}.Run(markup);
  Parser::NormaliseColors(items);
  // The colour placeholder may have split runs of equal style; merge them again.
  std::vector<Item> merged;
  merged.reserve(items.size());
  for (Item& item : items) {
    if (item.kind == ItemKind::Text && !merged.empty() && merged.back().kind == ItemKind::Text &&
        merged.back().style == item.style) {
      merged.back().text += item.text;
    } else {
      merged.push_back(std::move(item));
    }
  }
  return merged;
}

std::string PlainText(const std::vector<Item>& items) {
  std::string text;
  for (const Item& item : items) {
    if (item.kind == ItemKind::Text) {
      text += item.text;
    } else if (item.kind == ItemKind::LineBreak) {
      text += "\r\n";
    }
  }
  return text;
}

}  // namespace lk::markup
