#include <string>

#include "comm32/win/CommThreads.h"
#include "comm32/win/CommsLogWin.h"

namespace {

const char kInvalidHandleLine[] =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";

void ReleaseThreadMessage(const MSG& msg) {
  if (msg.hwnd == nullptr && msg.message == WM_COMMDATA && msg.lParam != 0) {
    LocalFree(reinterpret_cast<HLOCAL>(msg.lParam));
  }
}

}  // namespace

TWriteThread::TWriteThread() : queueReady_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

TWriteThread::~TWriteThread() {
  // The thread must have ended before the event goes.
  WaitFor(INFINITE);
  if (queueReady_ != nullptr) CloseHandle(queueReady_);
}

void TWriteThread::Execute() {
  MSG msg;
  // The first PeekMessage creates the thread's message queue.
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SetEvent(queueReady_);

  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (ov.hEvent == nullptr) {
    LogLastError(GetLastError(), "Unable to CreateEvent: ");
    PostHangupRequest();
  } else {
    for (;;) {
      if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        const DWORD r = MsgWaitForMultipleObjects(1, &FCloseEvent, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_FAILED) {
          LogLastError(GetLastError(), "Write WAIT_FAILED: ");
          PostHangupRequest();
          break;
        }
        if (r == WAIT_OBJECT_0) break;
        if (r == WAIT_OBJECT_0 + 1) continue;
        WriteCommsLog(("Unexpected Wait return value " + std::to_string(r)).c_str());
        PostHangupRequest();
        break;
      }
      if (StopRequested()) {
        ReleaseThreadMessage(msg);
        break;
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
        if (!ok) break;
        continue;
      }
      WriteCommsLog(
          ("Unexpected message posted to Write thread: " + std::to_string(msg.message)).c_str());
    }
  }

  WriteCommsLog("Write thread shutting down");
  PurgeComm(FCommFile, PURGE_TXABORT | PURGE_TXCLEAR);
  if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  ReleaseQueuedBlocks();
}

bool TWriteThread::PostBlock(void* block, std::uint16_t count) {
  posting_.fetch_add(1);
  const bool posted = !closed_.load() && PostThreadMessageA(ThreadId(), WM_COMMDATA, count,
                                                            reinterpret_cast<LPARAM>(block));
  posting_.fetch_sub(1);
  return posted;
}

void TWriteThread::ReleaseQueuedBlocks() {
  // After closed_ no post starts; one that saw it open is waited for, so its
  // block is in the queue for the sweep below.
  closed_.store(true);
  while (posting_.load() != 0) SwitchToThread();
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
    if (!WriteFile(FCommFile, block + offset, remaining, &written, &ov)) {
      const DWORD error = GetLastError();
      if (error == ERROR_INVALID_HANDLE) {
        WriteCommsLog(kInvalidHandleLine);
        return false;
      }
      if (error != ERROR_IO_PENDING) {
        LogLastError(error, "Error to writing to CommFile");
        WriteCommsLog("Closing TAPI");
        PostHangupRequest();
        return false;
      }
      const HANDLE handles[2] = {FCloseEvent, ov.hEvent};
      const DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (r == WAIT_FAILED) {
        LogLastError(GetLastError(), "Write WAIT_FAILED: ");
        comm32::CancelAndCollect(FCommFile, ov);
        PostHangupRequest();
        return false;
      }
      if (r == WAIT_OBJECT_0) {
        PurgeComm(FCommFile, PURGE_TXABORT | PURGE_TXCLEAR);
        comm32::CancelAndCollect(FCommFile, ov);
        return false;
      }
      if (r != WAIT_OBJECT_0 + 1) {
        WriteCommsLog(("Unexpected Wait return value " + std::to_string(r)).c_str());
        comm32::CancelAndCollect(FCommFile, ov);
        PostHangupRequest();
        return false;
      }
      while (!GetOverlappedResult(FCommFile, &ov, &written, TRUE)) {
        const DWORD waitError = GetLastError();
        if (waitError == ERROR_IO_INCOMPLETE) continue;
        if (waitError == ERROR_INVALID_HANDLE) {
          WriteCommsLog(kInvalidHandleLine);
          return false;
        }
        LogLastError(waitError, "Error writing to CommFile while waiting");
        WriteCommsLog("Closing TAPI");
        PostHangupRequest();
        return false;
      }
    }
    remaining -= written;
    offset += written;
    if (remaining == 0) return true;
    // A stop between two parts ends the block too.
    if (StopRequested()) return false;
  }
}
