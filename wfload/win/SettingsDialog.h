// Entry point of the settings dialog window, called by the Control Panel entry.
#pragma once

#include <windows.h>

// Creates the settings dialog, runs it modally (owner disabled meanwhile) and
// destroys it. Returns when the dialog has closed.
void ShowSettingsDialogModal(HINSTANCE module, HWND owner);
