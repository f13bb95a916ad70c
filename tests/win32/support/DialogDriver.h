// Drives the settings dialog of ctyset2.cpl loaded into the test process: the
// dialog runs modally on the test's main thread (CPL_DBLCLK) while a script
// runs on a second thread and reads or works the real controls with the
// helpers of DialogControls.h.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "DialogControls.h"
#include "WineTest.h"

namespace dialogtest {

// Scripts use the control helpers unqualified.
using namespace winetest;
inline std::string Text(HWND hwnd) { return WindowText(hwnd); }

// ctyset2.cpl of this build tree, loaded and initialised; unloaded at scope end.
class TApplet {
 public:
  TApplet();
  ~TApplet();
  TApplet(const TApplet&) = delete;
  TApplet& operator=(const TApplet&) = delete;

  bool Loaded() const { return proc_ != nullptr; }
  HMODULE Module() const { return module_; }

  // Opens the dialog (CPL_DBLCLK from `owner`) and runs `script` on a second
  // thread with the dialog's window; a dialog that does not show within 60 s
  // fails the test instead. Returns when the dialog has closed and the script
  // has ended; a script that leaves the dialog open gets it cancelled.
  // Result: CPlApplet's.
  LONG Open(HWND owner, const std::function<void(HWND dialog)>& script);

 private:
  HMODULE module_ = nullptr;
  LONG(APIENTRY* proc_)(HWND, UINT, LPARAM, LPARAM) = nullptr;
};

// Runs `show` (which shows the settings dialog modally on this thread and
// returns when it has closed) with `script` on a second thread, as
// TApplet::Open does; returns what `show` returned.
LONG RunDialog(const std::function<LONG()>& show, const std::function<void(HWND dialog)>& script);

// The dialog has gone within 30 s.
bool Closes(HWND dialog);

// Text of the dialog's status line.
std::string Status(HWND dialog);

// Runs `test` (a disabled test of this program, named as --gtest_filter
// takes it) in a child process of this program with `words` before the
// test's options on its command line; the child's exit code, 98 when it did
// not start or end within 120 s, 99 when this program's path is unknown.
DWORD RunChildTest(const std::string& test, const std::string& words = "");

}  // namespace dialogtest
