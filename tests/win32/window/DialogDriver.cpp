#include "DialogDriver.h"

#include <cpl.h>

#include <thread>

#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace dialogtest {

namespace {

struct TItemQuery {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND hwnd, LPARAM param) {
  auto* q = reinterpret_cast<TItemQuery*>(param);
  if (GetDlgCtrlID(hwnd) != q->id) return TRUE;
  // A combo box's own edit carries an identifier of its own making.
  if (ClassOf(GetParent(hwnd)) == "ComboBox") return TRUE;
  q->found = hwnd;
  return FALSE;
}

struct TBoxQuery {
  HWND dialog;
  HWND found;
};

BOOL CALLBACK MatchBox(HWND hwnd, LPARAM param) {
  auto* q = reinterpret_cast<TBoxQuery*>(param);
  if (GetWindow(hwnd, GW_OWNER) == q->dialog && ClassOf(hwnd) == "#32770" &&
      IsWindowVisible(hwnd)) {
    q->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

TApplet::TApplet() : module_(LoadLibraryA(winetest::AppletPath().c_str())) {
  if (module_ == nullptr) return;
  auto proc =
      reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
  if (proc != nullptr && proc(nullptr, CPL_INIT, 0, 0) == 1) proc_ = proc;
}

TApplet::~TApplet() {
  if (proc_ != nullptr) proc_(nullptr, CPL_EXIT, 0, 0);
  if (module_ != nullptr) FreeLibrary(module_);
}

LONG TApplet::Open(HWND owner, const std::function<void(HWND)>& script) {
  std::thread worker([&] {
    HWND dialog = FindWindowA(kSettingsWindowClass, nullptr);
    Eventually(
        [&] {
          dialog = FindWindowA(kSettingsWindowClass, nullptr);
          return dialog != nullptr && IsWindowVisible(dialog);
        },
        20000);
    if (dialog != nullptr && !IsWindowVisible(dialog)) dialog = nullptr;
    script(dialog);
    // Whatever the script left: dismiss a message box, cancel the dialog.
    while (dialog != nullptr && IsWindow(dialog)) {
      if (HWND box = WaitForMessageBox(dialog, 0)) PressOk(box);
      if (HWND cancel = Item(dialog, kIdCancel)) Click(cancel);
      Eventually([&] { return !IsWindow(dialog); }, 2000);
    }
  });
  const LONG result = proc_ != nullptr ? proc_(owner, CPL_DBLCLK, 0, 0) : 0;
  worker.join();
  return result;
}

HWND Item(HWND dialog, int id) {
  TItemQuery q{id, nullptr};
  EnumChildWindows(dialog, MatchId, reinterpret_cast<LPARAM>(&q));
  return q.found;
}

std::string Text(HWND hwnd) { return winetest::WindowText(hwnd); }

std::string ClassOf(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

RECT PlaceInParent(HWND hwnd) {
  RECT r = {};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Scaled(int designPixels) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return MulDiv(designPixels, dpi, 96);
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[256] = {};
    if (SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >=
        static_cast<LRESULT>(sizeof text))
      continue;
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    items.emplace_back(text);
  }
  return items;
}

bool Choose(HWND combo, const std::string& item) {
  const LRESULT index = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(item.c_str()));
  if (index == CB_ERR) return false;
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return true;
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

HWND WaitForMessageBox(HWND dialog, DWORD timeoutMs) {
  TBoxQuery q{dialog, nullptr};
  Eventually(
      [&] {
        EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&q));
        return q.found != nullptr;
      },
      timeoutMs);
  return q.found;
}

std::string MessageBoxText(HWND box) {
  // The message is the box's static text control 0xFFFF.
  return Text(GetDlgItem(box, 0xFFFF));
}

std::string MessageBoxCaption(HWND box) { return Text(box); }

void PressOk(HWND box) { PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

bool Eventually(const std::function<bool()>& cond, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (cond()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(10);
  }
}

}  // namespace dialogtest
