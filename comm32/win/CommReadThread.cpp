#include "comm32/win/CommReadThread.h"

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
    COMSTAT status = {};
    ClearCommError(FCommFile, nullptr, &status);
    count = comm32::ReadAndWait(FCommFile, FCloseEvent, ov, chunk,
                                comm32::QueuedChunkLength(status.cbInQue));
  }
  PostCopy(chunk, count);
  return static_cast<std::uint16_t>(count);
}
