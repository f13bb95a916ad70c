#include "comm32/win/CommThreads.h"

#include <cstring>
#include <string>

#include "comm32/win/CommsLogWin.h"

namespace {

const char kInvalidHandleLine[] =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";

std::atomic<comm32::TPortEventWaits> gPortEventWaits{comm32::TPortEventWaits::Auto};
std::atomic<comm32::TAbortSeam> gAbortSeam{nullptr};
std::atomic<comm32::TThreadEndSeam> gThreadEndSeam{nullptr};

bool AbortedBySeam(comm32::TPortOperation operation) {
  const comm32::TAbortSeam seam = gAbortSeam.load();
  if (seam == nullptr || !seam(operation)) return false;
  SetLastError(ERROR_OPERATION_ABORTED);
  return true;
}

}  // namespace

TCommThread::~TCommThread() {
  AwaitEnd();
  if (FHandle != nullptr) CloseHandle(FHandle);
}

void TCommThread::AwaitEnd() {
  if (FHandle != nullptr && FResumed && GetCurrentThreadId() != FThreadId) {
    WaitForSingleObject(FHandle, INFINITE);
  }
}

bool TCommThread::Create() {
  FHandle = CreateThread(nullptr, 0, &TCommThread::ThreadProc, this, CREATE_SUSPENDED, &FThreadId);
  return FHandle != nullptr;
}

DWORD WINAPI TCommThread::ThreadProc(void* self) {
  MarkCommsLogWorkerThread();
  auto* thread = static_cast<TCommThread*>(self);
  thread->Execute();
  if (const comm32::TThreadEndSeam seam = gThreadEndSeam.load()) seam(*thread);
  // The object is the owner's until the owner abandons it; then it is ours.
  if (thread->FEnd.exchange(kEnded) == kAbandoned) delete thread;
  return 0;
}

void TCommThread::Abandon(std::unique_ptr<TCommThread> thread, std::shared_ptr<void> keep) {
  TCommThread* const t = thread.release();
  t->FKeep = std::move(keep);
  if (t->FEnd.exchange(kAbandoned) == kEnded) delete t;
}

BOOL TCommThread::PostCommData(void* block, DWORD count) {
  return PostMessageA(FNotifyWindow, WM_COMMDATA, MAKEWPARAM(count, FOpening),
                      reinterpret_cast<LPARAM>(block));
}

BOOL TCommThread::PostHangupRequest() {
  return PostMessageA(FNotifyWindow, WM_REQUESTHANGUP, 0, 0);
}

bool TCommThread::PortCallFailed(DWORD error, const char* prefix, TAfterFailure after) {
  if (error == ERROR_INVALID_HANDLE) {
    WriteCommsLog(kInvalidHandleLine);
    return false;
  }
  LogLastError(error, prefix);
  if (after == TAfterFailure::ClosingTapi) WriteCommsLog("Closing TAPI");
  if (after != TAfterFailure::Nothing) PostHangupRequest();
  return false;
}

bool TCommThread::ClearLineErrors(DWORD& errors) {
  errors = 0;
  if (!ClearCommError(FCommFile, &errors, nullptr)) {
    return PortCallFailed(GetLastError(), "ClearCommError: ");
  }
  if (errors == 0) return true;
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, 256));
  if (block == nullptr) {
    LogLastError(GetLastError(), "LocalAlloc: ");
    return false;
  }
  PostLineErrors(block, errors);
  return true;
}

void TCommThread::PostLineErrors(char* block, DWORD errors) {
  const std::string text = comm32::CommErrorEventText(errors);
  const DWORD length = static_cast<DWORD>(text.size() < 255 ? text.size() : 255);
  std::memcpy(block, text.data(), length);
  if (!PostCommData(block, length)) LocalFree(block);
}

bool TCommThread::RecoverAbortedOperation() {
  WriteCommsLog("Aborted by a line error; issued again.");
  DWORD errors = 0;
  if (!ClearLineErrors(errors)) return false;
  WaitForSingleObject(FCloseEvent, comm32::kAbortRetryPauseMs);
  return true;
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

bool UnderWine() {
  static const bool wine = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

bool PortEventsPolled() {
  switch (gPortEventWaits.load()) {
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

void SetPortEventWaits(TPortEventWaits waits) { gPortEventWaits.store(waits); }
void SetAbortSeam(TAbortSeam seam) { gAbortSeam.store(seam); }
void SetThreadEndSeam(TThreadEndSeam seam) { gThreadEndSeam.store(seam); }

}  // namespace comm32
