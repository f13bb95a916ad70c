// Control Panel entry of ctyset2.cpl: announces one applet and opens the
// settings dialog on the host's double-click notice.
#include <windows.h>
#include <cpl.h>

#include <string>
#include <vector>

#include "wfload/win/HostServices.h"
#include "wfload/win/SettingsDialog.h"
#include "ctyset2/resource.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// The words of the last CPL_STARTWPARMS, for the CPL_DBLCLK that follows it
// (host's thread only).
std::vector<std::string> gStartWords;

std::wstring Widened(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), size);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

}  // namespace

extern "C" LONG APIENTRY CPlApplet(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2) {
  (void)lParam1;
  switch (msg) {
    case CPL_INIT:
      gStartWords.clear();
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
        std::vector<std::string> words;
        words.swap(gStartWords);
        ShowSettingsDialogModal(ThisModule(), hwndCpl, std::move(words));
      } catch (...) {
      }
      return 1;
    case CPL_STARTWPARMSA:
    case CPL_STARTWPARMSW:
      // The parameters ("control ctyset2.cpl,,DEBUG") count as words of the
      // command line. Not started here: the host then sends CPL_DBLCLK.
      try {
        if (lParam2 == 0) {
          gStartWords.clear();
        } else if (msg == CPL_STARTWPARMSW) {
          gStartWords = SplitParameterWords(reinterpret_cast<const wchar_t*>(lParam2));
        } else {
          gStartWords =
              SplitParameterWords(Widened(reinterpret_cast<const char*>(lParam2)).c_str());
        }
      } catch (...) {
        gStartWords.clear();
      }
      return 0;
    case CPL_EXIT:
      gStartWords.clear();
      return 1;
    default:
      return 1;
  }
}
