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
