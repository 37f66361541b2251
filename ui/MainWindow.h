#pragma once
// The main window (TfmAntiTrojan): the header with the product name and the start button, the
// notice, the report list, the status line and progress bar of a run, and the footer. It is the
// analysis's view (AnalysisView) and hosts the analysis (AnalysisController), which carries out
// a run synchronously inside the start button's click while window messages keep running.
//
// The layout is designed in pixels for 96 DPI (client area 690 x 494) and scaled to the
// monitor's DPI; controls aligned to the bottom take no room while hidden. A close request
// during a run cancels the run and closes the window once the run has unwound.

#include <windows.h>

#include <memory>
#include <string>
#include <variant>

#include "analysis/AnalysisController.h"
#include "analysis/AnalysisView.h"
#include "analysis/StartButtonAnimation.h"
#include "system/Desktop.h"
#include "system/FileSystem.h"
#include "system/SystemAccess.h"
#include "ui/VersionInfo.h"
#include "ui/controls/BusyIndicator.h"
#include "ui/controls/GlowButton.h"
#include "ui/controls/ImageLists.h"
#include "ui/controls/MarkupLabel.h"
#include "ui/controls/PictureBox.h"
#include "ui/controls/ReportListView.h"
#include "ui/controls/SmoothProgressBar.h"
#include "ui/controls/Theme.h"
#include "ui/controls/Window.h"

namespace lk::ui {

class MainWindow final : public BufferedWindow, public AnalysisView {
 public:
  MainWindow(SystemAccess& system, Desktop& desktop, FileSystem& files);
  ~MainWindow() override;

  // Creates the window and its controls, runs FormCreate and shows the window.
  bool Create();

  // AnalysisView
  void AppendReportRow(const std::string& caption, int imageIndex) override;
  void RemoveLastReportRow() override;
  [[nodiscard]] int ReportRowCount() const override;
  void ClearReport() override;
  DialogResult ShowMessageDialog(const std::string& title, const std::string& text, DialogIcon icon,
                                 DialogButtons buttons) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(double position, double maximum) override;
  void SetStatusText(const std::string& text) override;
  void SetStatusVisible(bool visible) override;
  void SetBusy(bool turning) override;
  void SetCancelButtonVisible(bool visible) override;
  [[nodiscard]] int StartButtonWidth() const override;
  void SetStartButtonWidth(int width) override;
  void CloseWindow() override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // One control of the window: its member, its id and what of its look is its own. The parent,
  // the designed place, the DPI and the theme come from the window (CreateControl).
  template <typename Control>
  struct ControlRow {
    Control MainWindow::*control;
    int id;
    typename Control::CreateArgs look;
  };
  using AnyControlRow = std::variant<ControlRow<PictureBox>, ControlRow<MarkupLabel>,
                                     ControlRow<BusyIndicator>, ControlRow<GlowButton>,
                                     ControlRow<ReportListView>, ControlRow<SmoothProgressBar>>;

  // The controls from one table, in the order of Tab and of drawing.
  void CreateControls();
  template <typename Control>
  void CreateControl(const ControlRow<Control>& row);
  void LoadArtwork();
  void LoadPictures();
  void FormCreate();
  void LayOutControls();
  void ChangeDpi(UINT dpi, const RECT* suggested);
  void Paint(HDC dc, const RECT& client) override;
  void Timer1Timer();
  void btnStartAnalyzeMouseEnter();
  void btnStartAnalyzeClick();
  void FormClose();
  void RequestClose();
  [[nodiscard]] int S(int designPixels) const;
  [[nodiscard]] RECT Designed(int left, int top, int width, int height) const;
  // Where the control of that id belongs now, in device pixels: the one table of designed
  // places that creation, layout and the DPI change all read.
  [[nodiscard]] RECT DesignedPlace(int controlId) const;
#ifdef LK_UI_TEST_HOOKS
  bool HandleTestHook(UINT message, WPARAM wParam, LPARAM lParam);
  void FailDialogIfAsked();
  // 0: none; 1: the next dialog of a run fails; 2: it requests the close first, then fails.
  int dialogFailure_ = 0;
#endif

  SystemAccess& system_;
  Desktop& desktop_;
  FileSystem& files_;
  Theme theme_;
  VersionInfo versionInfo1_;
  std::unique_ptr<AnalysisController> controller_;
  UINT dpi_ = 96;

  ImageList ilReport_;
  PictureBox imgLogo_;
  PictureBox imgDeveloperBadge_;
  MarkupLabel lblProductName_;
  PictureBox imgBitBadge_;
  BusyIndicator busyIndicator1_;
  MarkupLabel label1_;
  MarkupLabel lblFeedback_;
  GlowButton btnStartAnalyze_;
  GlowButton btnAbbruch_;
  MarkupLabel lblNotice_;
  ReportListView lvReport_;
  MarkupLabel lblStatus_;
  SmoothProgressBar spb1_;
  MarkupLabel lblFooter_;

  // Designed places that change at run time.
  POINT productNamePlace_{127, 1};
  POINT feedbackPlace_{9, 105};
  int startButtonWidth_ = kStartButtonIdleWidth;
  bool timer1Running_ = false;
  bool closed_ = false;
};

}  // namespace lk::ui
