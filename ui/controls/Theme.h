#pragma once
// The window style of the program: a calm blue office-style theme. The main window applies it
// to its controls and hands the same instance to every message dialog, so both look alike.

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/controls/Gdi.h"

namespace lk::ui {

struct ButtonColors {
  COLORREF topFirst;
  COLORREF topSecond;
  COLORREF bottomFirst;
  COLORREF bottomSecond;
  COLORREF border;
  COLORREF innerLight;
};

struct Theme {
  // Glow buttons: resting, under the mouse, pressed (and the toggle's pressed look).
  ButtonColors buttonNormal{Rgb(0xFBFDFF), Rgb(0xE4EEFC), Rgb(0xD3E3FA),
                            Rgb(0xC2D9F7), Rgb(0x8DB2E3), Rgb(0xFFFFFF)};
  ButtonColors buttonHot{Rgb(0xFFFDF2), Rgb(0xFFF0C2), Rgb(0xFFE08A),
                         Rgb(0xFFD35C), Rgb(0xDBB24C), Rgb(0xFFFBE8)};
  ButtonColors buttonPressed{Rgb(0xFEE9C8), Rgb(0xFDD8A4), Rgb(0xFBC677),
                             Rgb(0xFDDA9E), Rgb(0xD29B48), Rgb(0xFFF1DC)};
  COLORREF buttonDisabledText = Rgb(0x8D9DB5);
  COLORREF focusColor = Rgb(0x3E6DB5);
  COLORREF separatorDark = Rgb(0x9DB9E4);
  COLORREF separatorLight = Rgb(0xFFFFFF);
  COLORREF scrollArrow = Rgb(0x083772);
  std::wstring fontFace = L"Tahoma";
};

// A font of the given character height in designed pixels, scaled to the DPI.
[[nodiscard]] UniqueFont MakeFont(const std::wstring& face, int designPixels, UINT dpi,
                                  bool bold = false, bool italic = false, bool underline = false);

}  // namespace lk::ui
