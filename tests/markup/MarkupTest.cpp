// The markup of labels and dialogs: what the parser makes of the texts the program uses, and how
// the layout breaks and places them.
#include <gtest/gtest.h>

#include "markup/Markup.h"
#include "markup/MarkupLayout.h"

namespace lk::markup {
namespace {

// A compact dump: text runs with their style flags, and the other items by name.
std::string Dump(const std::vector<Item>& items) {
  std::string out;
  for (const Item& item : items) {
    if (!out.empty()) out += '|';
    switch (item.kind) {
      case ItemKind::Text: {
        std::string flags;
        if (item.style.bold) flags += 'b';
        if (item.style.italic) flags += 'i';
        if (item.style.underline) flags += 'u';
        if (item.style.color) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "#%06X", static_cast<unsigned>(*item.style.color));
          flags += hex;
        }
        if (item.style.IsLink()) flags += "@" + item.style.href;
        out += flags.empty() ? item.text : flags + ":" + item.text;
        break;
      }
      case ItemKind::LineBreak:
        out += "BR";
        break;
      case ItemKind::Indent:
        out += "IND" + std::to_string(item.value);
        break;
      case ItemKind::Image:
        out +=
            "IMG" + std::to_string(item.value) + (item.style.IsLink() ? "@" + item.style.href : "");
        break;
    }
  }
  return out;
}

TEST(MarkupStyles, TagsInEitherCaseSwitchBoldItalicUnderline) {
  EXPECT_EQ(Dump(Parse("a<b>B</b><I>I</I><u>U</U><B><i>BI</i></B>")), "a|b:B|i:I|u:U|bi:BI");
}

TEST(MarkupStyles, FontColourAppliesUntilItsClosingTag) {
  EXPECT_EQ(Dump(Parse("x<FONT color=\"#000000\">black</FONT>y<font COLOR=\"#12ab3C\">c</font>")),
            "x|#000000:black|y|#12AB3C:c");
}

TEST(MarkupStyles, LinksCarryTheirTargetAndNestedStyles) {
  EXPECT_EQ(Dump(Parse("<b><a href=\"https://www.quandrel.example/\">Q</a></b> und "
                       "<A HREF=\"mailto:s@q.example\"><IMG src=\"idx:4\"> Feedback...</A>")),
            "b@https://www.quandrel.example/:Q| und |IMG4@mailto:s@q.example|@mailto:s@q.example: "
            "Feedback...");
}

TEST(MarkupBreaks, CrLfAndBrBreakALoneLfIsDropped) {
  EXPECT_EQ(Dump(Parse("a.dll\r\nb.dll<br>c<BR/>d\ne\rf")), "a.dll|BR|b.dll|BR|c|BR|def");
}

TEST(MarkupBreaks, IndentAndImageTakeTheirNumbers) {
  EXPECT_EQ(Dump(Parse("<IND x=\"10\">x<img src=\"IDX:3\">")), "IND10|x|IMG3");
}

TEST(MarkupTolerance, StrayClosingAndUnknownTagsAreIgnored) {
  EXPECT_EQ(Dump(Parse("a</b></P><blink>b</blink></FONT></a>")), "ab");
}

TEST(MarkupTolerance, LessThanThatIsNoTagStaysText) {
  EXPECT_EQ(Dump(Parse("1 < 2 <3 a<")), "1 < 2 <3 a<");
  EXPECT_EQ(Dump(Parse("x &lt;y&gt; &amp; &quot;z&quot; & w")), "x <y> & \"z\" & w");
}

TEST(MarkupTolerance, TagsAndEntitiesFoldOnlyAsciiLetters) {
  EXPECT_EQ(Dump(Parse("<StRoNg>x</sTrOnG>&AMP;&Lt;")), "b:x|&<");
  // A letter beyond ASCII never starts a tag name, whatever the byte values.
  EXPECT_EQ(Dump(Parse("<\xC3\x84>y<\xC4>z")), "<\xC3\x84>y<\xC4>z");
}

TEST(MarkupTolerance, UmlautsPassThroughUnchanged) {
  EXPECT_EQ(PlainText(Parse("Bitte pr\xC3\xBC"
                            "fen<br>gro\xC3\x9F")),
            "Bitte pr\xC3\xBC"
            "fen\r\ngro\xC3\x9F");
}

TEST(MarkupPlainText, DropsTagsAndWritesBreaksAsCrLf) {
  EXPECT_EQ(PlainText(Parse("<IND x=\"10\"><B>Hinweis:</B> a<br>b</P>")), "Hinweis: a\r\nb");
}

// Every character is 6 pixels wide (7 in bold); ascent 9, descent 3; images 16 x 16.
class FixedMeasurer final : public TextMeasurer {
 public:
  int TextWidth(std::string_view utf8, const TextStyle& style) override {
    return static_cast<int>(utf8.size()) * (style.bold ? 7 : 6);
  }
  FontMetrics Metrics(const TextStyle&) override { return {9, 3}; }
  int ImageWidth(int) override { return 16; }
  int ImageHeight(int) override { return 16; }
  int ScaleDesignPixels(int pixels) override { return pixels * scale; }
  int scale = 1;
};

std::vector<std::string> LineTexts(const Layout& layout) {
  std::vector<std::string> lines(static_cast<std::size_t>(layout.lineCount));
  for (const Fragment& f : layout.fragments) {
    lines[static_cast<std::size_t>(f.line)] += f.imageIndex >= 0 ? "[img]" : f.text;
  }
  return lines;
}

TEST(MarkupWrap, WrapsAtBlanksAndDropsTheBlankAtTheBreak) {
  FixedMeasurer m;
  const Layout layout = LayOut(Parse("aaa bbb ccc ddd"), m, {.maxWidth = 48});
  EXPECT_EQ(LineTexts(layout), (std::vector<std::string>{"aaa bbb", "ccc ddd"}));
  EXPECT_EQ(layout.height, 24);
}

TEST(MarkupWrap, AWordWiderThanTheLineStandsAlone) {
  FixedMeasurer m;
  const Layout layout = LayOut(Parse("a verylongword b"), m, {.maxWidth = 30});
  EXPECT_EQ(LineTexts(layout), (std::vector<std::string>{"a", "verylongword", "b"}));
}

TEST(MarkupWrap, StyleChangesInsideALineKeepTheirPlaces) {
  FixedMeasurer m;
  const Layout layout = LayOut(Parse("ab<b>cd</b>ef"), m, {});
  ASSERT_EQ(layout.fragments.size(), 3u);
  EXPECT_EQ(layout.fragments[1].x, 12);
  EXPECT_EQ(layout.fragments[2].x, 26);
  EXPECT_EQ(layout.width, 38);
}

TEST(MarkupPlacement, IndentStartsTheRestOfTheLineAtItsScaledOffset) {
  FixedMeasurer m;
  m.scale = 2;
  const Layout layout = LayOut(Parse("<IND x=\"10\">x<br><IND x=\"10\">y"), m, {});
  ASSERT_EQ(layout.fragments.size(), 2u);
  EXPECT_EQ(layout.fragments[0].x, 20);
  EXPECT_EQ(layout.fragments[1].x, 20);
  EXPECT_EQ(layout.fragments[1].line, 1);
}

TEST(MarkupPlacement, LineSpacingGoesBetweenLinesOnly) {
  FixedMeasurer m;
  const Layout layout = LayOut(Parse("a<br>b<br>c"), m, {.lineSpacing = 3});
  EXPECT_EQ(layout.height, 3 * 12 + 2 * 3);
  EXPECT_EQ(layout.fragments[2].y, 30);
}

TEST(MarkupPlacement, ImagesStandOnTheBaselineAndLinksAreHitTested) {
  FixedMeasurer m;
  const Layout layout =
      LayOut(Parse("<a href=\"mailto:x@y.example\"><IMG src=\"idx:4\"> Feedback</a>"), m, {});
  ASSERT_EQ(layout.fragments.size(), 2u);
  EXPECT_EQ(layout.fragments[0].y, 0);  // the image sets the line's ascent to 16
  EXPECT_EQ(layout.fragments[1].y, 7);  // text baseline at 16: top at 16 - 9
  EXPECT_EQ(layout.LinkAt(5, 5), "mailto:x@y.example");
  EXPECT_EQ(layout.LinkAt(30, 10), "mailto:x@y.example");
  EXPECT_EQ(layout.LinkAt(200, 10), "");
}

TEST(MarkupPlacement, EmptyTextIsOneEmptyLine) {
  FixedMeasurer m;
  const Layout layout = LayOut(Parse(""), m, {});
  EXPECT_EQ(layout.lineCount, 1);
  EXPECT_TRUE(layout.fragments.empty());
  EXPECT_EQ(layout.height, 12);
}

}  // namespace
}  // namespace lk::markup
