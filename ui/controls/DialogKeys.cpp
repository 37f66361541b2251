#include "ui/controls/DialogKeys.h"

namespace lk::ui {
namespace {
constexpr wchar_t kProperty[] = L"lk.DialogKeys";
}

void EnableDialogKeys(HWND topLevel) noexcept {
  SetPropW(topLevel, kProperty, reinterpret_cast<HANDLE>(UINT_PTR{1}));
}

bool ClickFocusedButtonOnEnter(HWND topLevel, WPARAM wParam, LPARAM lParam) noexcept {
  if (LOWORD(wParam) != IDOK || lParam != 0) return false;
  HWND focus = GetFocus();
  if (focus == nullptr || GetParent(focus) != topLevel) return false;
  wchar_t className[16] = {};
  GetClassNameW(focus, className, 16);
  if (lstrcmpiW(className, L"Button") != 0) return false;
  PostMessageW(focus, BM_CLICK, 0, 0);
  return true;
}

bool RouteDialogKeys(MSG& message) noexcept {
  if (message.hwnd == nullptr) return false;
  if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  HWND root = GetAncestor(message.hwnd, GA_ROOT);
  if (root == nullptr || GetPropW(root, kProperty) == nullptr) return false;
  return IsDialogMessageW(root, &message) != FALSE;
}

}  // namespace lk::ui
