#include "wfload/win/DialogWindow.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "comm32/CommLogic.h"
#include "wfload/win/ControlIds.h"
#include "wfload/win/DialogImages.h"
#include "wfload/win/HostServices.h"

namespace {

const char kPropOwner[] = "Ctyset2.Window";
const char kPropProc[] = "Ctyset2.Proc";
const char kPropKind[] = "Ctyset2.Kind";

constexpr int kIconId = 101;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
// Design height of an open drop-down list, added to a combo box's height.
constexpr int kDropDownHeight = 200;
const COLORREF kStatusColor = RGB(0, 0, 255);
// The longest run of the serial component's messages (received blocks) the
// modal loop handles before it lets waiting input, painting and timers in.
constexpr ULONGLONG kComponentRunMs = 50;

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int DisplayDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

TDialogWindow::TDialogWindow(HINSTANCE module, std::unique_ptr<TCommPort> comm,
                             std::vector<std::string> startWords)
    : module_(module), comm_(std::move(comm)), startWords_(std::move(startWords)) {}

TDialogWindow::~TDialogWindow() {
  if (form_) form_->DetachTimers();
  form_.reset();
  if (hwnd_) DestroyWindow(hwnd_);
}

// ---------------------------------------------------------------------------
// Modal run

void TDialogWindow::RunModal(HWND owner) {
  dpi_ = DisplayDpi();
  // The window class lives only while the dialog does: the library can be
  // unloaded and loaded again at another address between openings.
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = module_;
  wc.hIcon = LoadIconA(module_, MAKEINTRESOURCEA(kIconId));
  // LoadIcon's icon is shared; the small one is this showing's own.
  const TIcon smallIcon(static_cast<HICON>(
      LoadImageA(module_, MAKEINTRESOURCEA(kIconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR)));
  wc.hIconSm = smallIcon.get();
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kSettingsWindowClass;
  const bool registered = RegisterClassExA(&wc) != 0;

  if (CreateFrame(owner)) {
    const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    SetFocus(Control(form_->ComboBox1));
    UpdateWindow(hwnd_);

    ModalLoop();
    form_->DetachTimers();
    form_.reset();  // FormDestroy closes the port
    // Re-enable the owner before destroying, so activation returns to it.
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
  }
  if (hwnd_) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  views_.clear();
  scene_.Clear();
  if (registered) UnregisterClassA(kSettingsWindowClass, module_);
}

// Until the dialog closes, or WM_QUIT, which is posted again for the host's
// own loop. Posted messages come before input and timers, so a port that
// keeps delivering could hold the dialog's keys, Cancel and ladder back: after
// kComponentRunMs of the component's messages in a row, waiting input,
// painting and timers go first.
void TDialogWindow::ModalLoop() {
  MSG msg;
  ULONGLONG componentRunSince = 0;  // 0: the last message was not the component's
  while (!closeRequested_) {
    const bool othersFirst =
        componentRunSince != 0 && GetTickCount64() - componentRunSince >= kComponentRunMs;
    if (othersFirst) componentRunSince = 0;
    if (!othersFirst ||
        (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT) &&
         !PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))) {
      const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got <= 0) {
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
    }
    if (msg.message != comm32::kWmCommData) {
      componentRunSince = 0;
    } else if (componentRunSince == 0) {
      componentRunSince = GetTickCount64();
    }
    if (!IsDialogMessageA(hwnd_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

bool TDialogWindow::CreateFrame(HWND owner) {
  hwnd_ = CreateWindowExA(kExStyle, kSettingsWindowClass, TForm1::kCaption, kStyle, CW_USEDEFAULT,
                          CW_USEDEFAULT, Scale(TForm1::kDesignWidth), Scale(TForm1::kDesignHeight),
                          owner, nullptr, module_, this);
  if (!hwnd_) return false;
  font_.reset(CreateFontA(-Scale(13), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, "System"));
  try {
    form_ = std::make_unique<TForm1>(*this, *comm_);  // runs FormCreate
  } catch (const std::exception& e) {
    ReportError(e.what());
    return false;
  }
  // Received data is an event of the window like any other.
  TReceiveDataEvent formHandler = comm_->OnReceiveData();
  if (!formHandler) {
    formHandler = [form = form_.get()](const void* buffer, std::uint16_t length) {
      form->Comm1ReceiveData(buffer, length);
    };
  }
  comm_->SetOnReceiveData([this, formHandler](const void* buffer, std::uint16_t length) {
    Dispatch([&] { formHandler(buffer, length); });
  });
  // So is the end of an opening that took its time.
  if (TOpenDoneEvent openDone = comm_->OnOpenDone()) {
    comm_->SetOnOpenDone([this, openDone](bool opened, const std::string& error) {
      Dispatch([&] { openDone(opened, error); });
    });
  }

  CreateControls();
  form_->AttachTimers();
  MirrorAll();
  BuildScene();
  Dispatch([this] { form_->FormResize(); });
  CenterOnScreen();
  return true;
}

void TDialogWindow::CenterOnScreen() {
  RECT r;
  GetWindowRect(hwnd_, &r);
  int screenWidth = 0;
  int screenHeight = 0;
  GetScreenSize(screenWidth, screenHeight);
  SetWindowPos(hwnd_, nullptr, (screenWidth - (r.right - r.left)) / 2,
               (screenHeight - (r.bottom - r.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------
// Controls

HWND TDialogWindow::Add(TControl& model, TKind kind, HWND parent, int id, const char* className,
                        DWORD style, DWORD exStyle) {
  HWND hwnd =
      CreateWindowExA(exStyle, className, "", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module_, nullptr);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  TView view;
  view.model = &model;
  view.kind = kind;
  view.hwnd = hwnd;
  views_.push_back(std::move(view));
  return hwnd;
}

void TDialogWindow::CreateControls() {
  TForm1& f = *form_;
  const DWORD panel = SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX;
  const DWORD combo = CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
  const DWORD list = LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER;

  // Created in tab order: ComboBox1, UPGRADE, Cancel, then Memo1.
  HWND frame = Add(f.Firmware, TKind::GroupBox, hwnd_, kIdFirmware, "BUTTON",
                   BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
  Subclass(frame, TSubclass::Frame);
  Add(f.ICtype, TKind::Label, frame, kIdICtype, "STATIC", SS_LEFT);
  HWND countries = Add(f.ComboBox1, TKind::ComboBox, frame, kIdComboBox1, "COMBOBOX",
                       combo | CBS_SORT | WS_TABSTOP);
  views_.back().items = &f.ComboBox1.Items;
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  if (GetComboBoxInfo(countries, &info)) {
    if (info.hwndItem) Subclass(info.hwndItem, TSubclass::ComboKeys);
    if (info.hwndList) Subclass(info.hwndList, TSubclass::ComboKeys);
  }
  Add(f.UPGRADE, TKind::Button, frame, kIdUPGRADE, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
  Add(f.Cancel, TKind::Button, frame, kIdCancel, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
  HWND status = Add(f.Panel1, TKind::Panel, frame, kIdPanel1, "STATIC", panel | WS_CLIPCHILDREN,
                    WS_EX_STATICEDGE | WS_EX_CONTROLPARENT);
  Subclass(status, TSubclass::Container);
  Add(f.Panel14, TKind::Panel, status, kIdPanel14, "STATIC", panel);
  views_.back().fillsParent = true;
  Add(f.Panel7, TKind::Panel, frame, kIdPanel7, "STATIC", panel, WS_EX_STATICEDGE);
  Add(f.Panel8, TKind::Panel, frame, kIdPanel8, "STATIC", panel, WS_EX_STATICEDGE);
  Add(f.Label1, TKind::Label, frame, kIdLabel1, "STATIC", SS_LEFT | SS_NOTIFY);
  Add(f.ComPort, TKind::ComboBox, frame, kIdComPort, "COMBOBOX", combo);
  views_.back().items = &f.ComPort.Items;
  Add(f.LINTList, TKind::ListBox, frame, kIdLINTList, "LISTBOX", list);
  views_.back().items = &f.LINTList.Items;
  // The pictures lie beneath every other control of the group box, the
  // orbiting one above the backdrop. The group box draws them (its scene).
  HWND backdrop = Add(f.Image1, TKind::Picture, frame, kIdImage1, "STATIC", SS_BITMAP);
  HWND orbiter = Add(f.Image2, TKind::Picture, frame, kIdImage2, "STATIC", SS_BITMAP);
  SetWindowPos(orbiter, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(backdrop, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  CreateWindowChildren();
  MakePictures();
}

// The transcript and the lists that are not in the group box.
void TDialogWindow::CreateWindowChildren() {
  TForm1& f = *form_;
  const DWORD list = LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER;
  HWND memo = Add(f.Memo1, TKind::Memo, hwnd_, kIdMemo1, "EDIT",
                  ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP, WS_EX_CLIENTEDGE);
  Subclass(memo, TSubclass::MemoKeys);
  SetWindowPos(memo, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const std::pair<TListBox*, int> lists[] = {
      {&f.ListBox1, kIdListBox1}, {&f.ListBox2, kIdListBox2}, {&f.ResponseList, kIdResponseList},
      {&f.IDlistBox, kIdIDlist},  {&f.INTList, kIdINTList},   {&f.DEMlist, kIdDEMlist},
      {&f.LDEMList, kIdLDEMList}, {&f.INT2List, kIdINT2List}, {&f.DEM2List, kIdDEM2List},
      {&f.PCI2List, kIdPCI2List}, {&f.AllList, kIdAllList}};
  for (const auto& [box, id] : lists) {
    HWND hwnd = Add(*box, TKind::ListBox, hwnd_, id, "LISTBOX", list);
    views_.back().items = &box->Items;
    // Debug mode shows a script list over the group box.
    if (box == &f.ListBox1 || box == &f.ListBox2)
      SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void TDialogWindow::MakePictures() {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const TForm1& f = *form_;
  globe_.reset(DrawGlobeBitmap(Scale(f.Image1.Bounds.Width), Scale(f.Image1.Bounds.Height), face));
  const int w = Scale(f.Image2.Bounds.Width);
  const int h = Scale(f.Image2.Bounds.Height);
  satellite_.reset(DrawSatelliteBitmap(w, h, face));
  // The controls hold their pictures, but take no room on the screen: the
  // group box draws both, so that a step of the orbit moves no window.
  for (const auto& [model, picture] :
       {std::pair<const TControl*, HBITMAP>{&f.Image1, static_cast<HBITMAP>(globe_.get())},
        {&f.Image2, static_cast<HBITMAP>(satellite_.get())}}) {
    HWND hwnd = Control(*model);
    SendMessageA(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    SetWindowRgn(hwnd, CreateRectRgn(0, 0, 0, 0), FALSE);
  }
}

void TDialogWindow::BuildScene() {
  const TForm1& f = *form_;
  HWND frame = Control(f.Firmware);
  const RECT globe = PlaceOf(*View(f.Image1));
  const RECT satellite = PlaceOf(*View(f.Image2));
  scene_.Build(frame, GetSysColor(COLOR_BTNFACE), static_cast<HBITMAP>(globe_.get()), globe,
               static_cast<HBITMAP>(satellite_.get()), {satellite.left, satellite.top});
  InvalidateRect(frame, nullptr, FALSE);
}

void TDialogWindow::MoveSatellite(const RECT& place) {
  const RECT changed = scene_.MoveSatellite({place.left, place.top});
  if (IsRectEmpty(&changed)) return;
  HWND frame = Control(form_->Firmware);
  if (HDC dc = GetDC(frame)) {
    scene_.Paint(dc, changed);
    ReleaseDC(frame, dc);
  }
}

HWND TDialogWindow::Control(const TControl& model) const {
  const TView* view = View(model);
  return view ? view->hwnd : nullptr;
}

const TDialogWindow::TView* TDialogWindow::View(const TControl& model) const {
  for (const TView& view : views_)
    if (view.model == &model) return &view;
  return nullptr;
}

void TDialogWindow::Subclass(HWND hwnd, TSubclass kind) {
  SetPropA(hwnd, kPropOwner, this);
  SetPropA(hwnd, kPropKind, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(kind)));
  const LONG_PTR old =
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc));
  SetPropA(hwnd, kPropProc, reinterpret_cast<HANDLE>(old));
}

// ---------------------------------------------------------------------------
// Messages

LRESULT CALLBACK TDialogWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TDialogWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self && self->hwnd_ == hwnd) {
    // Nothing may unwind into the system's code.
    try {
      return self->Handle(msg, wParam, lParam);
    } catch (...) {
    }
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT TDialogWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam >= 1 && wParam <= timers_.size()) {
        TTimer* timer = timers_[wParam - 1];
        // The orbit step, 66 times a second, changes Image2 alone.
        Dispatch([timer] { timer->Fire(); }, timer == &form_->Timer4 ? &form_->Image2 : nullptr);
        return 0;
      }
      break;
    case WM_COMMAND:
      HandleCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_CLOSE:
      // The close box is Cancel; it closes even if the handler fails.
      Dispatch([this] { form_->CancelClick(); });
      Close();
      return 0;
    case WM_SIZE:
      if (!form_ || resizing_ || wParam == SIZE_MINIMIZED) break;
      if (wParam == SIZE_MAXIMIZED) {
        PostMessageA(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
        break;
      }
      resizing_ = true;
      Dispatch([this] { form_->FormResize(); });
      resizing_ = false;
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      HWND control = reinterpret_cast<HWND>(lParam);
      const bool status = form_ && control == Control(form_->Panel14);
      SetTextColor(dc, status ? kStatusColor : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
      // Keep the focused control across deactivation, as a dialog does.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
      } else if (lastFocus_ && IsWindow(lastFocus_)) {
        SetFocus(lastFocus_);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

void TDialogWindow::HandleCommand(int id, int code, HWND control) {
  if (!form_) return;
  switch (id) {
    case kIdCancel:  // the button, or Esc
      if (control == nullptr || code == BN_CLICKED) Dispatch([this] { form_->CancelClick(); });
      break;
    case kIdUPGRADE:
      if (code == BN_CLICKED) Dispatch([this] { form_->UPGRADEClick(); });
      break;
    case kIdComboBox1:
      if (mirroring_) break;
      if (code == CBN_SELCHANGE) TakeComboSelection();
      if (code == CBN_EDITCHANGE) TakeComboText();
      break;
    case kIdMemo1:
      if (!mirroring_ && code == EN_CHANGE) TakeMemoText();
      break;
    default:
      break;
  }
}

LRESULT CALLBACK TDialogWindow::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<TDialogWindow*>(GetPropA(hwnd, kPropOwner));
  auto old = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kPropProc));
  const auto kind = static_cast<TSubclass>(reinterpret_cast<INT_PTR>(GetPropA(hwnd, kPropKind)));
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemovePropA(hwnd, kPropOwner);
    RemovePropA(hwnd, kPropProc);
    RemovePropA(hwnd, kPropKind);
    return CallWindowProcA(old, hwnd, msg, wParam, lParam);
  }
  try {
    return self->HandleSubclassed(hwnd, kind, old, msg, wParam, lParam);
  } catch (...) {
    return CallWindowProcA(old, hwnd, msg, wParam, lParam);
  }
}

LRESULT TDialogWindow::HandleSubclassed(HWND hwnd, TSubclass kind, WNDPROC old, UINT msg,
                                        WPARAM wParam, LPARAM lParam) {
  switch (kind) {
    case TSubclass::Frame:
      if (msg == WM_PAINT && scene_.Built()) {
        PAINTSTRUCT ps;
        if (HDC dc = BeginPaint(hwnd, &ps)) {
          scene_.Paint(dc, ps.rcPaint);
          EndPaint(hwnd, &ps);
        }
        return 0;
      }
      if (msg == WM_ERASEBKGND && scene_.Built()) return 1;  // the scene covers it all
      [[fallthrough]];
    case TSubclass::Container:
      // Controls inside the group box and the status panel notify their
      // parent; the window handles them all.
      switch (msg) {
        case WM_COMMAND:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_DRAWITEM:
          return SendMessageA(hwnd_, msg, wParam, lParam);
        case WM_ERASEBKGND: {
          RECT r;
          GetClientRect(hwnd, &r);
          FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
          return 1;
        }
        default:
          break;
      }
      break;
    case TSubclass::ComboKeys:
    case TSubclass::MemoKeys:
      if (msg == WM_CHAR && form_) {
        char key = static_cast<char>(wParam);
        if (kind == TSubclass::ComboKeys)
          Dispatch([this, &key] { form_->ComboBox1KeyPress(key); });
        else
          Dispatch([this, &key] { form_->Memo1KeyPress(key); });
        if (key == '\0') return 0;  // discarded
        wParam = static_cast<unsigned char>(key);
      }
      break;
  }
  return CallWindowProcA(old, hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Dispatching and mirroring

template <class F>
void TDialogWindow::Dispatch(F&& handler, const TControl* changes) {
  if (!form_) return;
  try {
    handler();
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown error");
  }
  TView* view = changes ? View(*changes) : nullptr;
  if (view && !mirroring_)
    Mirror(*view);
  else
    MirrorAll();
}

void TDialogWindow::ReportError(const char* text) {
  MirrorAll();
  MessageBoxA(hwnd_, text, "Error", MB_ICONSTOP | MB_OK);
}

void TDialogWindow::TakeComboSelection() {
  HWND combo = Control(form_->ComboBox1);
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return;
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  TComboBox& model = form_->ComboBox1;
  const int at = model.Items.IndexOf(text);
  if (at >= 0)
    model.SetItemIndex(at);
  else
    model.SetText(text);
}

void TDialogWindow::TakeComboText() {
  for (TView& view : views_) {
    if (view.model != &form_->ComboBox1) continue;
    form_->ComboBox1.SetText(WindowText(view.hwnd));
    view.caption = form_->ComboBox1.Text();
  }
}

void TDialogWindow::TakeMemoText() {
  for (TView& view : views_) {
    if (view.model != &form_->Memo1) continue;
    form_->Memo1.SetText(WindowText(view.hwnd));
    view.caption = form_->Memo1.Text();
  }
}

void TDialogWindow::MirrorAll() {
  if (!form_ || mirroring_) return;
  mirroring_ = true;
  for (TView& view : views_) Mirror(view);
  mirroring_ = false;
}

RECT TDialogWindow::PlaceOf(const TView& view) const {
  RECT r = {};
  if (view.fillsParent) {
    GetClientRect(GetParent(view.hwnd), &r);
    return r;
  }
  TBounds b = view.model->Bounds;
  if (view.model == &form_->Image2 && form_->Image2OnOrbit) {
    // The orbit adds its own allowance for large fonts (DpiShift); the
    // window scales the whole dialog to the display, so it takes the
    // allowance out again: the satellite keeps its place on the globe.
    const std::int32_t shift = DialogState().DpiShift;
    b.Left -= shift;
    b.Top -= 2 * shift;
  }
  r.left = Scale(b.Left);
  r.top = Scale(b.Top);
  r.right = r.left + Scale(b.Width);
  r.bottom = r.top + Scale(b.Height);
  if (view.kind == TKind::ComboBox) r.bottom += Scale(kDropDownHeight);
  return r;
}

void TDialogWindow::Mirror(TView& view) {
  const TControl& model = *view.model;
  if (view.items) MirrorItems(view);
  switch (view.kind) {
    case TKind::ComboBox:
    case TKind::ListBox:
    case TKind::Picture:
      break;  // the edit text of a combo box follows its items
    case TKind::Memo:
      if (view.fresh || view.caption != model.Caption) {
        SetWindowTextA(view.hwnd, model.Caption.c_str());
        // Show the end of the transcript, as a terminal does.
        const auto end = static_cast<WPARAM>(GetWindowTextLengthA(view.hwnd));
        SendMessageA(view.hwnd, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageA(view.hwnd, EM_SCROLLCARET, 0, 0);
        view.caption = model.Caption;
      }
      break;
    default:
      if (view.fresh || view.caption != model.Caption) {
        SetWindowTextA(view.hwnd, model.Caption.c_str());
        view.caption = model.Caption;
      }
      break;
  }
  const RECT place = PlaceOf(view);
  if (view.model == &form_->Image2) MoveSatellite(place);
  if ((view.fresh || !SameRect(place, view.place)) && Follows(view)) {
    SetWindowPos(view.hwnd, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    view.place = place;
  }
  if (view.fresh || view.enabled != model.Enabled) {
    EnableWindow(view.hwnd, model.Enabled ? TRUE : FALSE);
    view.enabled = model.Enabled;
  }
  if (view.fresh || view.visible != model.Visible) {
    ShowWindow(view.hwnd, model.Visible ? SW_SHOWNA : SW_HIDE);
    view.visible = model.Visible;
  }
  view.fresh = false;
}

bool TDialogWindow::Follows(const TView& view) {
  // The satellite's control takes no room on the screen (the group box draws
  // the satellite); moving a window costs far more than drawing, so on the
  // orbit the control catches up only every few steps.
  if (view.fresh || view.model != &form_->Image2 || !form_->Image2OnOrbit) return true;
  return ++orbitSteps_ % kFollowSteps == 0;
}

void TDialogWindow::MirrorItems(TView& view) {
  const bool combo = view.kind == TKind::ComboBox;
  const TStringList& items = *view.items;
  bool changedShown = view.fresh;
  if (view.fresh || items.Items() != view.itemCache) {
    SendMessageA(view.hwnd, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
    for (const std::string& item : items.Items())
      SendMessageA(view.hwnd, combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(item.c_str()));
    view.itemCache = items.Items();
    view.selectedCache.assign(1, '\0');  // forces the selection below
  }
  // Sorted boxes may order items otherwise than the model: select by text.
  const bool selected = items.ItemIndex >= 0 && items.ItemIndex < items.Count();
  const std::string want = selected ? items[items.ItemIndex] : std::string();
  if (want != view.selectedCache) {
    LRESULT index = -1;
    if (selected)
      index = SendMessageA(view.hwnd, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT,
                           static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(want.c_str()));
    SendMessageA(view.hwnd, combo ? CB_SETCURSEL : LB_SETCURSEL,
                 static_cast<WPARAM>(index < 0 ? -1 : index), 0);
    view.selectedCache = want;
    changedShown = true;
  }
  if (combo) {
    // Changing items or selection changes the edit text too; the user's
    // changes reach the model first (TakeCombo...).
    const auto& text = static_cast<const TComboBox*>(view.model)->Text();
    if (changedShown || view.caption != text) {
      SetWindowTextA(view.hwnd, text.c_str());
      view.caption = text;
    }
  }
}

// ---------------------------------------------------------------------------
// IFormHost

void TDialogWindow::ArmTimer(TTimer& timer) {
  auto at = std::find(timers_.begin(), timers_.end(), &timer);
  if (at == timers_.end()) at = timers_.insert(timers_.end(), &timer);
  const auto id = static_cast<UINT_PTR>(at - timers_.begin() + 1);
  if (!hwnd_) return;
  // SetTimer on a running id starts its count afresh.
  if (timer.Interval() == 0)
    KillTimer(hwnd_, id);
  else
    SetTimer(hwnd_, id, timer.Interval(), nullptr);
}

void TDialogWindow::DisarmTimer(TTimer& timer) {
  auto at = std::find(timers_.begin(), timers_.end(), &timer);
  if (at != timers_.end() && hwnd_)
    KillTimer(hwnd_, static_cast<UINT_PTR>(at - timers_.begin() + 1));
}

void TDialogWindow::Sleep(unsigned ms) { ::Sleep(ms); }

void TDialogWindow::ShowMessage(const std::string& text, TMsgKind kind) {
  MirrorAll();
  if (kind == TMsgKind::Error)
    MessageBoxA(hwnd_, text.c_str(), "Error", MB_ICONSTOP | MB_OK);
  else
    MessageBoxA(hwnd_, text.c_str(), "Information", MB_ICONINFORMATION | MB_OK);
}

void TDialogWindow::Close() {
  closeRequested_ = true;
  if (hwnd_) PostMessageA(hwnd_, WM_NULL, 0, 0);  // wakes the modal loop
}

void TDialogWindow::Repaint() {
  MirrorAll();
  RedrawWindow(hwnd_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TDialogWindow::ShowDropDown() {
  if (form_) SendMessageA(Control(form_->ComboBox1), CB_SHOWDROPDOWN, TRUE, 0);
}

TRegRead TDialogWindow::ReadRegistryString(const std::string& key, const std::string& name,
                                           std::string& value) {
  return ReadLocalMachineString(key, name, value);
}

std::vector<std::string> TDialogWindow::CommandLineWords() {
  std::vector<std::string> words = SplitCommandLineWords(GetCommandLineW());
  words.insert(words.end(), startWords_.begin(), startWords_.end());
  return words;
}

std::string TDialogWindow::SystemDirectory() { return SystemDirectoryPath(); }

std::vector<int> TDialogWindow::SerialPorts() { return ListedSerialPorts(); }

void TDialogWindow::GetScreenSize(int& width, int& height) {
  width = GetSystemMetrics(SM_CXSCREEN);
  height = GetSystemMetrics(SM_CYSCREEN);
}

void TDialogWindow::GetWindowPos(int& left, int& top) {
  RECT r = {};
  GetWindowRect(hwnd_, &r);
  left = r.left;
  top = r.top;
}

void TDialogWindow::MoveWindowTo(int left, int top) {
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TDialogWindow::SetClientSize(int width, int height) {
  RECT client = {};
  GetClientRect(hwnd_, &client);
  if (client.right == width && client.bottom == height) return;
  RECT frame = {0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_EXSTYLE)));
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
