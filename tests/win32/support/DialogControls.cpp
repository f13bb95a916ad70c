#include "DialogControls.h"

#include "WineTest.h"

namespace winetest {

namespace {

std::string Narrow(const wchar_t* text) {
  char out[512] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  wchar_t out[512] = {};
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out, sizeof out / sizeof out[0]);
  return out;
}

}  // namespace

HWND Item(HWND dialog, int id) {
  // A combo box's own edit carries an identifier of its own making.
  return FindChildWindow(dialog, [&](HWND hwnd) {
    return GetDlgCtrlID(hwnd) == id && ClassOf(GetParent(hwnd)) != "ComboBox";
  });
}

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

// The item messages go as their wide forms: Wine hands the ANSI ones back in
// wide characters when the combo box belongs to another process.
std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >=
        static_cast<LRESULT>(sizeof text / sizeof text[0]))
      continue;
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    items.push_back(Narrow(text));
  }
  return items;
}

bool Choose(HWND combo, const std::string& item) {
  const std::wstring wide = Wide(item);
  const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(wide.c_str()));
  if (index == CB_ERR) return false;
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return true;
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

HWND WaitForMessageBox(HWND dialog, DWORD timeoutMs) {
  return WaitForTopWindow(
      [&](HWND hwnd) {
        return GetWindow(hwnd, GW_OWNER) == dialog && ClassOf(hwnd) == "#32770" &&
               IsWindowVisible(hwnd);
      },
      timeoutMs);
}

std::string MessageBoxText(HWND box) {
  // The message is the box's static text control 0xFFFF.
  return WindowText(GetDlgItem(box, 0xFFFF));
}

std::string MessageBoxCaption(HWND box) { return WindowText(box); }

void PressOk(HWND box) { PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

bool Eventually(const std::function<bool()>& cond, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (cond()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(pollMs);
  }
}

}  // namespace winetest
