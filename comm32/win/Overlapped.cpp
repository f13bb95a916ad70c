#include "comm32/win/Overlapped.h"

#include "comm32/win/TestSeams.h"

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

DWORD ReadAndWait(HANDLE file, HANDLE stop, OVERLAPPED& ov, char* buffer, DWORD size) {
  DWORD count = 0;
  if (ReadFile(file, buffer, size, &count, &ov)) return count;
  if (GetLastError() != ERROR_IO_PENDING) {
    ClearCommError(file, nullptr, nullptr);
    return 0;
  }
  if (WaitOverlapped(file, stop, ov, count) == TOverlappedWait::Failed) {
    ClearCommError(file, nullptr, nullptr);
  }
  return count;
}

bool UnderWine() {
  static const bool wine = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

bool PortEventsPolled() {
  switch (PortEventWaits()) {
    case TPortEventWaits::Pending:
      return false;
    case TPortEventWaits::Polled:
      return true;
    case TPortEventWaits::Auto:
      break;
  }
  return UnderWine();
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
  if (PortEventsPolled()) return PollPortEvent(file, stop, mask);
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

BOOL IssueRead(HANDLE file, void* buffer, DWORD size, DWORD* count, OVERLAPPED* ov) {
  if (AbortedBySeam(TPortOperation::Read)) {
    *count = 0;
    return FALSE;
  }
  return ReadFile(file, buffer, size, count, ov);
}

BOOL IssueWrite(HANDLE file, const void* data, DWORD size, DWORD* count, OVERLAPPED* ov) {
  if (AbortedBySeam(TPortOperation::Write)) {
    *count = 0;
    return FALSE;
  }
  return WriteFile(file, data, size, count, ov);
}

BOOL IssueWaitCommEvent(HANDLE file, DWORD* mask, OVERLAPPED* ov, DWORD& injected) {
  injected = InjectedLineErrors();
  if (injected != 0) {
    *mask = EV_ERR;
    return TRUE;
  }
  if (AbortedBySeam(TPortOperation::CommEvent)) return FALSE;
  return WaitCommEvent(file, mask, ov);
}

}  // namespace comm32
