#pragma once
// Image lists of 32-bit icons with alpha, loaded from the program's icon resources at the size
// the display scaling asks for (each icon resource holds several sizes, so the image is drawn
// at its own size and stays crisp).

#include <windows.h>

#include <commctrl.h>

#include <initializer_list>

#include "ui/controls/Gdi.h"

namespace lk::ui {

class ImageList {
 public:
  // One image per icon resource id, each size x size device pixels.
  [[nodiscard]] static ImageList FromIcons(std::initializer_list<int> iconIds, int size);

  [[nodiscard]] HIMAGELIST Get() const noexcept { return list_.Get(); }
  [[nodiscard]] int Count() const noexcept {
    return list_ ? ImageList_GetImageCount(list_.Get()) : 0;
  }

 private:
  UniqueImageList list_;
};

}  // namespace lk::ui
