// The other receive thread, for the component's interface (SLevel 100 on):
// a comm-event wait, then reads of what the port has queued.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "comm32/win/CommThread.h"

class CommReadThread : public TCommThread {
 public:
  // 1 running, 0 stop requested, 2 ended.
  std::atomic<std::uint16_t> FRunState{1};

 protected:
  void Execute() override;

 private:
  std::uint16_t ReadQueuedChunk(OVERLAPPED& ov);
};
