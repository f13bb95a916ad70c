#include "comm32/win/WriteThread.h"

#include <string>

#include "comm32/win/CommsLogWin.h"
#include "comm32/win/Overlapped.h"

namespace {

void ReleaseThreadMessage(const MSG& msg) {
  if (msg.hwnd == nullptr && msg.message == WM_COMMDATA && msg.lParam != 0) {
    LocalFree(reinterpret_cast<HLOCAL>(msg.lParam));
  }
}

}  // namespace

TWriteThread::TWriteThread() : FQueueReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

TWriteThread::~TWriteThread() {
  AwaitEnd();
  if (FQueueReady != nullptr) CloseHandle(FQueueReady);
}

void TWriteThread::Execute() {
  MSG msg;
  // The first PeekMessage creates the thread's message queue.
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SetEvent(FQueueReady);

  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (ov.hEvent == nullptr) {
    LogLastError(GetLastError(), "Unable to CreateEvent: ");
    PostHangupRequest();
  } else {
    ServeQueue(ov);
  }

  WriteCommsLog("Write thread shutting down");
  PurgeComm(FCommFile, PURGE_TXABORT | PURGE_TXCLEAR);
  if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  ReleaseQueuedBlocks();
}

bool TWriteThread::NextMessage(MSG& msg) {
  while (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    const DWORD r = MsgWaitForMultipleObjects(1, &FCloseEvent, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 + 1) continue;  // a message has come
    if (r == WAIT_OBJECT_0) return false;  // the stop event
    if (r == WAIT_FAILED)
      LogLastError(GetLastError(), "Write WAIT_FAILED: ");
    else
      WriteCommsLog(("Unexpected Wait return value " + std::to_string(r)).c_str());
    PostHangupRequest();
    return false;
  }
  return true;
}

void TWriteThread::ServeQueue(OVERLAPPED& ov) {
  MSG msg;
  while (NextMessage(msg)) {
    if (StopRequested()) {
      ReleaseThreadMessage(msg);
      return;
    }
    if (msg.hwnd != nullptr) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    if (msg.message == WM_COMMDATA) {
      WriteCommsLog("Writing to comm port");
      const char* block = reinterpret_cast<const char*>(msg.lParam);
      const bool ok = TransmitBuffer(ov, block, static_cast<DWORD>(msg.wParam));
      LocalFree(reinterpret_cast<HLOCAL>(msg.lParam));
      if (!ok) return;
      continue;
    }
    WriteCommsLog(
        ("Unexpected message posted to Write thread: " + std::to_string(msg.message)).c_str());
  }
}

bool TWriteThread::PostBlock(void* block, std::uint16_t count) {
  FPosting.fetch_add(1);
  const bool posted = !FClosed.load() && PostThreadMessageA(ThreadId(), WM_COMMDATA, count,
                                                            reinterpret_cast<LPARAM>(block));
  FPosting.fetch_sub(1);
  return posted;
}

void TWriteThread::ReleaseQueuedBlocks() {
  // After FClosed no post starts; one that saw it open is waited for, so its
  // block is in the queue for the sweep below.
  FClosed.store(true);
  while (FPosting.load() != 0) SwitchToThread();
  // Blocks still queued are released unwritten.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ReleaseThreadMessage(msg);
}

bool TWriteThread::TransmitBuffer(OVERLAPPED& ov, const char* block, DWORD count) {
  DWORD offset = 0;
  DWORD remaining = count;
  for (;;) {
    WriteCommsLog(block);
    DWORD written = 0;
    const TWriteEnd end = WritePart(ov, block + offset, remaining, written);
    if (end == TWriteEnd::Failed) return false;
    remaining -= written;
    offset += written;
    if (end == TWriteEnd::Completed) {
      OperationCompleted();
    } else if (!RecoverAbortedOperation()) {
      return PortCallFailed(ERROR_OPERATION_ABORTED, "Error to writing to CommFile",
                            TAfterFailure::ClosingTapi);
    }
    if (remaining == 0) return true;
    // A stop between two parts ends the block too.
    if (StopRequested()) return false;
  }
}

// One WriteFile and its completion. Failed: logged, the thread must stop.
TWriteThread::TWriteEnd TWriteThread::WritePart(OVERLAPPED& ov, const char* data, DWORD count,
                                                DWORD& written) {
  if (comm32::IssueWrite(FCommFile, data, count, &written, &ov)) return TWriteEnd::Completed;
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) {
    if (IsLineErrorAbort(error)) return TWriteEnd::Aborted;
    PortCallFailed(error, "Error to writing to CommFile", TAfterFailure::ClosingTapi);
    return TWriteEnd::Failed;
  }
  const HANDLE handles[2] = {FCloseEvent, ov.hEvent};
  const DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (r == WAIT_FAILED) {
    LogLastError(GetLastError(), "Write WAIT_FAILED: ");
    comm32::CancelAndCollect(FCommFile, ov);
    PostHangupRequest();
    return TWriteEnd::Failed;
  }
  if (r == WAIT_OBJECT_0) {
    PurgeComm(FCommFile, PURGE_TXABORT | PURGE_TXCLEAR);
    comm32::CancelAndCollect(FCommFile, ov);
    return TWriteEnd::Failed;
  }
  if (r != WAIT_OBJECT_0 + 1) {
    WriteCommsLog(("Unexpected Wait return value " + std::to_string(r)).c_str());
    comm32::CancelAndCollect(FCommFile, ov);
    PostHangupRequest();
    return TWriteEnd::Failed;
  }
  while (!GetOverlappedResult(FCommFile, &ov, &written, TRUE)) {
    const DWORD waitError = GetLastError();
    if (waitError == ERROR_IO_INCOMPLETE) continue;
    // The bytes written before the abort count.
    if (IsLineErrorAbort(waitError)) return TWriteEnd::Aborted;
    PortCallFailed(waitError, "Error writing to CommFile while waiting",
                   TAfterFailure::ClosingTapi);
    return TWriteEnd::Failed;
  }
  return TWriteEnd::Completed;
}
