#pragma once
// Image lists of 32-bit icons with alpha, loaded from the program's icon resources at the size
// the display scaling asks for (each icon resource holds several sizes, so the image is drawn
// at its own size and stays crisp).

#include <windows.h>

#include <commctrl.h>

#include <initializer_list>
#include <utility>

namespace lk::ui {

class ImageList {
 public:
  ImageList() noexcept = default;
  ImageList(const ImageList&) = delete;
  ImageList& operator=(const ImageList&) = delete;
  ImageList(ImageList&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
  ImageList& operator=(ImageList&& other) noexcept {
    if (this != &other) {
      Reset();
      list_ = std::exchange(other.list_, nullptr);
    }
    return *this;
  }
  ~ImageList() { Reset(); }

  // One image per icon resource id, each size x size device pixels.
  [[nodiscard]] static ImageList FromIcons(std::initializer_list<int> iconIds, int size);

  [[nodiscard]] HIMAGELIST Get() const noexcept { return list_; }
  [[nodiscard]] int Count() const noexcept { return list_ ? ImageList_GetImageCount(list_) : 0; }

 private:
  void Reset() noexcept {
    if (list_ != nullptr) ImageList_Destroy(list_);
    list_ = nullptr;
  }

  HIMAGELIST list_ = nullptr;
};

}  // namespace lk::ui
