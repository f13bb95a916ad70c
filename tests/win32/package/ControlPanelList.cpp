// Lists the applets that Wine's Control Panel host shows when started without
// arguments: starts it, reads the names of the items of its list view and
// closes it. Prints one name per line; exit code 0 when the list was read.
// The package tests (package/) run it in the prefixes they install into.
//
// The list view belongs to another process, so the item and its text buffer
// live in that process's memory (VirtualAllocEx) while LVM_GETITEMTEXTW fills
// them.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "WineTest.h"

namespace {

const char kCaption[] = "Wine Control Panel";

// Names of the list view's items, read through a block in its process.
std::vector<std::string> ItemNames(HWND list, DWORD processId) {
  std::vector<std::string> names;
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
  if (process == nullptr) return names;
  const int kChars = 260;
  auto* remote = static_cast<BYTE*>(VirtualAllocEx(
      process, nullptr, sizeof(LVITEMW) + kChars * sizeof(WCHAR), MEM_COMMIT, PAGE_READWRITE));
  if (remote != nullptr) {
    const LRESULT count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      LVITEMW item = {};
      item.iSubItem = 0;
      item.pszText = reinterpret_cast<LPWSTR>(remote + sizeof item);
      item.cchTextMax = kChars;
      WCHAR text[kChars] = {};
      DWORD_PTR length = 0;
      if (!WriteProcessMemory(process, remote, &item, sizeof item, nullptr) ||
          !SendMessageTimeoutW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i),
                               reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000, &length) ||
          !ReadProcessMemory(process, remote + sizeof item, text, sizeof text, nullptr))
        break;
      text[kChars - 1] = 0;
      char utf8[kChars * 3] = {};
      WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
      names.push_back(utf8);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return names;
}

}  // namespace

int main() {
  winetest::Process host("control.exe");
  if (!host.Started()) {
    std::fprintf(stderr, "cannot start control.exe\n");
    return 1;
  }
  HWND panel = winetest::WaitForWindow(kCaption, host.Id(), 60000);
  HWND list = panel == nullptr ? nullptr : FindWindowExA(panel, nullptr, WC_LISTVIEWA, nullptr);
  if (list == nullptr) {
    std::fprintf(stderr, "no \"%s\" window with a list view within 60 s\n", kCaption);
    return 1;
  }
  const std::vector<std::string> names = ItemNames(list, host.Id());
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  PostMessageA(panel, WM_CLOSE, 0, 0);
  if (!host.WaitExit(30000)) {
    std::fprintf(stderr, "the Control Panel did not close\n");
    return 1;
  }
  if (names.empty()) {
    std::fprintf(stderr, "cannot read the Control Panel's list view\n");
    return 1;
  }
  return 0;
}
