// The transmit thread: blocks queued to it as thread messages, written one
// after the other.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "comm32/win/CommThread.h"

class TWriteThread : public TCommThread {
 public:
  TWriteThread();
  ~TWriteThread() override;
  // Signalled once the thread's message queue exists.
  HANDLE QueueReady() const { return FQueueReady; }
  // Queues one block as WM_COMMDATA. True: the thread owns the block and
  // releases it, written or not. False: the caller keeps it.
  bool PostBlock(void* block, std::uint16_t count);

 protected:
  void Execute() override;

 private:
  enum class TWriteEnd { Completed, Aborted, Failed };
  // The next message of the thread's queue, waited for. False: the thread
  // is to end (the stop event, or a failed wait, reported).
  bool NextMessage(MSG& msg);
  // Writes the queued blocks until the thread is to end.
  void ServeQueue(OVERLAPPED& ov);
  bool TransmitBuffer(OVERLAPPED& ov, const char* block, DWORD count);
  TWriteEnd WritePart(OVERLAPPED& ov, const char* data, DWORD count, DWORD& written);
  void ReleaseQueuedBlocks();
  HANDLE FQueueReady;
  // The queue dies with the thread: once it stops taking blocks, a post
  // still in progress finishes before the last sweep of the queue.
  std::atomic<bool> FClosed{false};
  std::atomic<int> FPosting{0};
};
