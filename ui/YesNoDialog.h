#pragma once
// The message dialog (TfmYesNoDlg): a title in a coloured caption bar next to an icon, a message
// in markup on a white area (scrollable when it is longer), and a row of up to four buttons at
// fixed places. Shown modally over its owner; returns the button that closed it, or Cancel for
// a close request from the window system. One dialog lives for one call.
//
// The modal loop dispatches every message of the thread, so the owner's timers and painting go
// on behind the dialog; the owner is disabled for the call.

#include <windows.h>

#include <string>

#include "analysis/AnalysisView.h"
#include "ui/controls/GlowButton.h"
#include "ui/controls/ImageLists.h"
#include "ui/controls/MarkupLabel.h"
#include "ui/controls/PictureBox.h"
#include "ui/controls/Theme.h"
#include "ui/controls/Window.h"

namespace lk::ui {

class YesNoDialog final : public BufferedWindow {
 public:
  // Shows one dialog and returns its result. title and text are UTF-8; the text in markup, with
  // "(FS)" and "(FE)" standing for the start and end of a black passage.
  static DialogResult Show(HWND owner, const Theme& theme, const std::string& title,
                           const std::string& text, DialogIcon icon, DialogButtons buttons);

  // The dialog that is open at the moment (nullptr if none), for the owner's close handling.
  [[nodiscard]] static HWND OpenDialog() noexcept;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  explicit YesNoDialog(const Theme& theme) : BufferedWindow(PrintClient::Answer), theme_(theme) {}
  bool Build(HWND owner, const std::string& title, const std::string& text, DialogIcon icon,
             DialogButtons buttons);
  // Where the dialog's window goes: centred on the owner, inside the monitor's work area.
  [[nodiscard]] static POINT CentredPlace(HWND owner, SIZE size);
  void CreateIcon(DialogIcon icon);
  void CreateTexts(const std::string& title, const std::string& text);
  void CreateButtons(DialogButtons buttons);
  DialogResult RunModal(HWND owner);
  void End(DialogResult result);
  void Paint(HDC dc, const RECT& client) override;
  [[nodiscard]] int S(int designPixels) const;

  const Theme& theme_;
  UINT dpi_ = 96;
  ImageList icons_;
  PictureBox icon_;
  MarkupLabel title_;
  MarkupLabel message_;
  GlowButton buttons_[4];
  bool done_ = false;
  DialogResult result_ = DialogResult::Cancel;
};

// Replaces every "(FS)" with <FONT color="#000000"> and then every "(FE)" with </FONT>.
[[nodiscard]] std::string ExpandBlackMarkers(std::string text);

}  // namespace lk::ui
