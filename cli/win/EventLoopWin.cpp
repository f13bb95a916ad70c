// The loop's waiting on Win32: an event that posts set, and the thread's
// message queue (the serial component's window gets its received data
// through it).
#include <windows.h>

#include <atomic>
#include <system_error>

#include "cli/EventLoop.h"

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<HANDLE> gWakeEvent{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
  gInterrupted = true;
  if (HANDLE event = gWakeEvent.load()) SetEvent(event);
  return TRUE;
}

}  // namespace

struct TEventLoop::TPlatform {
  HANDLE event = nullptr;
};

TEventLoop::TEventLoop() : platform_(std::make_unique<TPlatform>()) {
  platform_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (platform_->event == nullptr)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "CreateEvent");
  gWakeEvent.store(platform_->event);
}

TEventLoop::~TEventLoop() {
  HANDLE expected = platform_->event;
  gWakeEvent.compare_exchange_strong(expected, nullptr);
  CloseHandle(platform_->event);
}

void TEventLoop::Wake() { SetEvent(platform_->event); }

bool TEventLoop::DispatchPlatformMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

void TEventLoop::WaitForWork(TClock::duration wait) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  MsgWaitForMultipleObjectsEx(1, &platform_->event, static_cast<DWORD>(ms), QS_ALLINPUT,
                              MWMO_INPUTAVAILABLE);
}

void TEventLoop::CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool TEventLoop::Interrupted() { return gInterrupted.load(); }
