#include "wfload/win/SettingsDialog.h"

#include <memory>

#include "wfload/win/CommStandIn.h"
#include "wfload/win/DialogWindow.h"

void ShowSettingsDialogModal(HINSTANCE module, HWND owner) {
  TDialogWindow window(module, std::make_unique<TCommStandIn>());
  window.RunModal(owner);
}
