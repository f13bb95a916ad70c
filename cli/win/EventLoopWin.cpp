// The loop's waiting on Win32: an event that posts set, and the thread's
// message queue (the serial component's window gets its received data
// through it).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <system_error>

#include "cli/EventLoop.h"
#include "cli/win/ConsoleControl.h"

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<HANDLE> gWakeEvent{nullptr};

// Set while no loop runs: a loop's end comes after its run has closed the
// port and printed the result. Lives as long as the process.
HANDLE LoopEndedEvent() {
  static const HANDLE ended = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  return ended;
}

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD type) {
  gInterrupted = true;
  if (HANDLE event = gWakeEvent.load()) SetEvent(event);
  // The process ends as soon as the handler returns from these: the run is
  // given the time to stop, close the port and print its result, within the
  // system's limit.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    if (HANDLE ended = LoopEndedEvent()) WaitForSingleObject(ended, kConsoleCloseGraceMs);
    std::fflush(nullptr);
  }
  return TRUE;
}

struct TEventLoop::TPlatform {
  HANDLE event = nullptr;
};

TEventLoop::TEventLoop() : platform_(std::make_unique<TPlatform>()) {
  platform_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (platform_->event == nullptr)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "CreateEvent");
  gWakeEvent.store(platform_->event);
  // An interrupt ends the run it came during.
  gInterrupted = false;
  if (HANDLE ended = LoopEndedEvent()) ResetEvent(ended);
}

TEventLoop::~TEventLoop() {
  HANDLE expected = platform_->event;
  gWakeEvent.compare_exchange_strong(expected, nullptr);
  CloseHandle(platform_->event);
  if (HANDLE ended = LoopEndedEvent()) SetEvent(ended);
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
