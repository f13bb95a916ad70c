#include "DialogDriver.h"

#include <cpl.h>
#include <gtest/gtest.h>

#include <thread>

#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace dialogtest {

TApplet::TApplet() : module_(LoadLibraryA(AppletPath().c_str())) {
  if (module_ == nullptr) return;
  auto proc =
      reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
  if (proc != nullptr && proc(nullptr, CPL_INIT, 0, 0) == 1) proc_ = proc;
}

TApplet::~TApplet() {
  if (proc_ != nullptr) proc_(nullptr, CPL_EXIT, 0, 0);
  if (module_ != nullptr) FreeLibrary(module_);
}

LONG TApplet::Open(HWND owner, const std::function<void(HWND)>& script) {
  return RunDialog([&] { return proc_ != nullptr ? proc_(owner, CPL_DBLCLK, 0, 0) : 0; }, script);
}

LONG RunDialog(const std::function<LONG()>& show, const std::function<void(HWND)>& script) {
  std::thread worker([&] {
    HWND dialog = nullptr;
    if (!Eventually(
            [&] {
              dialog = FindWindowA(kSettingsWindowClass, nullptr);
              return dialog != nullptr && IsWindowVisible(dialog);
            },
            60000)) {
      ADD_FAILURE() << "the dialog did not show";
      return;
    }
    script(dialog);
    // Whatever the script left: dismiss a message box, cancel the dialog.
    while (IsWindow(dialog)) {
      if (HWND box = WaitForMessageBox(dialog, 0)) PressOk(box);
      if (HWND cancel = Item(dialog, kIdCancel)) Click(cancel);
      Eventually([&] { return !IsWindow(dialog); }, 2000);
    }
  });
  const LONG result = show();
  worker.join();
  return result;
}

bool Closes(HWND dialog) {
  return Eventually([&] { return !IsWindow(dialog); }, 30000);
}

std::string Status(HWND dialog) { return Text(Item(dialog, kIdPanel14)); }

DWORD RunChildTest(const std::string& test, const std::string& words) {
  char self[MAX_PATH] = {};
  if (GetModuleFileNameA(nullptr, self, sizeof self) == 0) return 99;
  Process child(std::string("\"") + self + "\" " + words +
                " --gtest_also_run_disabled_tests --gtest_filter=" + test);
  if (!child.Started() || !child.WaitExit(120000)) return 98;
  return child.ExitCode();
}

}  // namespace dialogtest
