#pragma once
// A progress bar that fills smoothly (no blocks) with an orange to red gradient under a glossy
// highlight, on a light blue track, and writes its value as a percentage in its middle with the
// format "%.0f [%%]" ("40 [%]"). The window text is that percentage, for screen readers.

#include <windows.h>

#include <string>

#include "ui/controls/Gdi.h"
#include "ui/controls/Window.h"

namespace lk::ui {

class SmoothProgressBar final : public BufferedWindow {
 public:
  struct CreateArgs {
    HWND parent = nullptr;
    int id = 0;
    RECT place{};
    COLORREF track = Rgb(0xAFD2FF);
    COLORREF barStart = Rgb(0xFF9900);
    COLORREF barEnd = Rgb(0xE8200C);
    COLORREF textColor = Rgb(0x002E56);
    std::wstring fontFace = L"Tahoma";
    int fontPixels = 11;
    bool visible = false;
    UINT dpi = 96;
  };

  bool Create(const CreateArgs& args);
  // Position and maximum as the run gives them; the bar shows position / maximum.
  void SetProgress(double position, double maximum);
  [[nodiscard]] double Percent() const noexcept { return percent_; }
  void SetDpi(UINT dpi);

 private:
  void Paint(HDC dc, const RECT& client) override;

  CreateArgs args_;
  UniqueFont font_;
  double percent_ = 0.0;
};

}  // namespace lk::ui
