#include "wfload/win/SettingsDialog.h"

#include <memory>

#include "comm32/win/Comm32.h"
#include "wfload/win/DialogWindow.h"

void ShowSettingsDialogModal(HINSTANCE module, HWND owner) {
  TDialogWindow window(module, std::make_unique<TComm32>());
  window.RunModal(owner);
}
