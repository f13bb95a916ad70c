#include "ProcessProbe.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace winetest {

std::size_t ThreadCount() {
  const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  std::size_t count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snap);
  return count;
}

std::uintptr_t HandleWatermark() {
  std::vector<HANDLE> handles;
  for (int i = 0; i < 1000; ++i) handles.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::uintptr_t top = 0;
  for (HANDLE h : handles) {
    top = std::max(top, reinterpret_cast<std::uintptr_t>(h));
    CloseHandle(h);
  }
  return top;
}

namespace {

// Highest slot among 1000 fresh objects made by `make`, freed by `free`; a
// handle's low word is its slot times `step`.
template <class Make, class Free>
long SlotWatermark(Make make, Free free, unsigned step) {
  std::vector<decltype(make())> objects;
  for (int i = 0; i < 1000; ++i) objects.push_back(make());
  long top = 0;
  for (auto object : objects) {
    top = std::max(top, static_cast<long>(LOWORD(reinterpret_cast<std::uintptr_t>(object)) / step));
    free(object);
  }
  return top;
}

}  // namespace

TGuiObjects GuiObjects() {
  TGuiObjects n;
  n.gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
  n.user = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
  if (n.gdi == 0 && n.user == 0) {
    n.gdi = SlotWatermark([] { return CreateSolidBrush(RGB(1, 2, 3)); },
                          [](HBRUSH b) { DeleteObject(b); }, 1);
    // Wine numbers USER handles in steps of two.
    n.user = SlotWatermark([] { return CreatePopupMenu(); }, [](HMENU m) { DestroyMenu(m); }, 2);
  }
  return n;
}

std::size_t LiveHeapBlocks(std::size_t size) {
  const HANDLE heap = GetProcessHeap();
  std::size_t count = 0;
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 && entry.cbData >= size &&
        entry.cbData < size + 64) {
      ++count;
    }
  }
  HeapUnlock(heap);
  return count;
}

}  // namespace winetest
