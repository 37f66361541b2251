#pragma once
// The report list control: a list view in report view with one column ("Meldung") that spans the
// control, no header, no in-place editing, black background, white text and small images. New
// rows are appended without selecting them and without scrolling to them. The object owns the
// list until its parent destroys it.

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "ui/controls/Gdi.h"

namespace lk::ui {

class ReportListView {
 public:
  struct CreateArgs {
    HWND parent = nullptr;
    int id = 0;
    RECT place{};
    HIMAGELIST smallImages = nullptr;
    std::wstring fontFace = L"MS Sans Serif";
    int fontPixels = 11;
    UINT dpi = 96;
  };

  ReportListView() = default;
  ReportListView(const ReportListView&) = delete;
  ReportListView& operator=(const ReportListView&) = delete;
  ~ReportListView();

  bool Create(const CreateArgs& args);
  [[nodiscard]] HWND Hwnd() const noexcept { return hwnd_.Get(); }

  void Append(const std::string& utf8Caption, int imageIndex);
  void RemoveLast();
  [[nodiscard]] int Count() const;
  void Clear();

  void SetImages(HIMAGELIST smallImages);
  void SetDpi(UINT dpi);
  // Keeps the one column as wide as the control after a size change.
  void FitColumn();

 private:
  UniqueWindow hwnd_;
  std::wstring fontFace_;
  int fontPixels_ = 11;
  UniqueFont font_;
};

}  // namespace lk::ui
