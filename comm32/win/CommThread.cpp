#include "comm32/win/CommThread.h"

#include <cstring>
#include <string>

#include "comm32/win/CommsLogWin.h"
#include "comm32/win/TestSeams.h"

namespace {

const char kInvalidHandleLine[] =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";

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
  comm32::RunThreadEndSeam(*thread);
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
    if (comm32::PostRefusedBySeam()) {
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

bool TCommThread::PostCopy(const char* data, DWORD count) {
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, count + 1));
  if (block == nullptr) return false;
  std::memcpy(block, data, count);
  if (!PostCommData(block, count)) LocalFree(block);
  return true;
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
