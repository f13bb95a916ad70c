// Entry point of the settings dialog window, called by the Control Panel entry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Creates the settings dialog, runs it modally (owner disabled meanwhile) and
// destroys it. Returns when the dialog has closed. startWords count as words
// of the host's command line, after its own.
void ShowSettingsDialogModal(HINSTANCE module, HWND owner,
                             std::vector<std::string> startWords = {});
