// Drives the settings dialog of ctyset2.cpl loaded into the test process: the
// dialog runs modally on the test's main thread (CPL_DBLCLK) while a script
// runs on a second thread and reads or works the real controls.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace dialogtest {

// ctyset2.cpl of this build tree, loaded and initialised; unloaded at scope end.
class TApplet {
 public:
  TApplet();
  ~TApplet();
  TApplet(const TApplet&) = delete;
  TApplet& operator=(const TApplet&) = delete;

  bool Loaded() const { return proc_ != nullptr; }

  // Opens the dialog (CPL_DBLCLK from `owner`) and runs `script` on a second
  // thread with the dialog's window, or nullptr when none showed within 20 s.
  // Returns when the dialog has closed and the script has ended; a script
  // that leaves the dialog open gets it cancelled. Result: CPlApplet's.
  LONG Open(HWND owner, const std::function<void(HWND dialog)>& script);

 private:
  HMODULE module_ = nullptr;
  LONG(APIENTRY* proc_)(HWND, UINT, LPARAM, LPARAM) = nullptr;
};

// The dialog's control with this identifier (at any depth), or nullptr.
HWND Item(HWND dialog, int id);

std::string Text(HWND hwnd);
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

// The standard message box that the dialog shows, once it shows (nullptr
// after timeoutMs); its text; pressing its OK.
HWND WaitForMessageBox(HWND dialog, DWORD timeoutMs);
std::string MessageBoxText(HWND box);
std::string MessageBoxCaption(HWND box);
void PressOk(HWND box);

// Waits until `cond` holds, polling every 10 ms; false after timeoutMs.
bool Eventually(const std::function<bool()>& cond, DWORD timeoutMs);

}  // namespace dialogtest
