#include "comm32/win/CommReadThread.h"

#include <cstring>

#include "comm32/win/CommsLogWin.h"
#include "comm32/win/Overlapped.h"

void CommReadThread::Execute() {
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  // The comm-event wait sleeps in an overlapped wait of its own.
  OVERLAPPED waitOv = {};
  waitOv.hEvent = ov.hEvent != nullptr ? CreateEventA(nullptr, TRUE, TRUE, nullptr) : nullptr;

  if (waitOv.hEvent != nullptr && SetCommMask(FCommFile, EV_RXCHAR | EV_BREAK)) {
    for (;;) {
      if (reinterpret_cast<LONG_PTR>(FCommFile) <= 0 || FRunState == 0 || StopRequested()) break;
      comm32::WaitThenReadChunks(FCommFile, FCloseEvent, waitOv,
                                 [this, &ov] { return ReadQueuedChunk(ov); });
    }
  }

  WriteCommsLog("Read thread shutting down");
  if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  if (waitOv.hEvent != nullptr) CloseHandle(waitOv.hEvent);
  FRunState = 2;
}

std::uint16_t CommReadThread::ReadQueuedChunk(OVERLAPPED& ov) {
  char chunk[comm32::kChunkSize];
  DWORD count = 0;
  // A stop ends the series with an empty chunk, even while bytes stream in.
  if (FRunState != 0 && !StopRequested()) {
    DWORD errors = 0;
    COMSTAT status = {};
    ClearCommError(FCommFile, &errors, &status);
    const DWORD want = comm32::QueuedChunkLength(status.cbInQue);
    if (!ReadFile(FCommFile, chunk, want, &count, &ov)) {
      if (GetLastError() == ERROR_IO_PENDING) {
        if (comm32::WaitOverlapped(FCommFile, FCloseEvent, ov, count) ==
            comm32::TOverlappedWait::Failed) {
          ClearCommError(FCommFile, &errors, &status);
        }
      } else {
        count = 0;
        ClearCommError(FCommFile, &errors, &status);
      }
    }
  }
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, count + 1));
  if (block == nullptr) return static_cast<std::uint16_t>(count);
  std::memcpy(block, chunk, count);
  if (!PostCommData(block, count)) LocalFree(block);
  return static_cast<std::uint16_t>(count);
}
