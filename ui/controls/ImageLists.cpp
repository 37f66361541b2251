#include "ui/controls/ImageLists.h"

namespace lk::ui {

ImageList ImageList::FromIcons(std::initializer_list<int> iconIds, int size) {
  ImageList result;
  result.list_ =
      ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, static_cast<int>(iconIds.size()), 0);
  if (result.list_ == nullptr) return result;
  for (int id : iconIds) {
    auto* icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                               IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon == nullptr) {
      // Keep the indices: an empty slot for a missing icon.
      icon = CreateIcon(GetModuleHandleW(nullptr), 1, 1, 1, 1, nullptr, nullptr);
    }
    ImageList_AddIcon(result.list_, icon);
    if (icon != nullptr) DestroyIcon(icon);
  }
  return result;
}

}  // namespace lk::ui
