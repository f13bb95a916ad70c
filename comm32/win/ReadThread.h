// The receive thread the applet runs: overlapped mode, one read and one
// comm-event wait outstanding; or blocking mode (ReadThreadBlocking.cpp).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "comm32/win/CommThread.h"

class TReadThread : public TCommThread {
 public:
  std::atomic<bool> FOverlappedMode{true};

 protected:
  void Execute() override;

 private:
  struct TState;
  bool StartOperations(TState& s);
  // Overlapped mode: one read and one comm-event wait outstanding.
  bool OverlappedWakeUp(TState& s, bool commEvent);
  bool SetupReadEvent(TState& s);
  bool HandleReadEvent(TState& s);
  bool SetupCommEvent(TState& s);
  // injected: line errors a test seam adds to the port's.
  bool HandleCommEvent(TState& s, bool fromOverlapped, DWORD injected = 0);
  // SetupCommEvent where the port's events are polled.
  bool CheckLineErrors(TState& s);
  bool DeliverReceivedData(const char* buffer, DWORD count);
  bool GiveUp(const char* report);
  // Ends overlapped mode's operations before blocking mode runs.
  void RetireOverlappedOperations(TState& s);

  // Blocking mode (ReadThreadBlocking.cpp): a comm-event wait on waitOv,
  // then a series of chunk reads on readOv. It has overlapped mode's two
  // records, whose events the thread's wait watches, and nothing else.
  void BlockingWakeUp(OVERLAPPED& waitOv, OVERLAPPED& readOv);
  std::uint16_t ReadChunk(OVERLAPPED& readOv);
};
