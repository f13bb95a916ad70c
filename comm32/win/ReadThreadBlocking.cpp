// Blocking mode of TReadThread: each wake-up of the thread waits for a port
// event, then reads in chunks until a read yields nothing.
#include "comm32/win/CommsLogWin.h"
#include "comm32/win/Overlapped.h"
#include "comm32/win/ReadThread.h"

void TReadThread::BlockingWakeUp(OVERLAPPED& waitOv, OVERLAPPED& readOv) {
  comm32::WaitThenReadChunks(FCommFile, FCloseEvent, waitOv,
                             [this, &readOv] { return ReadChunk(readOv); });
}

std::uint16_t TReadThread::ReadChunk(OVERLAPPED& readOv) {
  char chunk[comm32::kChunkSize];
  DWORD count = 0;
  // A stop ends the series with an empty chunk, even while bytes stream in.
  if (!StopRequested()) {
    count = comm32::ReadAndWait(FCommFile, FCloseEvent, readOv, chunk, comm32::kChunkSize);
  }
  if (!PostCopy(chunk, count)) LogLastError(GetLastError(), "LocalAlloc: ");
  return static_cast<std::uint16_t>(count);
}
