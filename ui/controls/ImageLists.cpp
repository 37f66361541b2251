#include "ui/controls/ImageLists.h"

namespace lk::ui {

ImageList ImageList::FromIcons(std::initializer_list<int> iconIds, int size) {
  ImageList result;
  result.list_.Reset(
      ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, static_cast<int>(iconIds.size()), 0));
  if (!result.list_) return result;
  for (int id : iconIds) {
    UniqueIcon icon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                                  IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    if (!icon) {
      // Keep the indices: an empty slot for a missing icon.
      icon.Reset(CreateIcon(GetModuleHandleW(nullptr), 1, 1, 1, 1, nullptr, nullptr));
    }
    // The list keeps a copy of the image.
    ImageList_AddIcon(result.list_.Get(), icon.Get());
  }
  return result;
}

}  // namespace lk::ui
