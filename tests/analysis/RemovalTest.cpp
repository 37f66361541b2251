// The removal: each finding undone in its fixed order, each step guarded on its own, the
// service stopped and deleted with its waiting rules, and the restart offer.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "AnalysisFixture.h"

namespace lk::testing {
namespace {

using Removal_ = AnalysisFixture;
using Captions_ = std::vector<std::string>;
constexpr auto kYes = DialogResult::Yes;
constexpr auto kNo = DialogResult::No;

// The entries from the verdict on (the removal's and the run's own).
Captions_ RemovalCaptions(const Captions_& captions) {
  const auto it = std::find(captions.begin(), captions.end(), "Analysiere Geräteverfügbarkeit...");
  Captions_ tail(it == captions.end() ? captions.begin() : it + 1, captions.end());
  if (!tail.empty() && tail.front() == "Kritisch: - Verbindung mit Lauschkobold möglich!!!") {
    tail.erase(tail.begin());
  }
  return tail;
}

std::vector<std::string> LogLinesWith(const ScriptedSystem& system, std::string_view word) {
  std::vector<std::string> lines;
  for (const auto& line : system.Log()) {
    if (line.find(word) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST_F(Removal_, FullInfectionIsUndoneInOrderAndRestartIsOffered) {
  InstallKnownVersion();
  Start({kNo, kYes, kYes});
  EXPECT_EQ(RemovalCaptions(Captions()),
            (Captions_{"Entferne Bibliothek aus Windows Registrierungsdatenbank",
                       "Entferne Bibliothek aus Systemdateien", "Deaktiviere Treiber...",
                       "Halte den Trojaner winsys32 an", "Lösche Lauschkobold winsys32",
                       "Entferne Treiber aus Windows Registrierungsdatenbank...",
                       "Entferne Treiber aus Systemdateien", "Entfernen beendet...",
                       "Analyse beendet..."}));
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String(""));
  EXPECT_FALSE(system.FileExists(kLibraryPath));
  EXPECT_FALSE(HostFileExists(kLibraryPath));
  EXPECT_FALSE(system.FileExists(kDriverPath));
  EXPECT_FALSE(system.ServiceExists("winsys32"));
  EXPECT_FALSE(system.KeyExists(kServiceKey));
  const auto& restart = view.Dialogs().back();
  EXPECT_EQ(restart.title, "Warnung");
  EXPECT_EQ(restart.icon, DialogIcon::Warning);
  EXPECT_EQ(system.ShutdownRequests(),
            (std::vector<ShutdownRequest>{{ShutdownMode::Restart, true}}));
  EXPECT_EQ(system.OpenServiceHandleCount(), 0);
  EXPECT_EQ(system.OpenRegistryKeyCount(), 0);
  EXPECT_EQ(view.ProgressHistory().back().position, 0);
  EXPECT_FALSE(view.ProgressVisible());
}

TEST_F(Removal_, ASecondRunFindsNothingLeftToRemove) {
  InstallKnownVersion();
  system.RemoveDevice(kDevice);
  Start({kNo, kYes, kNo});
  Start({kNo});
  EXPECT_EQ(view.Dialogs().back().title, "Information");
}

TEST_F(Removal_, AppInitKeepsTheOtherLibrariesRegistered) {
  AddAppInit("C:\\av\\hook.dll mfc42ul.dll,access.dll");
  Start({kNo, kYes, kNo});
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"),
            RegistryValue::String("C:\\av\\hook.dll access.dll"));
}

TEST_F(Removal_, AppInitLosesWhatTheDetectionFoundWhateverTheSeparator) {
  AddAppInit("\"C:\\Program Files\\x\\MFC42UL.dll\";b.dll");
  Start({kNo, kYes, kNo});
  EXPECT_TRUE(HasCaption("Kritisch: - Lauschkobold Bibliothek in System registriert"));
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("b.dll"));
  // A second run finds nothing left in the registry.
  Start({kNo});
  EXPECT_FALSE(HasCaption("Kritisch: - Lauschkobold Bibliothek in System registriert"));
}

TEST_F(Removal_, OnlyTheServiceKeyLeavesTheServiceManagerAlone) {
  AddServiceKey();
  system.AddKey(std::string(kServiceKey) + "\\Enum");
  // Any contact with the service manager now would end in the error dialog.
  view.OnDialog = [&](const RecordingView::Dialog&) { system.SetServiceManagerAvailable(false); };
  Start({kNo, kYes, kNo});
  EXPECT_EQ(RemovalCaptions(Captions()),
            (Captions_{"Entferne Treiber aus Windows Registrierungsdatenbank...",
                       "Entfernen beendet...", "Analyse beendet..."}));
  EXPECT_EQ(DialogTitles(),
            (std::vector<std::string>{"Frage", "Lauschkobold gefunden", "Warnung"}));
  EXPECT_FALSE(system.KeyExists(kServiceKey));
  EXPECT_TRUE(system.KeyExists("SYSTEM\\CurrentControlSet\\services"));
  EXPECT_TRUE(system.ShutdownRequests().empty());
}

TEST_F(Removal_, AStoppedServiceGetsNoStopControlAndIsDeleted) {
  ServiceScript stopped;
  stopped.state = ServiceState::Stopped;
  AddService(stopped);
  Start({kNo, kYes, kNo});
  EXPECT_TRUE(LogLinesWith(system, "SendServiceStop").empty());
  EXPECT_TRUE(HasCaption("Halte den Trojaner winsys32 an"));
  EXPECT_TRUE(HasCaption("Lösche Lauschkobold winsys32"));
  EXPECT_FALSE(system.ServiceExists("winsys32"));
}

TEST_F(Removal_, AServiceStuckStartingGetsTheStopAfterFivePauses) {
  ServiceScript starting;
  starting.state = ServiceState::StartPending;
  starting.startPendingQueries = 100;
  AddService(starting);
  int pausesBeforeStop = -1;
  const int pausesAfterChecks = 6;
  view.OnDialog = [&](const RecordingView::Dialog& dialog) {
    if (dialog.title == "Warnung") pausesBeforeStop = system.PauseCount();
  };
  Start({kNo, kYes, kNo});
  EXPECT_EQ(LogLinesWith(system, "SendServiceStop").size(), 1u);
  // Pause 1 of the removal, then five waiting pauses, then the step's own two seconds.
  EXPECT_EQ(pausesBeforeStop, pausesAfterChecks + 1 + 5 + 1);
  EXPECT_TRUE(system.ServiceMarkedForDeletion("winsys32"));
}

TEST_F(Removal_, AServiceRefusingTheStopIsDeletedAnyway) {
  ServiceScript refusing;
  refusing.acceptsStop = false;
  AddService(refusing);
  Start({kNo, kYes, kNo});
  EXPECT_TRUE(HasCaption("Lösche Lauschkobold winsys32"));
  EXPECT_TRUE(system.ServiceMarkedForDeletion("winsys32"));
  const auto titles = DialogTitles();
  EXPECT_EQ(std::count(titles.begin(), titles.end(), "Fehler"), 0);
}

TEST_F(Removal_, AServiceStillRunningAfterTheStopIsNotDeletedAndTheErrorIsShown) {
  ServiceScript running;
  running.statesAfterStop = {ServiceState::Running};
  AddService(running);
  Start({kNo, kYes, kNo});
  EXPECT_FALSE(HasCaption("Lösche Lauschkobold winsys32"));
  EXPECT_TRUE(system.ServiceExists("winsys32"));
  const auto& dialogs = view.Dialogs();
  const auto error = std::find_if(dialogs.begin(), dialogs.end(),
                                  [](const auto& d) { return d.title == "Fehler"; });
  ASSERT_NE(error, dialogs.end());
  EXPECT_EQ(error->text, "Die Deinstallation des Lauschkbolds ist fehlgechlagen!<br><br>" +
                             system.SystemErrorText(system.LastSystemError()));
  EXPECT_EQ(error->icon, DialogIcon::Error);
  EXPECT_EQ(error->buttons, kButtonOk);
  // The removal goes on after the dialog.
  EXPECT_EQ(RemovalCaptions(Captions()).back(), "Analyse beendet...");
}

TEST_F(Removal_, AServiceStillStoppingAfterTheStopIsDeleted) {
  ServiceScript stopping;
  stopping.statesAfterStop = {ServiceState::StopPending};
  AddService(stopping);
  Start({kNo, kYes, kNo});
  EXPECT_TRUE(HasCaption("Lösche Lauschkobold winsys32"));
  EXPECT_TRUE(system.ServiceMarkedForDeletion("winsys32"));
}

TEST_F(Removal_, AServiceAlreadyMarkedForDeletionCountsAsSuccess) {
  ServiceScript marked;
  marked.deleteError = 1072;
  AddService(marked);
  Start({kNo, kYes, kNo});
  EXPECT_EQ(DialogTitles(),
            (std::vector<std::string>{"Frage", "Lauschkobold gefunden", "Warnung"}));
}

TEST_F(Removal_, AReachableDeviceWithoutServiceOnlyDeactivates) {
  AddDevice();
  Start({kNo, kYes, kNo});
  EXPECT_EQ(RemovalCaptions(Captions()),
            (Captions_{"Deaktiviere Treiber...", "Entfernen beendet...", "Analyse beendet..."}));
  EXPECT_EQ(DialogTitles(),
            (std::vector<std::string>{"Frage", "Lauschkobold gefunden", "Warnung"}));
}

TEST_F(Removal_, OutsideTheNtFamilyTheServiceStepTouchesNothing) {
  system.SetNtFamily(false);
  AddService();
  Start({kNo, kYes, kNo});
  EXPECT_FALSE(HasCaption("Halte den Trojaner winsys32 an"));
  EXPECT_TRUE(system.ServiceExists("winsys32"));
}

TEST_F(Removal_, FilesInUseAreDeletedAtTheNextRestart) {
  AddFile(kLibraryPath, "MZ C3PO-r2d2-POE", true);
  AddFile(kDriverPath, "MZ" + Utf16("\\DosDevices\\KeyboardClassC"), true);
  Start({kNo, kYes, kNo});
  EXPECT_EQ(RemovalCaptions(Captions()),
            (Captions_{"Entferne Bibliothek aus Systemdateien",
                       "Bibliothek wurde zum Löschen bei Neustart vorgemerkt",
                       "Entferne Treiber aus Systemdateien",
                       "Treiber wurde zum Löschen bei Neustart vorgemerkt", "Entfernen beendet...",
                       "Analyse beendet..."}));
  EXPECT_EQ(system.PendingDeletions(),
            (std::vector<std::string>{std::string(kLibraryPath), std::string(kDriverPath)}));
  EXPECT_TRUE(system.FileExists(kLibraryPath));
}

TEST_F(Removal_, ACancelDuringTheRemovalDoesNotStopIt) {
  InstallKnownVersion();
  system.AtPause(7, [&] { controller->btnAbbruchClick(); });  // the removal's first pause
  Start({kNo, kYes, kNo});
  const auto tail = RemovalCaptions(Captions());
  ASSERT_GE(tail.size(), 2u);
  EXPECT_EQ(tail[tail.size() - 2], "Entfernen beendet...");
  EXPECT_EQ(tail.back(), "Bedenklich: - Abbruch durch Anwender...");
  EXPECT_FALSE(system.FileExists(kDriverPath));
}

TEST_F(Removal_, AFailingRestartQuestionStillClosesTheRemovalAndTheRun) {
  InstallKnownVersion();
  view.OnDialog = [](const RecordingView::Dialog& dialog) {
    if (dialog.title == "Warnung") throw std::runtime_error("dialog failed");
  };
  view.QueueAnswer(kNo);
  view.QueueAnswer(kYes);
  controller->FormCreate();
  EXPECT_THROW(controller->btnStartAnalyzeClick(), std::runtime_error);
  const auto tail = RemovalCaptions(Captions());
  ASSERT_GE(tail.size(), 2u);
  EXPECT_EQ(tail[tail.size() - 2], "Entfernen beendet...");
  EXPECT_EQ(tail.back(), "Analyse beendet...");
  EXPECT_FALSE(view.ProgressVisible());
}

TEST_F(Removal_, ARefusedRegistryWriteIsDroppedSilently) {
  AddAppInit("mfc42ul.dll");
  AddServiceKey();
  system.DenyKeyWrite(kWindowsKey);
  system.DenyKeyWrite("SYSTEM\\CurrentControlSet\\services");
  Start({kNo, kYes, kNo});
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("mfc42ul.dll"));
  EXPECT_TRUE(system.KeyExists(kServiceKey));
  EXPECT_EQ(RemovalCaptions(Captions()).back(), "Analyse beendet...");
}

}  // namespace
}  // namespace lk::testing
