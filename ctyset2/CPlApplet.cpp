// Control Panel entry of ctyset2.cpl: announces one applet and opens the
// settings dialog on the host's double-click notice.
#include <windows.h>
#include <cpl.h>

#include "wfload/win/SettingsDialog.h"
#include "ctyset2/resource.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace

extern "C" LONG APIENTRY CPlApplet(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2) {
  (void)lParam1;
  switch (msg) {
    case CPL_INIT:
      // Only answer when loaded under our own file name.
      return GetModuleHandleA("ctyset2.cpl") != nullptr ? 1 : 0;
    case CPL_GETCOUNT:
      return 1;
    case CPL_INQUIRE: {
      auto* info = reinterpret_cast<CPLINFO*>(lParam2);
      if (info != nullptr) {
        info->idIcon = IDI_APPLET;
        info->idName = IDS_APPLET_NAME;
        info->idInfo = IDS_APPLET_INFO;
        info->lData = 0;
      }
      return 0;
    }
    case CPL_DBLCLK:
      // Errors must not unwind into the host.
      try {
        ShowSettingsDialogModal(ThisModule(), hwndCpl);
      } catch (...) {
      }
      return 1;
    case CPL_STARTWPARMSA:
    case CPL_STARTWPARMSW:
      // Not started here: the host then sends CPL_DBLCLK.
      return 0;
    default:
      return 1;
  }
}
