#include "comm32/win/CommThreads.h"

#include "comm32/win/CommsLogWin.h"

TCommThread::~TCommThread() {
  if (handle_ != nullptr) {
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
  }
}

bool TCommThread::Create() {
  handle_ = CreateThread(nullptr, 0, &TCommThread::ThreadProc, this, CREATE_SUSPENDED, &id_);
  return handle_ != nullptr;
}

DWORD WINAPI TCommThread::ThreadProc(void* self) {
  MarkCommsLogWorkerThread();
  static_cast<TCommThread*>(self)->Execute();
  return 0;
}

BOOL TCommThread::PostCommData(void* block, DWORD count) {
  return PostMessageA(FNotifyWindow, WM_COMMDATA, count, reinterpret_cast<LPARAM>(block));
}

BOOL TCommThread::PostHangupRequest() {
  return PostMessageA(FNotifyWindow, WM_REQUESTHANGUP, 0, 0);
}

namespace comm32 {

DWORD CancelAndCollect(HANDLE file, OVERLAPPED& ov) {
  CancelIoEx(file, &ov);
  DWORD count = 0;
  GetOverlappedResult(file, &ov, &count, TRUE);
  return count;
}

TOverlappedWait WaitOverlapped(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& count) {
  const HANDLE handles[2] = {stop, ov.hEvent};
  const DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0 + 1) {
    return GetOverlappedResult(file, &ov, &count, TRUE) ? TOverlappedWait::Completed
                                                        : TOverlappedWait::Failed;
  }
  count = CancelAndCollect(file, ov);
  return TOverlappedWait::Stopped;
}

bool PendingPortEventWaitsLeakThreads() {
  static const bool wine = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

namespace {

// WaitPortEvent without a pending WaitCommEvent: until bytes are queued (when
// the port's mask asks for EV_RXCHAR), the stop event, or a failure.
bool PollPortEvent(HANDLE file, HANDLE stop, DWORD& mask) {
  mask = 0;
  for (;;) {
    DWORD wanted = 0;
    COMSTAT status = {};
    if (!GetCommMask(file, &wanted) || !ClearCommError(file, nullptr, &status)) return true;
    if ((wanted & EV_RXCHAR) != 0 && status.cbInQue != 0) {
      mask = EV_RXCHAR;
      return true;
    }
    if (WaitForSingleObject(stop, kPortPollMs) != WAIT_TIMEOUT) return false;
  }
}

}  // namespace

bool WaitPortEvent(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& mask) {
  if (PendingPortEventWaitsLeakThreads()) return PollPortEvent(file, stop, mask);
  mask = 0;
  if (WaitCommEvent(file, &mask, &ov)) return true;
  if (GetLastError() != ERROR_IO_PENDING) {
    mask = 0;
    return true;
  }
  DWORD unused = 0;
  switch (WaitOverlapped(file, stop, ov, unused)) {
    case TOverlappedWait::Completed:
      return true;
    case TOverlappedWait::Failed:
      mask = 0;
      return true;
    case TOverlappedWait::Stopped:
      break;
  }
  mask = 0;
  return false;
}

}  // namespace comm32
