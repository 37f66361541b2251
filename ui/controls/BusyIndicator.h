#pragma once
// A busy indicator: a ring of small blocks in the block colour. Still, the ring rests with one
// block highlighted; turning, the highlight runs round the ring with a fading tail, driven by a
// timer of the control's own (so it turns whenever window messages run).

#include <windows.h>

#include "ui/controls/Gdi.h"
#include "ui/controls/Window.h"

namespace lk::ui {

class BusyIndicator final : public BufferedWindow {
 public:
  struct CreateArgs {
    HWND parent = nullptr;
    int id = 0;
    RECT place{};
    COLORREF blockColor = Rgb(0x083D97);
    UINT dpi = 96;
  };

  bool Create(const CreateArgs& args);
  void SetTurning(bool turning);
  [[nodiscard]] bool IsTurning() const noexcept { return turning_; }
  void SetDpi(UINT dpi);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC dc, const RECT& client) override;

  CreateArgs args_;
  bool turning_ = false;
  int step_ = 0;
};

}  // namespace lk::ui
