// The frame of a run: mode choice, closing steps on every way out, cancellation, refusal of a
// nested run, closing the window during a run, and the window's creation steps.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "AnalysisFixture.h"

namespace lk::testing {
namespace {

using AnalysisRunFrame = AnalysisFixture;
constexpr auto kYes = DialogResult::Yes;
constexpr auto kNo = DialogResult::No;

void ExpectIdleWindow(const RecordingView& view) {
  EXPECT_FALSE(view.CancelButtonVisible());
  EXPECT_FALSE(view.Busy());
  EXPECT_EQ(view.StartButtonWidth(), 554);
  EXPECT_FALSE(view.ProgressVisible());
  EXPECT_FALSE(view.StatusVisible());
}

TEST_F(AnalysisRunFrame, CompletedRunEndsWithItsClosingEntryAndAnIdleWindow) {
  bool sawRunningWindow = false;
  view.OnDialog = [&](const RecordingView::Dialog&) {
    sawRunningWindow = view.Busy() && view.CancelButtonVisible() && view.StartButtonWidth() == 444;
  };
  Start({kNo});
  EXPECT_TRUE(sawRunningWindow);
  EXPECT_EQ(Captions().back(), "Analyse beendet...");
  EXPECT_EQ(view.Rows().back().imageIndex, 0);
  ExpectIdleWindow(view);
  EXPECT_FALSE(controller->IsRunning());
}

TEST_F(AnalysisRunFrame, On32BitSystemsTheQuestionChoosesTheBranch) {
  Start({kNo});
  ASSERT_GE(view.Dialogs().size(), 1u);
  const auto& question = view.Dialogs().front();
  EXPECT_EQ(question.title, "Frage");
  EXPECT_EQ(question.icon, DialogIcon::Question);
  EXPECT_EQ(question.buttons, kButtonYes | kButtonNo);
  EXPECT_NE(question.text.find("<b>Möchten Sie die heuristische Analyse ausführen?</b>"),
            std::string::npos);
  EXPECT_EQ(Captions().front(), "Analysiere Windows Registrierungsdatenbank...");

  Start({kYes});
  EXPECT_EQ(Captions().front(), "Ermittle Anzahl zu analysierender Bibliotheken...");

  Start({DialogResult::Cancel});  // a close request counts as No
  EXPECT_EQ(Captions().front(), "Analysiere Windows Registrierungsdatenbank...");
}

TEST_F(AnalysisRunFrame, On64BitSystemsTheSweepRunsWithoutAsking) {
  system.SetRunningUnderWow64(true);
  Start();
  const auto titles = DialogTitles();
  ASSERT_EQ(titles.size(), 2u);  // the notice at creation, then the sweep's result
  EXPECT_EQ(titles[0], "Information");
  EXPECT_NE(view.Dialogs()[0].text.find("64-BIT Betriebssystem"), std::string::npos);
  EXPECT_EQ(Captions().front(), "Ermittle Anzahl zu analysierender Bibliotheken...");
}

TEST_F(AnalysisRunFrame, WindowCreationOn64BitSystemsWritesTheNote) {
  system.SetRunningUnderWow64(true);
  controller->FormCreate();
  EXPECT_TRUE(controller->Is64BitSystem());
  ASSERT_EQ(view.Rows().size(), 1u);
  EXPECT_EQ(view.Rows()[0].caption,
            "Hinweis: - (*) Auf 64-Bit Systemen kann der Lauschkobold (+Varianten) zur Zeit "
            "aufgespührt, aber nur manuell entfernt werden!");
  EXPECT_EQ(view.Rows()[0].imageIndex, 1);
  EXPECT_EQ(controller->Run().SystemDirectory, "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(controller->Run().DriversDirectory, "C:\\WINDOWS\\system32\\Drivers\\");
}

TEST_F(AnalysisRunFrame, WindowCreationOn32BitSystemsShowsNothing) {
  controller->FormCreate();
  EXPECT_TRUE(view.Dialogs().empty());
  EXPECT_TRUE(view.Rows().empty());
}

TEST_F(AnalysisRunFrame, EmptySystemDirectoryGivesARelativeDriversDirectory) {
  system.SetSystemDirectory("");
  controller->FormCreate();
  EXPECT_EQ(controller->Run().SystemDirectory, "");
  EXPECT_EQ(controller->Run().DriversDirectory, "Drivers\\");
}

TEST_F(AnalysisRunFrame, ASecondRunClearsTheFirstRunsReport) {
  Start({kNo});
  const auto first = Captions();
  Start({kNo});
  EXPECT_EQ(Captions(), first);
}

TEST_F(AnalysisRunFrame, AStartDuringARunIsIgnored) {
  int nestedStarts = 0;
  system.OnEveryPump([&] {
    if (controller->IsRunning() && nestedStarts < 3) {
      ++nestedStarts;
      controller->btnStartAnalyzeClick();
    }
  });
  Start({kNo});
  EXPECT_EQ(nestedStarts, 3);
  EXPECT_EQ(DialogTitles(), (std::vector<std::string>{"Frage", "Information"}));
  const auto captions = Captions();
  EXPECT_EQ(std::count(captions.begin(), captions.end(), "Analyse beendet..."), 1);
}

TEST_F(AnalysisRunFrame, AFailureNoStepCatchesClosesTheRunAndReachesTheCaller) {
  view.OnDialog = [](const RecordingView::Dialog& dialog) {
    if (dialog.title == "Information") throw std::runtime_error("dialog failed");
  };
  view.QueueAnswer(kNo);
  controller->FormCreate();
  EXPECT_THROW(controller->btnStartAnalyzeClick(), std::runtime_error);
  EXPECT_EQ(Captions().back(), "Analyse beendet...");
  ExpectIdleWindow(view);
  EXPECT_FALSE(controller->IsRunning());

  view.OnDialog = nullptr;
  Start({kNo});  // the next run starts normally
  EXPECT_EQ(Captions().back(), "Analyse beendet...");
}

TEST_F(AnalysisRunFrame, AFailureWithACancelPendingEndsWithTheCancelEntry) {
  // Pause 3 belongs to the file checks, which catch nothing.
  system.AtPause(3, [&] {
    controller->btnAbbruchClick();
    throw std::logic_error("escapes");
  });
  view.QueueAnswer(kNo);
  controller->FormCreate();
  EXPECT_THROW(controller->btnStartAnalyzeClick(), std::logic_error);
  EXPECT_EQ(Captions().back(), "Bedenklich: - Abbruch durch Anwender...");
  EXPECT_FALSE(view.ProgressVisible());
}

TEST_F(AnalysisRunFrame, ACancelDuringTheChecksEndsAtTheNextTestPointWithoutVerdict) {
  InstallKnownVersion();
  system.AtPause(3, [&] { controller->btnAbbruchClick(); });  // "Analysiere Systemdateien..."
  Start({kNo});
  EXPECT_EQ(DialogTitles(), std::vector<std::string>{"Frage"});
  const auto captions = Captions();
  EXPECT_EQ(captions.back(), "Bedenklich: - Abbruch durch Anwender...");
  EXPECT_EQ(view.Rows().back().imageIndex, 1);
  // The pause and the library check still finish; the driver check does not run.
  EXPECT_EQ(captions[captions.size() - 2],
            "Kritisch: - Lauschkobold Bibliothek eindeutig identifiziert");
  EXPECT_FALSE(HasCaption("Lauschkobold Treiber ist mutmaßlich auf Ihrem System vorhanden"));
  ExpectIdleWindow(view);
}

TEST_F(AnalysisRunFrame, ACancelLeftFromAnEarlierRunDoesNotReachTheNextSweep) {
  AddFile("C:\\WINDOWS\\system32\\a.dll", "harmless");
  AddFile("C:\\WINDOWS\\system32\\Drivers\\b.sys", "harmless");
  system.AtPause(1, [&] { controller->btnAbbruchClick(); });  // no search runs now
  Start({kNo});
  EXPECT_EQ(Captions().back(), "Bedenklich: - Abbruch durch Anwender...");
  Start({kYes});
  EXPECT_TRUE(HasCaption("Analysiere 1 Bibliotheken..."));
  EXPECT_TRUE(HasCaption("Analysiere 1 Treiber..."));
  EXPECT_EQ(Captions().back(), "Analyse beendet...");
}

TEST_F(AnalysisRunFrame, ClosingTheWindowDuringARunCancelsItAndClosesAfterwards) {
  EXPECT_TRUE(controller->RequestClose());  // idle: close at once
  InstallKnownVersion();
  system.AtPause(2, [&] { EXPECT_FALSE(controller->RequestClose()); });
  Start({kNo});
  EXPECT_EQ(view.CloseWindowCalls(), 1);
  EXPECT_EQ(Captions().back(), "Bedenklich: - Abbruch durch Anwender...");
  EXPECT_EQ(DialogTitles(), std::vector<std::string>{"Frage"});
  ExpectIdleWindow(view);
}

TEST_F(AnalysisRunFrame, ClosingTheWindowDuringARemovalWaitsForItsLastStep) {
  InstallKnownVersion();
  // Pause 7 is the removal's first one.
  system.AtPause(7, [&] { static_cast<void>(controller->RequestClose()); });
  Start({kNo, kYes, kNo});
  EXPECT_EQ(view.CloseWindowCalls(), 1);
  const auto captions = Captions();
  ASSERT_GE(captions.size(), 2u);
  EXPECT_EQ(captions[captions.size() - 2], "Entfernen beendet...");
  EXPECT_EQ(captions.back(), "Bedenklich: - Abbruch durch Anwender...");
  EXPECT_FALSE(system.FileExists(kDriverPath));
}

TEST_F(AnalysisRunFrame, AfterACloseRequestTheRestOfTheRunShowsNoDialog) {
  InstallKnownVersion();
  // Pause 7 is the removal's first one; the removal would end with the restart question.
  system.AtPause(7, [&] { static_cast<void>(controller->RequestClose()); });
  Start({kNo, kYes, kYes});
  EXPECT_EQ(view.CloseWindowCalls(), 1);
  const auto titles = DialogTitles();
  ASSERT_EQ(titles.size(), 2u) << "the restart question must not be shown";
  EXPECT_TRUE(system.ShutdownRequests().empty());
  // The close has been carried out: a later run (the tests keep the controller) asks again.
  Start({kNo});
  ASSERT_GE(DialogTitles().size(), 3u);
  EXPECT_EQ(DialogTitles()[2], "Frage");
}

TEST_F(AnalysisRunFrame, AFailureAfterACloseRequestStillClosesTheWindow) {
  system.AtPause(3, [&] {
    EXPECT_FALSE(controller->RequestClose());
    throw std::logic_error("escapes");
  });
  view.QueueAnswer(kNo);
  controller->FormCreate();
  EXPECT_NO_THROW(controller->btnStartAnalyzeClick());
  EXPECT_EQ(view.CloseWindowCalls(), 1);
  EXPECT_FALSE(controller->IsRunning());
  EXPECT_FALSE(controller->IsClosing());
  EXPECT_EQ(Captions().back(), "Bedenklich: - Abbruch durch Anwender...");
}

}  // namespace
}  // namespace lk::testing
