// The window-side models of the analysis: report list entries, dialog wrappers, progress bar,
// start button animation, and the AppInit_DLLs edit of the removal.

#include <gtest/gtest.h>

#include <string>

#include "analysis/AnalysisTexts.h"
#include "analysis/AppInitDlls.h"
#include "analysis/MessageDialogs.h"
#include "analysis/ProgressBar.h"
#include "analysis/RecordingView.h"
#include "analysis/ReportList.h"
#include "analysis/StartButtonAnimation.h"
#include "base/TextCase.h"
#include "system/scripted/ScriptedSystem.h"

namespace lk {
namespace {

class ReportEntries : public ::testing::Test {
 protected:
  ScriptedSystem system;
  RecordingView view;
  ReportList report{view, system};

  void Fill(int count) {
    for (int i = 0; i < count; ++i)
      report.AddReportEntry("entry " + std::to_string(i), ReportKind::Plain);
  }
};

TEST_F(ReportEntries, KindDecidesPrefixAndImage) {
  report.AddReportEntry("a", ReportKind::Plain);
  report.AddReportEntry("b", ReportKind::Concerning);
  report.AddReportEntry("c", ReportKind::Critical);
  report.AddReportEntry("d", ReportKind::Note);
  const std::vector<RecordingView::Row> expected{
      {"a", 0}, {"Bedenklich: - b", 1}, {"Kritisch: - c", 2}, {"Hinweis: - d", 1}};
  EXPECT_EQ(view.Rows(), expected);
}

TEST_F(ReportEntries, UnknownKindIsPlainAndEmptyTextKeepsPrefix) {
  report.AddReportEntry("seven", static_cast<ReportKind>(7));
  report.AddReportEntry("", ReportKind::Critical);
  const std::vector<RecordingView::Row> expected{{"seven", 0}, {"Kritisch: - ", 2}};
  EXPECT_EQ(view.Rows(), expected);
}

TEST_F(ReportEntries, EveryEntryPumpsOnce) {
  Fill(3);
  EXPECT_EQ(system.PumpCount(), 3);
}

TEST_F(ReportEntries, CapReplacesTheNewestEntriesOncePastTwoThousand) {
  Fill(2000);
  report.AddReportEntry("2001st", ReportKind::Plain);
  EXPECT_EQ(view.ReportRowCount(), 2001);
  report.AddReportEntry("next", ReportKind::Plain);
  ASSERT_EQ(view.ReportRowCount(), 1999);
  EXPECT_EQ(view.Rows().front().caption, "entry 0");
  EXPECT_EQ(view.Rows()[1997].caption, "entry 1997");
  EXPECT_EQ(view.Rows().back().caption, "next");
}

TEST_F(ReportEntries, ClearEmptiesTheList) {
  Fill(2);
  report.Clear();
  EXPECT_EQ(view.ReportRowCount(), 0);
}

TEST(DialogWrappers, FixTitleButtonsAndIcon) {
  RecordingView view;
  MessageDialogs dialogs(view);
  EXPECT_EQ(dialogs.ShowInformation("i"), DialogResult::Ok);
  static_cast<void>(dialogs.ShowError("e"));
  static_cast<void>(dialogs.ShowErrorTitled("T1", "et"));
  EXPECT_EQ(dialogs.AskWarning("w"), DialogResult::No);
  static_cast<void>(dialogs.AskCritical("T2", "c"));
  static_cast<void>(dialogs.AskQuestion("q"));
  const auto& d = view.Dialogs();
  ASSERT_EQ(d.size(), 6u);
  const auto expect = [&](std::size_t i, std::string_view title, DialogIcon icon, int buttons) {
    EXPECT_EQ(d[i].title, title) << i;
    EXPECT_EQ(d[i].icon, icon) << i;
    EXPECT_EQ(d[i].buttons, buttons) << i;
  };
  expect(0, "Information", DialogIcon::Information, 4);
  expect(1, "Fehler", DialogIcon::Error, 4);
  expect(2, "T1", DialogIcon::Error, 4);
  expect(3, "Warnung", DialogIcon::Warning, 3);
  expect(4, "T2", DialogIcon::Error, 3);
  expect(5, "Frage", DialogIcon::Question, 3);
}

TEST(DialogWrappers, ReturnTheAnswerUnchanged) {
  RecordingView view;
  MessageDialogs dialogs(view);
  view.QueueAnswer(DialogResult::Cancel);
  view.QueueAnswer(DialogResult::Yes);
  EXPECT_EQ(dialogs.ShowInformation("x"), DialogResult::Cancel);
  EXPECT_EQ(dialogs.AskQuestion("x"), DialogResult::Yes);
}

TEST(ProgressClamping, PositionStaysWithinMaximum) {
  RecordingView view;
  ProgressBar bar(view);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(30);
  bar.SetMaximum(20);
  EXPECT_EQ(bar.Position(), 20);
  bar.StepBy(1);
  EXPECT_EQ(bar.Position(), 20);
  bar.SetMaximum(100);
  EXPECT_EQ(bar.Position(), 20);
  EXPECT_EQ(view.CurrentProgress(), (RecordingView::Progress{20, 100}));
}

TEST(StartButtonWidth, NarrowsAndWidensInStepsOfTwoWithAPumpEach) {
  ScriptedSystem system;
  RecordingView view;
  AnimateStartButtonWidth(view, system, 444);
  EXPECT_EQ(view.StartButtonWidth(), 444);
  EXPECT_EQ(view.WidthSteps(), 55);
  EXPECT_EQ(system.PumpCount(), 55);
  AnimateStartButtonWidth(view, system, 554);
  EXPECT_EQ(view.StartButtonWidth(), 554);
  EXPECT_EQ(view.WidthSteps(), 110);
}

TEST(StartButtonWidth, OddDifferenceEndsOnePixelBeyond) {
  ScriptedSystem system;
  RecordingView view;
  AnimateStartButtonWidth(view, system, 549);
  EXPECT_EQ(view.StartButtonWidth(), 548);
  AnimateStartButtonWidth(view, system, 553);
  EXPECT_EQ(view.StartButtonWidth(), 554);
  AnimateStartButtonWidth(view, system, 554);
  EXPECT_EQ(view.WidthSteps(), 6);
}

TEST(AppInitEntryRemoval, RemovesOnlyTheTrojanLibraryAndKeepsOrder) {
  EXPECT_EQ(RemoveLibraryEntries("a.dll mfc42ul.dll b.dll", "mfc42ul.dll"), "a.dll b.dll");
  EXPECT_EQ(RemoveLibraryEntries("MFC42UL.DLL,a.dll,b.dll", "mfc42ul.dll"), "a.dll,b.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll, C:\\WINDOWS\\system32\\Mfc42ul.dll", "mfc42ul.dll"),
            "a.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll mfc42ul.dll,b.dll mfc42ul.dll c.dll", "mfc42ul.dll"),
            "a.dll b.dll c.dll");
}

TEST(AppInitEntryRemoval, ValueNamingOnlyTheTrojanBecomesEmpty) {
  EXPECT_EQ(RemoveLibraryEntries("mfc42ul.dll", "mfc42ul.dll"), "");
  EXPECT_EQ(RemoveLibraryEntries(" C:\\x\\mfc42ul.dll , \"mfc42ul.dll\" ", "mfc42ul.dll"), "");
}

TEST(AppInitEntryRemoval, OtherNamesAndTheEmptyTextStay) {
  EXPECT_EQ(RemoveLibraryEntries("mfc42.dll mfc42u.dll", "mfc42ul.dll"), "mfc42.dll mfc42u.dll");
  EXPECT_EQ(RemoveLibraryEntries("", "mfc42ul.dll"), "");
  EXPECT_EQ(RemoveLibraryEntries(" a.dll  mfc42ul.dll ", "mfc42ul.dll"), " a.dll ");
}

// Whatever the detection finds (the name anywhere, in any case) is gone afterwards, whatever
// separates the entries.
TEST(AppInitEntryRemoval, EveryEntryHoldingTheNameGoesWhateverSeparatesIt) {
  EXPECT_EQ(RemoveLibraryEntries("mfc42ul.dll;b.dll", "mfc42ul.dll"), "b.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll;MFC42UL.DLL;b.dll", "mfc42ul.dll"), "a.dll;b.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll\tmfc42ul.dll", "mfc42ul.dll"), "a.dll");
  EXPECT_EQ(RemoveLibraryEntries("\"C:\\Program Files\\x\\mfc42ul.dll\" b.dll", "mfc42ul.dll"),
            "b.dll");
  EXPECT_EQ(
      RemoveLibraryEntries("\"C:\\Program Files\\a.dll\",\"C:\\x y\\Mfc42ul.dll\"", "mfc42ul.dll"),
      "\"C:\\Program Files\\a.dll\"");
  EXPECT_EQ(RemoveLibraryEntries("\"a.dll\"\"mfc42ul.dll\"", "mfc42ul.dll"), "\"a.dll\"");
  EXPECT_EQ(RemoveLibraryEntries("xmfc42ul.dll mfc42ul.dll2 c.dll", "mfc42ul.dll"), "c.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll \"C:\\unterminated mfc42ul.dll", "mfc42ul.dll"), "a.dll");
}

// The stored form of the value: the other entries keep their exact bytes, whatever they hold.
TEST(AppInitEntryRemoval, StoredBytesKeepTheirEncodingAndWhatFollowsTheText) {
  const auto utf16 = [](std::string_view ascii) {
    std::string bytes;
    for (const char c : ascii) {
      bytes.push_back(c);
      bytes.push_back('\0');
    }
    return bytes;
  };
  // A lone surrogate inside another entry, no NUL at all.
  const std::string lone = utf16("a") + std::string("\x00\xD8", 2) + utf16(".dll");
  EXPECT_EQ(RemoveLibraryEntriesStored(lone + utf16(" mfc42ul.dll"), "mfc42ul.dll"), lone);
  // The NUL, data behind it and an odd last byte stay.
  const std::string tail = std::string("\0\0", 2) + utf16("x") + "\x41";
  EXPECT_EQ(RemoveLibraryEntriesStored(utf16("MFC42UL.DLL,b.dll") + tail, "mfc42ul.dll"),
            utf16("b.dll") + tail);
  EXPECT_EQ(RemoveLibraryEntriesStored(utf16("mfc42ul.dll") + tail, "mfc42ul.dll"), tail);
  // A character beyond ASCII matches no letter of the name: U+0130 folds to no "i".
  const std::string other = utf16("mfc42u") + std::string("\x30\x01", 2) + utf16(".dll");
  EXPECT_EQ(RemoveLibraryEntriesStored(other, "mfc42ul.dll"), other);
}

TEST(AppInitEntryRemoval, NeverLeavesTheNameBehind) {
  const char* values[] = {"mfc42ul.dll;b.dll", "\"x\"mfc42ul.dll\"y\"", "a\"mfc42ul.dll",
                          ";;MfC42Ul.DlL;;", "a.dll,\"b c\";mfc42ul.dll\td.dll"};
  for (const char* value : values) {
    const std::string rest = RemoveLibraryEntries(value, "mfc42ul.dll");
    EXPECT_FALSE(ContainsIgnoringAsciiCase(rest, "mfc42ul.dll")) << value << " -> " << rest;
  }
}

TEST(TextPatterns, FormatTextFillsTheFirstPlaceholder) {
  EXPECT_EQ(texts::FormatText(texts::kAnalysingLibraries, "12"), "Analysiere 12 Bibliotheken...");
  EXPECT_EQ(texts::FormatText(texts::kStoppingService, "winsys32"),
            "Halte den Trojaner winsys32 an");
  EXPECT_EQ(texts::FormatText(texts::kSuspiciousFileFound, "C:\\100%s.dll"),
            "Verdächtige Datei C:\\100%s.dll gefunden");
}

}  // namespace
}  // namespace lk
