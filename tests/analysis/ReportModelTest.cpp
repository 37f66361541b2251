// The window-side models of the analysis: report list entries, dialog wrappers, progress bar,
// start button animation.

#include <gtest/gtest.h>

#include <string>

#include "analysis/AnalysisTexts.h"
#include "analysis/MessageDialogs.h"
#include "analysis/ProgressBar.h"
#include "analysis/ReportList.h"
#include "analysis/StartButtonAnimation.h"
#include "testing/RecordingView.h"
#include "testing/scripted/ScriptedSystem.h"

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

TEST(TextPatterns, FormatTextFillsTheFirstPlaceholder) {
  EXPECT_EQ(texts::FormatText(texts::kAnalysingLibraries, "12"), "Analysiere 12 Bibliotheken...");
  EXPECT_EQ(texts::FormatText(texts::kStoppingService, "winsys32"),
            "Halte den Trojaner winsys32 an");
  EXPECT_EQ(texts::FormatText(texts::kSuspiciousFileFound, "C:\\100%s.dll"),
            "Verdächtige Datei C:\\100%s.dll gefunden");
}

}  // namespace
}  // namespace lk
