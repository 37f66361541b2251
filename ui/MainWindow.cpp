#include "ui/MainWindow.h"

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

constexpr int kDeveloperBadgeLeft = -9;
constexpr int kDeveloperBadgeWidth = 121;

void PlaceWindow(HWND window, const RECT& place) {
  SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left,
               place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

MainWindow::MainWindow(SystemAccess& system, Desktop& desktop, FileSystem& files)
    : system_(system), desktop_(desktop), files_(files) {}

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

  PictureBox::CreateArgs logo;
  logo.parent = Hwnd();
  logo.id = kIdLogo;
  logo.place = DesignedPlace(kIdLogo);
  logo.dpi = dpi_;
  imgLogo_.Create(logo);

  PictureBox::CreateArgs badge = logo;
  badge.id = kIdDeveloperBadge;
  badge.place = DesignedPlace(kIdDeveloperBadge);
  imgDeveloperBadge_.Create(badge);

  MarkupLabel::CreateArgs product;
  product.parent = Hwnd();
  product.id = kIdProductName;
  product.place = DesignedPlace(kIdProductName);
  product.fontFace = theme_.fontFace;
  product.fontPixels = 27;
  product.bold = true;
  product.textColor = Rgb(0x002E56);
  product.wordWrap = false;
  product.plainText = true;
  product.reflectionHeight = 20;
  product.dpi = dpi_;
  lblProductName_.Create(product);
  lblProductName_.SetText("Anti-Lauschkobold");

  PictureBox::CreateArgs bitBadge = logo;
  bitBadge.id = kIdBitBadge;
  bitBadge.place = DesignedPlace(kIdBitBadge);
  imgBitBadge_.Create(bitBadge);

  BusyIndicator::CreateArgs busy;
  busy.parent = Hwnd();
  busy.id = kIdBusyIndicator;
  busy.place = DesignedPlace(kIdBusyIndicator);
  busy.blockColor = Rgb(0x083D97);
  busy.dpi = dpi_;
  busyIndicator1_.Create(busy);

  MarkupLabel::CreateArgs version;
  version.parent = Hwnd();
  version.id = kIdVersionLabel;
  version.place = DesignedPlace(kIdVersionLabel);
  version.fontFace = theme_.fontFace;
  version.fontPixels = 11;
  version.textColor = Rgb(0x083772);
  version.wordWrap = false;
  version.plainText = true;
  version.dpi = dpi_;
  label1_.Create(version);

  MarkupLabel::CreateArgs feedback;
  feedback.parent = Hwnd();
  feedback.id = kIdFeedback;
  feedback.place = DesignedPlace(kIdFeedback);
  feedback.fontFace = theme_.fontFace;
  feedback.fontPixels = 11;
  feedback.textColor = Rgb(0x083772);
  feedback.linkColor = Rgb(0x083D97);
  feedback.wordWrap = false;
  feedback.images = ilReport_.Get();
  feedback.dpi = dpi_;
  lblFeedback_.Create(feedback);

  GlowButton::CreateArgs start;
  start.parent = Hwnd();
  start.id = kIdStartAnalyze;
  start.caption = L"Analyse starten...";
  start.place = DesignedPlace(kIdStartAnalyze);
  start.fontPixels = 21;
  start.bold = true;
  start.textColor = Rgb(0x083772);
  start.theme = &theme_;
  start.toggle = true;
  start.dpi = dpi_;
  btnStartAnalyze_.Create(start);
  btnStartAnalyze_.OnMouseEnter([this] { btnStartAnalyzeMouseEnter(); });

  GlowButton::CreateArgs cancel = start;
  cancel.id = kIdAbbruch;
  cancel.caption = L"Abbruch";
  cancel.place = DesignedPlace(kIdAbbruch);
  cancel.fontPixels = 11;
  cancel.toggle = false;
  cancel.visible = false;
  btnAbbruch_.Create(cancel);

  MarkupLabel::CreateArgs notice;
  notice.parent = Hwnd();
  notice.id = kIdNotice;
  notice.place = DesignedPlace(kIdNotice);
  notice.fontFace = theme_.fontFace;
  notice.fontPixels = 13;
  notice.textColor = Rgb(0x083772);
  notice.linkColor = Rgb(0x083D97);
  notice.verticalCenter = true;
  notice.dpi = dpi_;
  lblNotice_.Create(notice);

  ReportListView::CreateArgs report;
  report.parent = Hwnd();
  report.id = kIdReport;
  report.smallImages = ilReport_.Get();
  report.dpi = dpi_;
  lvReport_.Create(report);

  MarkupLabel::CreateArgs status;
  status.parent = Hwnd();
  status.id = kIdStatus;
  status.fontFace = theme_.fontFace;
  status.fontPixels = 11;
  status.textColor = Rgb(0x083772);
  status.wordWrap = false;
  status.plainText = true;
  status.visible = false;
  status.dpi = dpi_;
  lblStatus_.Create(status);
  lblStatus_.SetText("Status:");

  SmoothProgressBar::CreateArgs progress;
  progress.parent = Hwnd();
  progress.id = kIdProgress;
  progress.fontFace = theme_.fontFace;
  progress.visible = false;
  progress.dpi = dpi_;
  spb1_.Create(progress);

  MarkupLabel::CreateArgs footer;
  footer.parent = Hwnd();
  footer.id = kIdFooter;
  footer.fontFace = theme_.fontFace;
  footer.fontPixels = 11;
  footer.textColor = Rgb(0xFFFFFF);
  footer.linkColor = Rgb(0xFFFFFF);
  footer.background = Rgb(0x033893);
  footer.gradientBottom = Rgb(0x5987D6);
  footer.lineSpacing = 3;
  footer.verticalCenter = true;
  footer.dpi = dpi_;
  lblFooter_.Create(footer);

  LayOutControls();
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

void MainWindow::PaintBackground(HDC dc) {
  RECT client{};
  GetClientRect(Hwnd(), &client);
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
    case WM_PAINT: {
      BufferedPaint paint(Hwnd());
      PaintBackground(paint.Dc());
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintBackground(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ChangeDpi(HIWORD(wParam), suggested);
      return 0;
    }
    default:
      break;
  }
  return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace lk::ui
