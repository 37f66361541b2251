#pragma once
// Window classes and control ids of the program's windows. Tools that drive the program from
// outside (the window tests) find the controls by these.

namespace lk::ui {

inline constexpr wchar_t kMainWindowClass[] = L"TfmAntiTrojan";
inline constexpr wchar_t kDialogClass[] = L"TfmYesNoDlg";

// The main window.
inline constexpr int kIdLogo = 1001;
inline constexpr int kIdDeveloperBadge = 1002;
inline constexpr int kIdProductName = 1003;
inline constexpr int kIdBitBadge = 1004;
inline constexpr int kIdBusyIndicator = 1005;
inline constexpr int kIdVersionLabel = 1006;
inline constexpr int kIdFeedback = 1007;
inline constexpr int kIdStartAnalyze = 1008;
inline constexpr int kIdAbbruch = 1009;
inline constexpr int kIdNotice = 1010;
inline constexpr int kIdReport = 1011;
inline constexpr int kIdStatus = 1012;
inline constexpr int kIdProgress = 1013;
inline constexpr int kIdFooter = 1014;

// The message dialog.
inline constexpr int kIdDialogIcon = 2001;
inline constexpr int kIdDialogTitle = 2002;
inline constexpr int kIdDialogMessage = 2003;
inline constexpr int kIdYes = 2011;
inline constexpr int kIdNo = 2012;
inline constexpr int kIdOk = 2013;
inline constexpr int kIdCancel = 2014;

}  // namespace lk::ui
