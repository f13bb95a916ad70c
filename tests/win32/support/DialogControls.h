// Working the standard controls and message boxes of a dialog from outside it,
// as a user would: from another thread of the dialog's process or from
// another process (the messages used are marshalled across processes).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace winetest {

// The dialog's control with this identifier (at any depth), or nullptr.
HWND Item(HWND dialog, int id);

std::string ClassOf(HWND hwnd);

// Place of a control in its parent's client area.
RECT PlaceInParent(HWND hwnd);

// Design pixels (96 dpi) to the display's pixels, as the dialog scales.
int Scaled(int designPixels);

// Items of a combo box, in its order.
std::vector<std::string> ComboItems(HWND combo);

// Selects the item with this text in a combo box as the user does with the
// mouse (the box's parent hears CBN_SELCHANGE). False if there is none.
bool Choose(HWND combo, const std::string& item);

// Presses a button as a click does.
void Click(HWND button);

// The standard message box owned by `dialog`, once it shows (nullptr after
// timeoutMs); its text; pressing its OK.
HWND WaitForMessageBox(HWND dialog, DWORD timeoutMs);
std::string MessageBoxText(HWND box);
std::string MessageBoxCaption(HWND box);
void PressOk(HWND box);

// Waits until `cond` holds, polling every pollMs; false after timeoutMs.
bool Eventually(const std::function<bool()>& cond, DWORD timeoutMs, DWORD pollMs = 10);

}  // namespace winetest
