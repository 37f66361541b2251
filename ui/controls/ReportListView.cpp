#include "ui/controls/ReportListView.h"

#include "ui/controls/Theme.h"
#include "ui/controls/Window.h"
#include "win32/Utf.h"

namespace lk::ui {

ReportListView::~ReportListView() {
  // A parent destroys its children: the list may be gone before this object is.
  if (hwnd_ && !IsWindow(hwnd_.Get())) static_cast<void>(hwnd_.Release());
}

bool ReportListView::Create(const CreateArgs& args) {
  fontFace_ = args.fontFace;
  fontPixels_ = args.fontPixels;
  // Read-only: no LVS_EDITLABELS. The image list stays ours (LVS_SHAREIMAGELISTS).
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT |
                      LVS_NOCOLUMNHEADER | LVS_SHAREIMAGELISTS | LVS_SINGLESEL | LVS_NOSORTHEADER;
  hwnd_.Reset(CreateWindowExW(
      0, WC_LISTVIEWW, L"", style, args.place.left, args.place.top,
      args.place.right - args.place.left, args.place.bottom - args.place.top, args.parent,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(args.id)), ModuleInstance(), nullptr));
  if (!hwnd_) return false;
  ListView_SetExtendedListViewStyle(hwnd_.Get(), LVS_EX_FLATSB | LVS_EX_DOUBLEBUFFER);
  ListView_SetBkColor(hwnd_.Get(), Rgb(0x000000));
  ListView_SetTextBkColor(hwnd_.Get(), Rgb(0x000000));
  ListView_SetTextColor(hwnd_.Get(), Rgb(0xFFFFFF));
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = const_cast<wchar_t*>(L"Meldung");
  column.cx = args.place.right - args.place.left;
  ListView_InsertColumn(hwnd_.Get(), 0, &column);
  SetImages(args.smallImages);
  SetDpi(args.dpi);
  return true;
}

void ReportListView::SetImages(HIMAGELIST smallImages) {
  ListView_SetImageList(hwnd_.Get(), smallImages, LVSIL_SMALL);
}

void ReportListView::SetDpi(UINT dpi) {
  font_ = MakeFont(fontFace_, fontPixels_, dpi);
  SendMessageW(hwnd_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
  FitColumn();
}

void ReportListView::FitColumn() {
  RECT client{};
  GetClientRect(hwnd_.Get(), &client);
  ListView_SetColumnWidth(hwnd_.Get(), 0, client.right - client.left);
}

void ReportListView::Append(const std::string& utf8Caption, int imageIndex) {
  std::wstring caption = WideFromUtf8(utf8Caption);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
  item.iItem = Count();
  item.pszText = caption.data();
  item.iImage = imageIndex;
  item.state = 0;
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  ListView_InsertItem(hwnd_.Get(), &item);
  // A vertical scroll bar appears with the first row that does not fit: keep the column inside.
  RECT client{};
  GetClientRect(hwnd_.Get(), &client);
  if (ListView_GetColumnWidth(hwnd_.Get(), 0) != client.right - client.left) FitColumn();
}

void ReportListView::RemoveLast() {
  const int count = Count();
  if (count > 0) ListView_DeleteItem(hwnd_.Get(), count - 1);
}

int ReportListView::Count() const { return ListView_GetItemCount(hwnd_.Get()); }

void ReportListView::Clear() { ListView_DeleteAllItems(hwnd_.Get()); }

}  // namespace lk::ui
