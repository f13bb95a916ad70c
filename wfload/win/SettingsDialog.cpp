// Minimal settings window: caption and a Cancel button, run modally.
#include "wfload/win/SettingsDialog.h"

namespace {

const char kClassName[] = "Ctyset2Settings";

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 1);  // ends the modal loop
        return 0;
      }
      break;
    case WM_CLOSE:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 1);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void RegisterOnce(HINSTANCE module) {
  WNDCLASSA wc = {};
  if (GetClassInfoA(module, kClassName, &wc)) return;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = module;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);
}

}  // namespace

void ShowSettingsDialogModal(HINSTANCE module, HWND owner) {
  RegisterOnce(module);
  HWND hwnd = CreateWindowExA(WS_EX_DLGMODALFRAME, kClassName, "Modem Regional Settings 2.3",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 360,
                              160, owner, nullptr, module, nullptr);
  if (hwnd == nullptr) return;
  CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 130,
                  70, 90, 26, hwnd, reinterpret_cast<HMENU>(IDCANCEL), module, nullptr);
  const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd);

  MSG msg;
  while (GetWindowLongPtrA(hwnd, GWLP_USERDATA) == 0) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageA(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  // Re-enable the owner before destroying, so activation returns to it.
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  DestroyWindow(hwnd);
}
