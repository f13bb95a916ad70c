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

bool WaitPortEvent(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& mask) {
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
