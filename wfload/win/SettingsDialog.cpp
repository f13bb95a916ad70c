#include "wfload/win/SettingsDialog.h"

#include <memory>

#include "comm32/win/Comm32.h"
#include "wfload/win/DialogWindow.h"

void ShowSettingsDialogModal(HINSTANCE module, HWND owner, std::vector<std::string> startWords) {
  TDialogWindow window(module, std::make_unique<TComm32>(), std::move(startWords));
  window.RunModal(owner);
}
