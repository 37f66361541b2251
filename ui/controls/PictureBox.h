#pragma once
// A window that shows a picture (centred at its designed size) or one image of an image list,
// on its parent's background.

#include <windows.h>

#include <commctrl.h>

#include "ui/controls/Picture.h"
#include "ui/controls/Window.h"

namespace lk::ui {

class PictureBox final : public BufferedWindow {
 public:
  struct CreateArgs {
    HWND parent = nullptr;
    int id = 0;
    RECT place{};
    bool visible = true;
    UINT dpi = 96;
  };

  bool Create(const CreateArgs& args);
  // The picture and its designed size.
  void SetPicture(Picture picture, int designWidth, int designHeight);
  // Image index of the list instead of a picture; a negative index shows nothing.
  void SetImage(HIMAGELIST images, int index);
  void SetDpi(UINT dpi);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC dc, const RECT& client) override;

  UINT dpi_ = 96;
  Picture picture_;
  int designWidth_ = 0;
  int designHeight_ = 0;
  HIMAGELIST images_ = nullptr;
  int index_ = -1;
};

}  // namespace lk::ui
