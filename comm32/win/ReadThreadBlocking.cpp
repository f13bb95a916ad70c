// Blocking mode of TReadThread: each wake-up of the thread waits for a port
// event, then reads in chunks until a read yields nothing.
#include <cstring>

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
    if (!ReadFile(FCommFile, chunk, comm32::kChunkSize, &count, &readOv)) {
      if (GetLastError() == ERROR_IO_PENDING) {
        if (comm32::WaitOverlapped(FCommFile, FCloseEvent, readOv, count) ==
            comm32::TOverlappedWait::Failed) {
          ClearCommError(FCommFile, nullptr, nullptr);
        }
      } else {
        count = 0;
        ClearCommError(FCommFile, nullptr, nullptr);
      }
    }
  }
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, count + 1));
  if (block == nullptr) {
    LogLastError(GetLastError(), "LocalAlloc: ");
    return static_cast<std::uint16_t>(count);
  }
  std::memcpy(block, chunk, count);
  if (!PostCommData(block, count)) LocalFree(block);
  return static_cast<std::uint16_t>(count);
}
