#include "ThreadLedger.h"

#include <windows.h>

#include <atomic>

namespace winetest {

namespace {

// Ids of threads attached and not yet detached; 0 is a free slot.
constexpr std::size_t kSlots = 8192;
std::atomic<DWORD> gAttached[kSlots];

void Attach(DWORD id) {
  for (auto& slot : gAttached) {
    DWORD expected = 0;
    if (slot.compare_exchange_strong(expected, id)) return;
  }
}

void Detach(DWORD id) {
  for (auto& slot : gAttached) {
    DWORD expected = id;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void NTAPI LedgerCallback(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) Attach(GetCurrentThreadId());
  if (reason == DLL_THREAD_DETACH) Detach(GetCurrentThreadId());
}

}  // namespace

// The loader calls the callbacks listed in the .CRT$XL* sections for every
// thread that starts and every thread that ends through it.
extern "C" __attribute__((used, section(".CRT$XLL")))
const PIMAGE_TLS_CALLBACK ctyset2_thread_ledger = LedgerCallback;

std::size_t ThreadsEndedWithoutDetach() {
  std::size_t count = 0;
  for (auto& slot : gAttached) {
    const DWORD id = slot.load();
    if (id == 0) continue;
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) ++count;
    if (thread != nullptr) CloseHandle(thread);
  }
  return count;
}

}  // namespace winetest
