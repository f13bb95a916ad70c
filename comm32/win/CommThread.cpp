#include "comm32/win/CommThread.h"

#include <cstring>
#include <string>

#include "comm32/win/CommsLogWin.h"

namespace {

const char kInvalidHandleLine[] =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";

std::atomic<comm32::TPortEventWaits> gPortEventWaits{comm32::TPortEventWaits::Auto};
std::atomic<comm32::TAbortSeam> gAbortSeam{nullptr};
std::atomic<comm32::TThreadEndSeam> gThreadEndSeam{nullptr};
std::atomic<comm32::TLineErrorSeam> gLineErrorSeam{nullptr};
std::atomic<comm32::TPostSeam> gPostSeam{nullptr};

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

// A queue that is full (ERROR_NOT_ENOUGH_QUOTA) is tried again after a pause
// until it takes the block or the thread is told to stop, so no received byte
// is lost to a busy owner.
BOOL TCommThread::PostCommData(void* block, DWORD count) {
  for (;;) {
    const comm32::TPostSeam seam = gPostSeam.load();
    if (seam != nullptr && seam()) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    } else if (PostMessageA(FNotifyWindow, WM_COMMDATA, MAKEWPARAM(count, FOpening),
                            reinterpret_cast<LPARAM>(block))) {
      return TRUE;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_WINDOW_HANDLE ||
        WaitForSingleObject(FCloseEvent, comm32::kPostRetryPauseMs) != WAIT_TIMEOUT) {
      SetLastError(error);
      return FALSE;
    }
  }
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
  NoteLineErrors(errors);
  return true;
}

void TCommThread::NoteLineErrors(DWORD errors) {
  FHeldErrors |= errors;
  PostHeldLineErrors();
}

DWORD TCommThread::HeldLineErrorsDueIn() const {
  if (FHeldErrors == 0) return INFINITE;
  const ULONGLONG since = GetTickCount64() - FLastNotice;
  return !FNoticePosted || since >= comm32::kLineErrorNoticeMs
             ? 0
             : static_cast<DWORD>(comm32::kLineErrorNoticeMs - since);
}

void TCommThread::PostHeldLineErrors() {
  if (HeldLineErrorsDueIn() != 0) return;
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, 256));
  if (block == nullptr) {
    // Kept for the next notice.
    LogLastError(GetLastError(), "LocalAlloc: ");
    return;
  }
  const std::string text = comm32::CommErrorEventText(FHeldErrors);
  const DWORD length = static_cast<DWORD>(text.size() < 255 ? text.size() : 255);
  std::memcpy(block, text.data(), length);
  FHeldErrors = 0;
  FNoticePosted = true;
  FLastNotice = GetTickCount64();
  if (!PostCommData(block, length)) LocalFree(block);
}

bool TCommThread::RecoverAbortedOperation() {
  if (++FAbortsInRow > comm32::kAbortRetryLimit) {
    WriteCommsLog("Aborted by line errors too often; giving up.");
    return false;
  }
  WriteCommsLog("Aborted by a line error; issued again.");
  DWORD errors = 0;
  if (!ClearLineErrors(errors)) return false;
  WaitForSingleObject(FCloseEvent, comm32::kAbortRetryPauseMs);
  return true;
}

bool TCommThread::SetPortMask(DWORD mask) {
  for (;;) {
    if (SetCommMask(FCommFile, mask)) return true;
    const DWORD error = GetLastError();
    if (!IsLineErrorAbort(error) || !RecoverAbortedOperation()) {
      SetLastError(error);
      return false;
    }
  }
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

BOOL IssueWaitCommEvent(HANDLE file, DWORD* mask, OVERLAPPED* ov, DWORD& injected) {
  const TLineErrorSeam seam = gLineErrorSeam.load();
  injected = seam != nullptr ? seam() : 0;
  if (injected != 0) {
    *mask = EV_ERR;
    return TRUE;
  }
  if (AbortedBySeam(TPortOperation::CommEvent)) return FALSE;
  return WaitCommEvent(file, mask, ov);
}

void SetPortEventWaits(TPortEventWaits waits) { gPortEventWaits.store(waits); }
void SetAbortSeam(TAbortSeam seam) { gAbortSeam.store(seam); }
void SetThreadEndSeam(TThreadEndSeam seam) { gThreadEndSeam.store(seam); }
void SetLineErrorSeam(TLineErrorSeam seam) { gLineErrorSeam.store(seam); }
void SetPostSeam(TPostSeam seam) { gPostSeam.store(seam); }

}  // namespace comm32
