// The worker threads of TComm32: the transmit thread and the two kinds of
// receive thread. Each reads only its own copies of the port handle, the stop
// event and the notify window, set before the thread is resumed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "comm32/CommLogic.h"

constexpr UINT WM_COMMDATA = comm32::kWmCommData;
constexpr UINT WM_REQUESTHANGUP = comm32::kWmRequestHangup;

// A Win32 thread created suspended. The object owns the thread handle; its
// destructor waits until the thread has ended.
class TCommThread {
 public:
  TCommThread() = default;
  TCommThread(const TCommThread&) = delete;
  TCommThread& operator=(const TCommThread&) = delete;
  virtual ~TCommThread();

  // Creates the thread suspended; false (last error set) on failure.
  bool Create();
  void Resume() { ResumeThread(handle_); }
  void SetPriority(int priority) { SetThreadPriority(handle_, priority); }
  DWORD WaitFor(DWORD milliseconds) { return WaitForSingleObject(handle_, milliseconds); }
  HANDLE Handle() const { return handle_; }
  DWORD ThreadId() const { return id_; }
  // The termination request: recorded only; the thread body never reads it.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

  HANDLE FCommFile = nullptr;
  HANDLE FCloseEvent = nullptr;
  HWND FNotifyWindow = nullptr;

 protected:
  virtual void Execute() = 0;
  BOOL PostCommData(void* block, DWORD count);
  BOOL PostHangupRequest();
  bool StopRequested() const { return WaitForSingleObject(FCloseEvent, 0) != WAIT_TIMEOUT; }

 private:
  static DWORD WINAPI ThreadProc(void* self);
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
  std::atomic<bool> terminated_{false};
};

class TWriteThread : public TCommThread {
 public:
  TWriteThread();
  ~TWriteThread() override;
  // Signalled once the thread's message queue exists.
  HANDLE QueueReady() const { return queueReady_; }
  // Queues one block as WM_COMMDATA. True: the thread owns the block and
  // releases it, written or not. False: the caller keeps it.
  bool PostBlock(void* block, std::uint16_t count);

 protected:
  void Execute() override;

 private:
  bool TransmitBuffer(OVERLAPPED& ov, const char* block, DWORD count);
  void ReleaseQueuedBlocks();
  HANDLE queueReady_;
  // The queue dies with the thread: once it stops taking blocks, a post
  // still in progress finishes before the last sweep of the queue.
  std::atomic<bool> closed_{false};
  std::atomic<int> posting_{0};
};

class TReadThread : public TCommThread {
 public:
  std::atomic<bool> FOverlappedMode{true};

 protected:
  void Execute() override;

 private:
  struct TState;
  bool SetupReadEvent(TState& s);
  bool HandleReadEvent(TState& s);
  bool SetupCommEvent(TState& s);
  bool HandleCommEvent(TState& s, bool fromOverlapped);
  // SetupCommEvent where pending comm-event waits leak threads.
  bool CheckLineErrors(TState& s);
  void PostLineErrors(char* block, DWORD errors);
  bool DeliverReceivedData(const char* buffer, DWORD count);
  void BlockingWakeUp(TState& s);
  void RetireOverlappedOperations(TState& s);
  std::uint16_t ReadChunk(TState& s);
  void LogInvalidHandle();
};

class CommReadThread : public TCommThread {
 public:
  // 1 running, 0 stop requested, 2 ended.
  std::atomic<std::uint16_t> FRunState{1};

 protected:
  void Execute() override;

 private:
  std::uint16_t ReadQueuedChunk(OVERLAPPED& ov);
};

// Helpers for overlapped operations on the port.
namespace comm32 {

// Ends an outstanding operation on ov and waits until the system no longer
// uses ov; returns the byte count the operation reported.
DWORD CancelAndCollect(HANDLE file, OVERLAPPED& ov);

enum class TOverlappedWait { Completed, Failed, Stopped };

// Waits for the operation on ov or the stop event. Completed: count set.
// Failed: last error set. Stopped: the operation was ended and collected,
// count holds what it reported.
TOverlappedWait WaitOverlapped(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& count);

// Wine 8 serves each pending WaitCommEvent with a helper thread that ends
// without the loader's thread detach, so its freed thread block stays in the
// loader's list of threads with TLS slots; the next load or unload of a module
// with a TLS directory (this one has one) writes through it and faults. Under
// Wine no comm-event wait is left pending: the receive threads look at the
// port themselves, every kPortPollMs, as Wine's helper thread does.
bool PendingPortEventWaitsLeakThreads();
constexpr DWORD kPortPollMs = 10;

// A comm-event wait that sleeps: an overlapped WaitCommEvent on ov, also
// ended by the stop event. Returns false when stopped; mask is 0 when the
// wait ended without an event or failed. Where pending waits leak threads,
// the port's input queue is polled instead (EV_RXCHAR only).
bool WaitPortEvent(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& mask);

}  // namespace comm32
