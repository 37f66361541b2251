// The heuristic sweep: counting and content passes per category, the reports of matches, the
// device probe, the dialogs and the clipboard, and the 64-bit redirection on every way out.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "AnalysisFixture.h"

namespace lk::testing {
namespace {

using Sweep = AnalysisFixture;
using Captions_ = std::vector<std::string>;
constexpr auto kYes = DialogResult::Yes;

const std::string kDll = "C:\\WINDOWS\\system32\\";
const std::string kSys = "C:\\WINDOWS\\system32\\Drivers\\";
constexpr std::string_view kLibraryMatch = "xx C3PO-r2d2 xx";
// As the driver holds it: the device name in UTF-16, after a non-letter.
const std::string kDriverMatch = "xx" + Utf16("\\DosDevices\\KeyboardClassC") + "xx";

TEST_F(Sweep, CleanSystemCountsBothCategoriesAndSaysSo) {
  AddFile(kDll + "a.dll", "harmless");
  AddFile(kDll + "b.DLL", "harmless");
  AddFile(kSys + "c.sys", "harmless");
  Start({kYes});
  EXPECT_EQ(Captions(), (Captions_{"Ermittle Anzahl zu analysierender Bibliotheken...",
                                   "Analysiere 2 Bibliotheken...",
                                   "Ermittle Anzahl zu analysierender Treiber...",
                                   "Analysiere 1 Treiber...", "Analyse beendet..."}));
  ASSERT_EQ(view.Dialogs().size(), 2u);
  EXPECT_EQ(view.Dialogs()[1].title, "Information");
  EXPECT_EQ(view.Dialogs()[1].text,
            "Es wurden keine Anzeichen für das Vorhandensein des Lauschkobolds auf Ihrem System "
            "gefunden!");
  EXPECT_FALSE(system.Clipboard().has_value());
  EXPECT_FALSE(view.StatusVisible());
  EXPECT_FALSE(view.ProgressVisible());
}

TEST_F(Sweep, ACategoryWithoutFilesHasNoContentPass) {
  AddFile(kSys + "c.sys", "harmless");
  Start({kYes});
  EXPECT_EQ(Captions(), (Captions_{"Ermittle Anzahl zu analysierender Bibliotheken...",
                                   "Ermittle Anzahl zu analysierender Treiber...",
                                   "Analysiere 1 Treiber...", "Analyse beendet..."}));
}

TEST_F(Sweep, MatchesInBothCategoriesAreReportedListedAndCopied) {
  AddFile(kDll + "evil.dll", kLibraryMatch);
  AddFile(kDll + "fine.dll", "harmless");
  AddFile(kDll + "skype.dll", "SKYPE iexplore FireFox skypeversion");
  AddFile(kSys + "evil.sys", kDriverMatch);
  Start({kYes});
  EXPECT_TRUE(HasCaption("Kritisch: - Verdächtige Datei " + kDll + "evil.dll gefunden"));
  EXPECT_TRUE(HasCaption("Kritisch: - Verdächtige Datei " + kDll + "skype.dll gefunden"));
  EXPECT_TRUE(HasCaption("Kritisch: - Verdächtige Datei " + kSys + "evil.sys gefunden"));
  EXPECT_FALSE(HasCaption("Kritisch: - Verdächtige Datei " + kDll + "fine.dll gefunden"));

  const std::string drivers = kSys + "evil.sys\r\n";
  const std::string libraries = kDll + "evil.dll\r\n" + kDll + "skype.dll\r\n";
  const auto& d = view.Dialogs();
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[1].title, "Lauschkobold (Treiber) gefunden?!");
  EXPECT_EQ(d[1].text, "Folgende Dateien weisen verdächtigen Inhalt auf:<br><br>" + drivers);
  EXPECT_EQ(d[1].icon, DialogIcon::Error);
  EXPECT_EQ(d[1].buttons, kButtonOk);
  EXPECT_EQ(d[2].title, "Vermutlich Lauschkobold (Bibliothek) gefunden!");
  EXPECT_EQ(d[2].text, "Folgende Dateien weisen verdächtigen Inhalt auf:<br><br>" + libraries);
  EXPECT_EQ(d[3].title, "Information");
  EXPECT_NE(d[3].text.find("Zwichenablage"), std::string::npos);
  EXPECT_EQ(system.Clipboard(), drivers + libraries);
}

TEST_F(Sweep, TheDriverExpressionAlsoFindsTheDeviceNameInUtf16) {
  AddFile(kDll + "wide.dll", kDriverMatch);  // the library expression has no UTF-16 form
  AddFile(kSys + "wide.sys", kDriverMatch);
  Start({kYes});
  EXPECT_FALSE(HasCaption("Kritisch: - Verdächtige Datei " + kDll + "wide.dll gefunden"));
  EXPECT_TRUE(HasCaption("Kritisch: - Verdächtige Datei " + kSys + "wide.sys gefunden"));
}

TEST_F(Sweep, OnlyTheDeviceGivesTheMissingDriverNotice) {
  AddDevice();
  Start({kYes});
  EXPECT_TRUE(HasCaption("Kritisch: - Verbindung mit Lauschkobold möglich!!!"));
  ASSERT_EQ(view.Dialogs().size(), 2u);
  EXPECT_EQ(view.Dialogs()[1].title, "Lauschkobold (Treiber) gefunden?!");
  EXPECT_NE(view.Dialogs()[1].text.find("<b>nicht</b> ermitteln"), std::string::npos);
  EXPECT_FALSE(system.Clipboard().has_value());
}

TEST_F(Sweep, SubdirectoriesAreNeverExamined) {
  AddFile(kDll + "sub\\evil.dll", kLibraryMatch);
  AddFile(kSys + "sub\\evil.sys", kDriverMatch);
  Start({kYes});
  EXPECT_EQ(view.Dialogs().back().title, "Information");
  EXPECT_FALSE(system.Clipboard().has_value());
}

TEST_F(Sweep, ACancelDuringTheLibraryContentPassStopsWithoutDialogs) {
  for (int i = 0; i < 5; ++i) AddFile(kDll + "f" + std::to_string(i) + ".dll", kLibraryMatch);
  AddFile(kSys + "evil.sys", kDriverMatch);
  bool pressed = false;
  system.OnEveryPump([&] {
    if (!pressed && view.StatusText() == "Analysiere: f1.dll") {
      pressed = true;
      controller->btnAbbruchClick();
    }
  });
  Start({kYes});
  EXPECT_TRUE(pressed);
  EXPECT_EQ(view.Dialogs().size(), 1u);
  EXPECT_EQ(Captions().back(), "Bedenklich: - Abbruch durch Anwender...");
  // The entry being examined is finished; no further entry is.
  EXPECT_TRUE(HasCaption("Kritisch: - Verdächtige Datei " + kDll + "f1.dll gefunden"));
  EXPECT_FALSE(HasCaption("Kritisch: - Verdächtige Datei " + kDll + "f2.dll gefunden"));
  EXPECT_FALSE(HasCaption("Ermittle Anzahl zu analysierender Treiber..."));
  EXPECT_FALSE(system.Clipboard().has_value());
  EXPECT_FALSE(view.StatusVisible());
  // The cancelled pass's range does not outlive the sweep.
  EXPECT_EQ(view.CurrentProgress(), (RecordingView::Progress{0, 100}));
}

TEST_F(Sweep, TheDriverPassCountsOnWithinItsOwnRange) {
  // Without libraries the bar keeps its range of 100 and stands at 30 before the drivers.
  for (int i = 0; i < 20; ++i) AddFile(kSys + "d" + std::to_string(i) + ".sys", "harmless");
  Start({kYes});
  const auto& history = view.ProgressHistory();
  const auto start = std::find(history.begin(), history.end(), RecordingView::Progress{30, 100});
  ASSERT_NE(start, history.end());
  const auto driverRange =
      std::find_if(start, history.end(), [](const auto& p) { return p.maximum == 20; });
  ASSERT_NE(driverRange, history.end());
  EXPECT_EQ(*driverRange, (RecordingView::Progress{20, 20}));
}

TEST_F(Sweep, On64BitSystemsTheNativeDirectoryIsExaminedWithRedirectionOff) {
  system.SetRunningUnderWow64(true);
  AddFile(kDll + "native.dll", kLibraryMatch);
  AddFile("C:\\WINDOWS\\SysWOW64\\wow.dll", kLibraryMatch);
  bool offDuringSweep = false;
  view.OnDialog = [&](const RecordingView::Dialog&) {
    offDuringSweep = offDuringSweep || system.RedirectionDisabled();
  };
  Start();
  EXPECT_TRUE(offDuringSweep);
  EXPECT_FALSE(system.RedirectionDisabled());
  EXPECT_EQ(system.Clipboard(), kDll + "native.dll\r\n");
}

TEST_F(Sweep, On64BitSystemsRedirectionIsBackOnBeforeTheProgressBarGoes) {
  system.SetRunningUnderWow64(true);
  AddFile(kDll + "a.dll", "harmless");
  bool offDuringSweep = false;
  std::vector<bool> offWhenHidden;
  view.OnDialog = [&](const RecordingView::Dialog&) {
    offDuringSweep = offDuringSweep || system.RedirectionDisabled();
  };
  view.OnProgressVisibility = [&](bool visible) {
    if (!visible) offWhenHidden.push_back(system.RedirectionDisabled());
  };
  Start();
  EXPECT_TRUE(offDuringSweep);
  ASSERT_FALSE(offWhenHidden.empty());
  EXPECT_EQ(std::count(offWhenHidden.begin(), offWhenHidden.end(), true), 0);
}

TEST_F(Sweep, On64BitSystemsRedirectionComesBackAfterACancel) {
  system.SetRunningUnderWow64(true);
  AddFile(kDll + "a.dll", "harmless");
  system.OnEveryPump([&] {
    if (view.StatusText() == "Analysiere: a.dll") controller->btnAbbruchClick();
  });
  Start();
  EXPECT_EQ(Captions().back(), "Bedenklich: - Abbruch durch Anwender...");
  EXPECT_FALSE(system.RedirectionDisabled());
}

TEST_F(Sweep, On64BitSystemsRedirectionComesBackAfterAFailure) {
  system.SetRunningUnderWow64(true);
  view.OnDialog = [&](const RecordingView::Dialog& dialog) {
    if (dialog.text.find("keine Anzeichen") != std::string::npos) throw std::runtime_error("x");
  };
  controller->FormCreate();
  EXPECT_THROW(controller->btnStartAnalyzeClick(), std::runtime_error);
  EXPECT_FALSE(system.RedirectionDisabled());
  EXPECT_EQ(Captions().back(), "Analyse beendet...");
  EXPECT_FALSE(view.ProgressVisible());
}

}  // namespace
}  // namespace lk::testing
