// The known-version checks: one entry per observation, the failure rules, the signature
// confirmations and the verdict.

#include <gtest/gtest.h>

#include <algorithm>

#include "AnalysisFixture.h"

namespace lk::testing {
namespace {

using KnownVersionChecks = AnalysisFixture;
using Captions_ = std::vector<std::string>;
constexpr auto kNo = DialogResult::No;

constexpr std::string_view kPartsFound = "WARNUNG: Es wurden <b>Anteile</b>";
constexpr std::string_view kClearSigns = "WARNUNG: Es wurden <b>DEUTLICHE</b>";

// The verdict question's text, or "" when there was none.
std::string VerdictText(const RecordingView& view) {
  for (const auto& dialog : view.Dialogs()) {
    if (dialog.title == "Lauschkobold gefunden") return dialog.text;
  }
  return "";
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

TEST_F(KnownVersionChecks, CleanSystemReportsEachGroupAndTheCleanNotice) {
  Start({kNo});
  EXPECT_EQ(Captions(),
            (Captions_{"Analysiere Windows Registrierungsdatenbank...",
                       "Analysiere Systemdateien...", "Analysiere Windows Dienstemanager...",
                       "Lauschkobold Treiber ist NICHT im Dienstemanager angemeldet",
                       "Analysiere Geräteverfügbarkeit...", "Analyse beendet..."}));
  ASSERT_EQ(view.Dialogs().size(), 2u);
  const auto& notice = view.Dialogs()[1];
  EXPECT_EQ(notice.title, "Information");
  EXPECT_EQ(notice.text,
            "<b>Kein Lauschkobold entdeckt</b><br><br>HINWEIS: Es wurden keine Anzeichen für das "
            "Vorhandensein des Lauschkobolds auf Ihrem Sytem entdeckt!");
  EXPECT_EQ(system.PausedSeconds(), 10);
}

TEST_F(KnownVersionChecks, FullInfectionReportsEveryFindingAndOffersRemoval) {
  InstallKnownVersion();
  Start({kNo, kNo});
  EXPECT_EQ(
      Captions(),
      (Captions_{"Analysiere Windows Registrierungsdatenbank...",
                 "Kritisch: - Lauschkobold Treiber in System registriert",
                 "Kritisch: - Lauschkobold Bibliothek in System registriert",
                 "Analysiere Systemdateien...",
                 "Lauschkobold Bibliothek ist mutmaßlich auf Ihrem System vorhanden",
                 "Kritisch: - Lauschkobold Bibliothek eindeutig identifiziert",
                 "Lauschkobold Treiber ist mutmaßlich auf Ihrem System vorhanden",
                 "Kritisch: - Lauschkobold Treiber eindeutig identifiziert",
                 "Analysiere Windows Dienstemanager...",
                 "Kritisch: - Lauschkobold Treiber ist im Dienstemanager angemeldet",
                 "Analysiere Geräteverfügbarkeit...",
                 "Kritisch: - Verbindung mit Lauschkobold möglich!!!", "Analyse beendet..."}));
  const auto& verdict = view.Dialogs().back();
  EXPECT_EQ(verdict.icon, DialogIcon::Error);
  EXPECT_EQ(verdict.buttons, kButtonYes | kButtonNo);
  EXPECT_TRUE(StartsWith(verdict.text, kPartsFound));
  // Answered No: nothing was changed, and every handle and key is closed again.
  EXPECT_TRUE(system.FileExists(kLibraryPath));
  EXPECT_EQ(system.OpenServiceHandleCount(), 0);
  EXPECT_EQ(system.OpenRegistryKeyCount(), 0);
}

TEST_F(KnownVersionChecks, ProgressMovesThroughTheGroupsAndIsHiddenAfterwards) {
  bool visibleDuringChecks = false;
  system.AtPause(1, [&] { visibleDuringChecks = view.ProgressVisible(); });
  Start({kNo});
  EXPECT_TRUE(visibleDuringChecks);
  std::vector<double> positions;
  for (const auto& p : view.ProgressHistory()) positions.push_back(p.position);
  EXPECT_EQ(positions, (std::vector<double>{0, 10, 20, 40, 60, 80, 100, 0}));
  EXPECT_FALSE(view.ProgressVisible());
}

TEST_F(KnownVersionChecks, AppInitEntryIsFoundInAnyCaseWithAPathAmongOthers) {
  AddAppInit("C:\\PROGRA~1\\av\\hook.dll,C:\\WINDOWS\\SYSTEM32\\MFC42UL.DLL other.dll");
  Start({kNo, kNo});
  EXPECT_TRUE(HasCaption("Kritisch: - Lauschkobold Bibliothek in System registriert"));
  EXPECT_TRUE(StartsWith(VerdictText(view), kClearSigns));
}

TEST_F(KnownVersionChecks, AppInitNamingOnlyOtherLibrariesFindsNothing) {
  AddAppInit("hook.dll other.dll");
  Start({kNo});
  EXPECT_FALSE(HasCaption("Kritisch: - Lauschkobold Bibliothek in System registriert"));
  EXPECT_EQ(VerdictText(view), "");
}

TEST_F(KnownVersionChecks, ServiceKeyWithoutImagePathSetsNothing) {
  system.AddKey(kServiceKey);
  Start({kNo});
  EXPECT_FALSE(HasCaption("Kritisch: - Lauschkobold Treiber in System registriert"));
  EXPECT_EQ(view.Dialogs().back().title, "Information");
}

TEST_F(KnownVersionChecks, RegistryTracesAndServiceEntryAloneAreClearSigns) {
  AddServiceKey();
  AddAppInit("mfc42ul.dll");
  AddService();
  Start({kNo, kNo});
  EXPECT_TRUE(StartsWith(VerdictText(view), kClearSigns));
}

TEST_F(KnownVersionChecks, AValueOfAnotherTypeEndsTheRegistryGroupOnly) {
  system.SetValue(kServiceKey, "ImagePath", RegistryValue::Dword(1));
  AddAppInit("mfc42ul.dll");
  AddLibrary();
  Start({kNo, kNo});
  const auto captions = Captions();
  ASSERT_GE(captions.size(), 3u);
  EXPECT_EQ(captions[1],
            "Kritisch: - Beim Überprüfen der Registrierungsdatenbank traten Fehler auf");
  EXPECT_EQ(captions[2], "Analysiere Systemdateien...");
  EXPECT_TRUE(HasCaption("Kritisch: - Lauschkobold Bibliothek eindeutig identifiziert"));
  EXPECT_EQ(view.ProgressHistory()[1].position, 40);  // 10 and 20 were skipped
  EXPECT_EQ(system.OpenRegistryKeyCount(), 0);
}

TEST_F(KnownVersionChecks, ARefusedKeyCountsAsAbsent) {
  AddServiceKey();
  system.DenyKeyRead(kServiceKey);
  Start({kNo});
  EXPECT_FALSE(HasCaption("Kritisch: - Lauschkobold Treiber in System registriert"));
  EXPECT_FALSE(
      HasCaption("Kritisch: - Beim Überprüfen der Registrierungsdatenbank traten Fehler auf"));
}

TEST_F(KnownVersionChecks, LibraryWithoutSignatureIsStillAPart) {
  AddLibrary(false);
  Start({kNo, kNo});
  EXPECT_TRUE(HasCaption("Bedenklich: - Lauschkobold Bibliothek NICHT eindeutig identifiziert"));
  EXPECT_TRUE(StartsWith(VerdictText(view), kPartsFound));
}

TEST_F(KnownVersionChecks, DriverSignatureAsSingleByteTextIsNotConfirmed) {
  AddDriver(false);
  Start({kNo, kNo});
  EXPECT_TRUE(HasCaption("Lauschkobold Treiber NICHT eindeutig identifiziert"));
  EXPECT_TRUE(StartsWith(VerdictText(view), kPartsFound));
}

TEST_F(KnownVersionChecks, UnreadableFilesAreReportedAndStillCount) {
  AddLibrary();
  AddDriver();
  files->SetLocked(kLibraryPath, true);
  files->SetLocked(kDriverPath, true);
  Start({kNo, kNo});
  EXPECT_TRUE(HasCaption("Bedenklich: - Fehler: Kein Zugriff auf die Bibliothek"));
  EXPECT_TRUE(HasCaption("Bedenklich: - Fehler: Kein Zugriff auf den Treiber"));
  EXPECT_TRUE(StartsWith(VerdictText(view), kPartsFound));
}

TEST_F(KnownVersionChecks, AReachableDeviceAloneIsAPart) {
  AddDevice();
  Start({kNo, kNo});
  EXPECT_TRUE(HasCaption("Kritisch: - Verbindung mit Lauschkobold möglich!!!"));
  EXPECT_TRUE(StartsWith(VerdictText(view), kPartsFound));
}

TEST_F(KnownVersionChecks, OutsideTheNtFamilyTheServiceEntryCountsAsFound) {
  system.SetNtFamily(false);
  Start({kNo, kNo});
  EXPECT_TRUE(HasCaption("Kritisch: - Lauschkobold Treiber ist im Dienstemanager angemeldet"));
  EXPECT_TRUE(StartsWith(VerdictText(view), kClearSigns));
}

TEST_F(KnownVersionChecks, AnUnavailableServiceManagerIsReportedAsSuch) {
  system.SetServiceManagerAvailable(false);
  AddService();
  Start({kNo});
  const auto captions = Captions();
  const auto it = std::find(captions.begin(), captions.end(),
                            "Kritisch: - Verbindung mit dem Dienstemanager nicht möglich");
  ASSERT_NE(it, captions.end());
  EXPECT_EQ(*(it + 1), "Lauschkobold Treiber ist NICHT im Dienstemanager angemeldet");
  EXPECT_EQ(view.Dialogs().back().title, "Information");
}

}  // namespace
}  // namespace lk::testing
