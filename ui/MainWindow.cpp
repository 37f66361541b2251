#include "ui/MainWindow.h"

#include <type_traits>
#include <variant>

#include "ui/ControlIds.h"
#include "ui/Resources.h"
#include "ui/YesNoDialog.h"
#include "ui/controls/DialogKeys.h"
#include "ui/controls/Dpi.h"

namespace lk::ui {
namespace {

constexpr int kClientWidth = 690;
constexpr int kClientHeight = 494;
constexpr int kHeaderHeight = 130;
constexpr int kNoticeTop = 128;
constexpr int kNoticeHeight = 60;
constexpr int kReportTop = kNoticeTop + kNoticeHeight;
constexpr int kStatusHeight = 13;
constexpr int kProgressHeight = 20;
constexpr int kFooterHeight = 23;

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 1000;

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

constexpr char kCaption[] = "Quandrel Anti-Lauschkobold";

// Link targets.
constexpr char kPublisherHome[] = "https://www.quandrel.example/";
constexpr char kProductPage[] = "https://www.quandrel.example/anti-lauschkobold/";
constexpr char kDeveloperSite[] = "https://www.tessivar.example/";
constexpr char kSupportMail[] = "mailto:support@quandrel.example";

std::string Link(const char* target, const char* text) {
  return std::string("<a href=\"") + target + "\">" + text + "</a>";
}

std::wstring Wide(const char* ascii) {
  return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

// The controls with a designed place of their own, in the order they are laid out. The report
// list, the status line, the progress bar and the footer are stacked from the bottom instead.
constexpr int kPlacedControls[] = {
    kIdLogo,         kIdDeveloperBadge, kIdProductName,  kIdBitBadge, kIdBusyIndicator,
    kIdVersionLabel, kIdFeedback,       kIdStartAnalyze, kIdAbbruch,  kIdNotice};

// The text and link colours of the window's controls.
constexpr COLORREF kTextColor = Rgb(0x083772);
constexpr COLORREF kLinkColor = Rgb(0x083D97);

constexpr int kDeveloperBadgeLeft = -9;
constexpr int kDeveloperBadgeWidth = 121;

void PlaceWindow(HWND window, const RECT& place) {
  SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left,
               place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

MainWindow::MainWindow(SystemAccess& system, Desktop& desktop, FileSystem& files)
    : BufferedWindow(PrintClient::Answer), system_(system), desktop_(desktop), files_(files) {}

MainWindow::~MainWindow() = default;

int MainWindow::S(int designPixels) const { return Scale(designPixels, dpi_); }

RECT MainWindow::Designed(int left, int top, int width, int height) const {
  return RECT{S(left), S(top), S(left + width), S(top + height)};
}

RECT MainWindow::DesignedPlace(int controlId) const {
  switch (controlId) {
    case kIdLogo:
      return Designed(0, 0, 187, 63);
    case kIdDeveloperBadge:
      return Designed(kDeveloperBadgeLeft, 0, kDeveloperBadgeWidth, 106);
    case kIdProductName:
      return Designed(productNamePlace_.x, productNamePlace_.y, 338, 52);
    case kIdBitBadge:
      return Designed(576, 6, 65, 26);
    case kIdBusyIndicator:
      return Designed(647, 6, 33, 36);
    case kIdVersionLabel:
      return Designed(586, 43, 100, 14);
    case kIdFeedback:
      return Designed(feedbackPlace_.x, feedbackPlace_.y, 121, 17);
    case kIdStartAnalyze:
      return Designed(127, 64, startButtonWidth_, 58);
    case kIdAbbruch:
      return Designed(577, 64, 104, 58);
    case kIdNotice:
      return Designed(0, kNoticeTop, kClientWidth, kNoticeHeight);
    default:
      return RECT{};
  }
}

bool MainWindow::Create() {
  const int bigIcon = GetSystemMetrics(SM_CXICON);
  const int smallIcon = GetSystemMetrics(SM_CXSMICON);
  RegisterWindowClass(
      kMainWindowClass, 0, nullptr,
      static_cast<HICON>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(LK_ICON_APP), IMAGE_ICON,
                                    bigIcon, bigIcon, LR_DEFAULTCOLOR)),
      static_cast<HICON>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(LK_ICON_APP), IMAGE_ICON,
                                    smallIcon, smallIcon, LR_DEFAULTCOLOR)));
  if (!CreateBound(kExStyle, kMainWindowClass, Wide(kCaption).c_str(), kStyle, CW_USEDEFAULT,
                   CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr)) {
    return false;
  }
  EnableDialogKeys(Hwnd());
  dpi_ = DpiForWindow(Hwnd());

  // Client area of the designed size, centred on the screen.
  const SIZE size = WindowSizeForClient(S(kClientWidth), S(kClientHeight), kStyle, kExStyle, dpi_);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(Hwnd(), MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& screen = monitor.rcMonitor;
  SetWindowPos(Hwnd(), nullptr, screen.left + (screen.right - screen.left - size.cx) / 2,
               screen.top + (screen.bottom - screen.top - size.cy) / 2, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);

  controller_ = std::make_unique<AnalysisController>(system_, desktop_, files_, *this);
  CreateControls();
  // The blink timer runs from the moment the window exists.
  SetTimer(Hwnd(), kTimer1, kTimer1Interval, nullptr);
  timer1Running_ = true;
  FormCreate();
  if (closed_) return true;
  ShowWindow(Hwnd(), SW_SHOW);
  UpdateWindow(Hwnd());
  return true;
}

void MainWindow::CreateControls() {
  LoadArtwork();
  // In the order of creation, which is the order of Tab and of drawing.
  const AnyControlRow rows[] = {
      ControlRow<PictureBox>{&MainWindow::imgLogo_, kIdLogo, {}},
      ControlRow<PictureBox>{&MainWindow::imgDeveloperBadge_, kIdDeveloperBadge, {}},
      ControlRow<MarkupLabel>{&MainWindow::lblProductName_,
                              kIdProductName,
                              {.fontPixels = 27,
                               .bold = true,
                               .textColor = Rgb(0x002E56),
                               .wordWrap = false,
                               .plainText = true,
                               .reflectionHeight = 20}},
      ControlRow<PictureBox>{&MainWindow::imgBitBadge_, kIdBitBadge, {}},
      ControlRow<BusyIndicator>{
          &MainWindow::busyIndicator1_, kIdBusyIndicator, {.blockColor = kLinkColor}},
      ControlRow<MarkupLabel>{
          &MainWindow::label1_,
          kIdVersionLabel,
          {.fontPixels = 11, .textColor = kTextColor, .wordWrap = false, .plainText = true}},
      ControlRow<MarkupLabel>{&MainWindow::lblFeedback_,
                              kIdFeedback,
                              {.fontPixels = 11,
                               .textColor = kTextColor,
                               .linkColor = kLinkColor,
                               .wordWrap = false,
                               .images = ilReport_.Get()}},
      ControlRow<GlowButton>{&MainWindow::btnStartAnalyze_,
                             kIdStartAnalyze,
                             {.caption = L"Analyse starten...",
                              .fontPixels = 21,
                              .bold = true,
                              .textColor = kTextColor,
                              .toggle = true}},
      ControlRow<GlowButton>{&MainWindow::btnAbbruch_,
                             kIdAbbruch,
                             {.caption = L"Abbruch",
                              .fontPixels = 11,
                              .bold = true,
                              .textColor = kTextColor,
                              .toggle = false,
                              .visible = false}},
      ControlRow<MarkupLabel>{&MainWindow::lblNotice_,
                              kIdNotice,
                              {.fontPixels = 13,
                               .textColor = kTextColor,
                               .linkColor = kLinkColor,
                               .verticalCenter = true}},
      ControlRow<ReportListView>{
          &MainWindow::lvReport_, kIdReport, {.smallImages = ilReport_.Get()}},
      ControlRow<MarkupLabel>{&MainWindow::lblStatus_,
                              kIdStatus,
                              {.fontPixels = 11,
                               .textColor = kTextColor,
                               .wordWrap = false,
                               .plainText = true,
                               .visible = false}},
      ControlRow<SmoothProgressBar>{&MainWindow::spb1_, kIdProgress, {.visible = false}},
      ControlRow<MarkupLabel>{&MainWindow::lblFooter_,
                              kIdFooter,
                              {.fontPixels = 11,
                               .textColor = Rgb(0xFFFFFF),
                               .linkColor = Rgb(0xFFFFFF),
                               .background = Rgb(0x033893),
                               .gradientBottom = Rgb(0x5987D6),
                               .lineSpacing = 3,
                               .verticalCenter = true}},
  };
  for (const AnyControlRow& row : rows) {
    std::visit([this](const auto& control) { CreateControl(control); }, row);
  }
  lblProductName_.SetText("Anti-Lauschkobold");
  btnStartAnalyze_.OnMouseEnter([this] { btnStartAnalyzeMouseEnter(); });
  lblStatus_.SetText("Status:");
  LayOutControls();
}

template <typename Control>
void MainWindow::CreateControl(const ControlRow<Control>& row) {
  typename Control::CreateArgs args = row.look;
  args.parent = Hwnd();
  args.id = row.id;
  args.place = DesignedPlace(row.id);
  args.dpi = dpi_;
  if constexpr (requires { args.theme; }) args.theme = &theme_;
  // The report list keeps the font of a list; every other text is in the theme's font.
  if constexpr (requires { args.fontFace; } && !std::is_same_v<Control, ReportListView>) {
    args.fontFace = theme_.fontFace;
  }
  (this->*row.control).Create(args);
}

void MainWindow::LoadArtwork() {
  ilReport_ = ImageList::FromIcons(
      {LK_ICON_INFORMATION, LK_ICON_WARNING, LK_ICON_CRITICAL, LK_ICON_STAR, LK_ICON_ENVELOPE},
      S(16));
  if (imgLogo_.Hwnd() != nullptr) {
    lvReport_.SetImages(ilReport_.Get());
    lblFeedback_.SetImages(ilReport_.Get());
  }
}

void MainWindow::LoadPictures() {
  // Each picture in the resolution that fits the window's DPI.
  imgLogo_.SetPicture(Picture::FromResource(LK_PNG_WORDMARK_1X, LK_PNG_WORDMARK_2X, dpi_), 169, 38);
  imgDeveloperBadge_.SetPicture(
      Picture::FromResource(LK_PNG_DEVELOPER_1X, LK_PNG_DEVELOPER_2X, dpi_), 100, 100);
  imgBitBadge_.SetPicture(Picture::FromResource(LK_PNG_BITBADGE_1X, LK_PNG_BITBADGE_2X, dpi_), 65,
                          26);
  btnAbbruch_.SetGlyph(Picture::FromResource(LK_PNG_CANCEL_1X, LK_PNG_CANCEL_2X, dpi_), 24, 24);
}

void MainWindow::FormCreate() {
  // The analysis' part: the 64-bit question, the directories, the result lists and, on 64-bit
  // systems, the notice and the note entry.
  controller_->FormCreate();
  LoadPictures();

  // The product name takes the place beside the (hidden) developer badge.
  imgDeveloperBadge_.Show(false);
  productNamePlace_ = POINT{kDeveloperBadgeLeft + kDeveloperBadgeWidth + 120, 10};
  // The feedback link moves up to the start button's top.
  feedbackPlace_.y = 64;
  lblFeedback_.SetText("<IMG src=\"idx:4\"> " + Link(kSupportMail, "Feedback..."));
  // Notice and footer.
  lblNotice_.SetText(
      "<IND x=\"10\"><B>Hinweis:</B> Analyse und Methode zur Entfernung beruhen auf den "
      "derzeitigen Erkenntnissen mit Stand<br><IND x=\"10\"><I>13. Oktober 2011</I>. Bitte "
      "prüfen Sie regelmäßig auf den Seiten von " +
      Link(kPublisherHome, "Quandrel Software GmbH") +
      ", ob es inzwischen<br><IND x=\"10\">eine neuere Version gibt.");
  lblFooter_.SetText("<IND x=\"10\"><B>" + Link(kProductPage, "Quandrel Software GmbH") +
                     "</B> in Kooperation mit <b>" + Link(kDeveloperSite, "Tessivar") + "</b>" +
                     " \xC2\xB7 \xC2\xA9 2011 Quandrel Software GmbH. Alle Rechte vorbehalten." +
                     "</P>");
  // The version from the program's own version block.
  label1_.SetText("Version: " + versionInfo1_.FileVersion());
  LayOutControls();
  Sleep(10);
}

void MainWindow::LayOutControls() {
  for (int id : kPlacedControls) PlaceWindow(GetDlgItem(Hwnd(), id), DesignedPlace(id));

  // Bottom-aligned controls, from the bottom up; hidden ones take no room.
  int bottom = kClientHeight;
  auto stack = [&](auto& control, int height, bool shown) {
    const RECT r = Designed(0, bottom - height, kClientWidth, height);
    control.Place(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (shown) bottom -= height;
  };
  stack(lblFooter_, kFooterHeight, true);
  stack(spb1_, kProgressHeight, spb1_.IsShown());
  stack(lblStatus_, kStatusHeight, lblStatus_.IsShown());
  PlaceWindow(lvReport_.Hwnd(), RECT{S(0), S(kReportTop), S(kClientWidth), S(bottom)});
  lvReport_.FitColumn();
}

void MainWindow::ChangeDpi(UINT dpi, const RECT* suggested) {
  dpi_ = dpi;
  LoadArtwork();
  LoadPictures();
  for (PictureBox* box : {&imgLogo_, &imgDeveloperBadge_, &imgBitBadge_}) box->SetDpi(dpi_);
  for (MarkupLabel* label :
       {&lblProductName_, &label1_, &lblFeedback_, &lblNotice_, &lblStatus_, &lblFooter_}) {
    label->SetDpi(dpi_);
  }
  btnStartAnalyze_.SetDpi(dpi_);
  btnAbbruch_.SetDpi(dpi_);
  busyIndicator1_.SetDpi(dpi_);
  spb1_.SetDpi(dpi_);
  lvReport_.SetDpi(dpi_);
  const SIZE size = WindowSizeForClient(S(kClientWidth), S(kClientHeight), kStyle, kExStyle, dpi_);
  if (suggested != nullptr) {
    SetWindowPos(Hwnd(), nullptr, suggested->left, suggested->top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LayOutControls();
  InvalidateRect(Hwnd(), nullptr, TRUE);
}

void MainWindow::Paint(HDC dc, const RECT& client) {
  // The window's gradient, with a darker one behind the header.
  FillGradient(dc, client, Rgb(0xFAFBFD), Rgb(0xEBF3FD));
  FillGradient(dc, RECT{0, 0, client.right, S(kHeaderHeight)}, Rgb(0xDCEBFC), Rgb(0xC1DBFC));
  // An etched line under the version.
  const int line = std::max(1, S(1));
  const RECT bevel = Designed(552, 59, 128, 0);
  FillSolid(dc, RECT{bevel.left, bevel.top, bevel.right, bevel.top + line}, theme_.separatorDark);
  FillSolid(dc, RECT{bevel.left, bevel.top + line, bevel.right, bevel.top + 2 * line},
            theme_.separatorLight);
}

void MainWindow::Timer1Timer() {
  if (!btnStartAnalyze_.IsToggle()) return;
  btnStartAnalyze_.SetDown(!btnStartAnalyze_.IsDown());
  UpdateWindow(btnStartAnalyze_.Hwnd());
  desktop_.PumpWindowMessages();
}

void MainWindow::btnStartAnalyzeMouseEnter() {
  // The blinking ends for good the first time the mouse comes over the button.
  if (timer1Running_) {
    KillTimer(Hwnd(), kTimer1);
    timer1Running_ = false;
  }
  btnStartAnalyze_.SetToggle(false);
}

void MainWindow::btnStartAnalyzeClick() { controller_->btnStartAnalyzeClick(); }

void MainWindow::RequestClose() {
  if (closed_) return;
  if (controller_->RequestClose()) {
    FormClose();
    return;
  }
  // A run still uses the window and its lists: it has been cancelled and closes the window
  // through CloseWindow once it has unwound. A dialog open right now answers Cancel.
  if (HWND dialog = YesNoDialog::OpenDialog()) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

void MainWindow::CloseWindow() {
  if (!closed_) FormClose();
}

void MainWindow::FormClose() {
  closed_ = true;
  if (timer1Running_) {
    KillTimer(Hwnd(), kTimer1);
    timer1Running_ = false;
  }
  // Closing the main window ends the program.
  DestroyWindow(Hwnd());
}

// AnalysisView --------------------------------------------------------------------------------

void MainWindow::AppendReportRow(const std::string& caption, int imageIndex) {
  lvReport_.Append(caption, imageIndex);
}

void MainWindow::RemoveLastReportRow() { lvReport_.RemoveLast(); }

int MainWindow::ReportRowCount() const { return lvReport_.Count(); }

void MainWindow::ClearReport() { lvReport_.Clear(); }

DialogResult MainWindow::ShowMessageDialog(const std::string& title, const std::string& text,
                                           DialogIcon icon, DialogButtons buttons) {
#ifdef LK_UI_TEST_HOOKS
  FailDialogIfAsked();
#endif
  return YesNoDialog::Show(Hwnd(), theme_, title, text, icon, buttons);
}

void MainWindow::SetProgressVisible(bool visible) {
  spb1_.Show(visible);
  LayOutControls();
}

void MainWindow::SetProgress(double position, double maximum) {
  spb1_.SetProgress(position, maximum);
}

void MainWindow::SetStatusText(const std::string& text) { lblStatus_.SetText(text); }

void MainWindow::SetStatusVisible(bool visible) {
  lblStatus_.Show(visible);
  LayOutControls();
}

void MainWindow::SetBusy(bool turning) { busyIndicator1_.SetTurning(turning); }

void MainWindow::SetCancelButtonVisible(bool visible) {
  ShowWindow(btnAbbruch_.Hwnd(), visible ? SW_SHOWNA : SW_HIDE);
}

int MainWindow::StartButtonWidth() const { return startButtonWidth_; }

void MainWindow::SetStartButtonWidth(int width) {
  startButtonWidth_ = width;
  PlaceWindow(btnStartAnalyze_.Hwnd(), DesignedPlace(kIdStartAnalyze));
}

// Messages ------------------------------------------------------------------------------------

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
#ifdef LK_UI_TEST_HOOKS
  if (HandleTestHook(message, wParam, lParam)) return 0;
#endif
  switch (message) {
    case WM_COMMAND:
      if (ClickFocusedButtonOnEnter(Hwnd(), wParam, lParam)) return 0;
      if (lParam != 0 && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == kIdStartAnalyze) {
          btnStartAnalyzeClick();
          return 0;
        }
        if (LOWORD(wParam) == kIdAbbruch) {
          controller_->btnAbbruchClick();
          return 0;
        }
      }
      break;
    case WM_TIMER:
      if (wParam == kTimer1) {
        Timer1Timer();
        return 0;
      }
      break;
    case WM_CLOSE:
      RequestClose();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ChangeDpi(HIWORD(wParam), suggested);
      return 0;
    }
    default:
      break;
  }
  return BufferedWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace lk::ui
