// The worker threads of TComm32: the transmit thread and the two kinds of
// receive thread. Each reads only its own copies of the port handle, the stop
// event and the notify window, set before the thread is resumed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "comm32/CommLogic.h"

constexpr UINT WM_COMMDATA = comm32::kWmCommData;
constexpr UINT WM_REQUESTHANGUP = comm32::kWmRequestHangup;

// A Win32 thread created suspended. The object owns the thread handle.
// An owner waits for the thread with a limit (WaitFor) before it destroys
// the object, or hands the object to the thread with Abandon; destroying
// the object of a thread that still runs waits for it without limit.
class TCommThread {
 public:
  TCommThread() = default;
  TCommThread(const TCommThread&) = delete;
  TCommThread& operator=(const TCommThread&) = delete;
  virtual ~TCommThread();

  // Creates the thread suspended; false (last error set) on failure.
  bool Create();
  void Resume() {
    FResumed = true;
    ResumeThread(FHandle);
  }
  void SetPriority(int priority) { SetThreadPriority(FHandle, priority); }
  DWORD WaitFor(DWORD milliseconds) { return WaitForSingleObject(FHandle, milliseconds); }
  HANDLE Handle() const { return FHandle; }
  DWORD ThreadId() const { return FThreadId; }
  // The termination request: recorded only; the thread body never reads it.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

  // Gives up waiting for a thread that has not ended: the thread deletes its
  // object when its body returns, and lets go of keep (the handles it uses)
  // then. A thread that ended meanwhile is deleted at once.
  static void Abandon(std::unique_ptr<TCommThread> thread, std::shared_ptr<void> keep);

  HANDLE FCommFile = nullptr;
  HANDLE FCloseEvent = nullptr;
  HWND FNotifyWindow = nullptr;
  // The opening the thread serves; travels with every block it posts, so
  // that blocks of a closed opening are told from those of the next one.
  std::uint16_t FOpening = 0;

 protected:
  virtual void Execute() = 0;
  // Waits until the thread has ended, unless it never ran or this is it.
  void AwaitEnd();
  BOOL PostCommData(void* block, DWORD count);
  BOOL PostHangupRequest();
  bool StopRequested() const { return WaitForSingleObject(FCloseEvent, 0) != WAIT_TIMEOUT; }

  // What follows the report of a failed port call.
  enum class TAfterFailure { Nothing, HangUp, ClosingTapi };
  // The tail of a failed port call: the invalid-handle line when the port
  // has gone; otherwise prefix with the system's text for error, then, as
  // asked, "Closing TAPI" and a hang-up request. Always false.
  bool PortCallFailed(DWORD error, const char* prefix,
                      TAfterFailure after = TAfterFailure::Nothing);
  // Reads and clears the port's error word (ClearCommError) and notes the
  // line errors in it. False (logged) when the word cannot be read.
  bool ClearLineErrors(DWORD& errors);
  // Line errors are gathered (their bits ORed) and posted as one "Comm
  // Event: ..." text at most every kLineErrorNoticeMs, so that a line full
  // of errors cannot flood the owner's queue.
  void NoteLineErrors(DWORD errors);
  // Posts the errors gathered if their time has come.
  void PostHeldLineErrors();
  // Milliseconds until the errors gathered may be posted; INFINITE if none.
  DWORD HeldLineErrorsDueIn() const;
  // A read or write that ended with ERROR_OPERATION_ABORTED while no stop
  // was asked for: with the DCB's fAbortOnError set, the driver aborts every
  // read and write once a line error occurs and takes no other until the
  // error is cleared (Microsoft docs: ClearCommError, Remarks).
  bool IsLineErrorAbort(DWORD error) const {
    return error == ERROR_OPERATION_ABORTED && !StopRequested();
  }
  // Clears and reports that error and pauses briefly, so that a line that
  // keeps failing cannot spin the thread. True: issue the operation again
  // (the caller's own stop test follows). False after kAbortRetryLimit
  // aborts in a row, or when the error cannot be cleared: the caller then
  // fails as for any other error.
  bool RecoverAbortedOperation();
  // An operation completed: the count of aborts in a row starts again.
  void OperationCompleted() { FAbortsInRow = 0; }
  // SetCommMask, issued again after an abort by a line error.
  bool SetPortMask(DWORD mask);

 private:
  static DWORD WINAPI ThreadProc(void* self);
  enum TEnd : int { kRunning, kEnded, kAbandoned };
  HANDLE FHandle = nullptr;
  DWORD FThreadId = 0;
  bool FResumed = false;
  std::atomic<bool> FTerminated{false};
  std::atomic<int> FEnd{kRunning};
  std::shared_ptr<void> FKeep;
  unsigned FAbortsInRow = 0;
  DWORD FHeldErrors = 0;
  ULONGLONG FLastNotice = 0;
  bool FNoticePosted = false;
};

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
  bool TransmitBuffer(OVERLAPPED& ov, const char* block, DWORD count);
  TWriteEnd WritePart(OVERLAPPED& ov, const char* data, DWORD count, DWORD& written);
  void ReleaseQueuedBlocks();
  HANDLE FQueueReady;
  // The queue dies with the thread: once it stops taking blocks, a post
  // still in progress finishes before the last sweep of the queue.
  std::atomic<bool> FClosed{false};
  std::atomic<int> FPosting{0};
};

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
  // Blocking mode: a comm-event wait, then a series of chunk reads.
  void BlockingWakeUp(TState& s);
  void RetireOverlappedOperations(TState& s);
  std::uint16_t ReadChunk(TState& s);
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
// uses ov; returns the byte count the operation reported. The wait has no
// limit (ov lives on the caller's stack): drivers need not honour a cancel
// (Microsoft docs: Canceling Pending I/O Operations), and one that never
// gives the operation back keeps the thread here; ClosePort leaves it behind.
DWORD CancelAndCollect(HANDLE file, OVERLAPPED& ov);

enum class TOverlappedWait { Completed, Failed, Stopped };

// Waits for the operation on ov or the stop event. Completed: count set.
// Failed: last error set. Stopped: the operation was ended and collected,
// count holds what it reported.
TOverlappedWait WaitOverlapped(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& count);

// True when the process runs under Wine (ntdll exports wine_get_version).
bool UnderWine();

// Wine 8 serves each pending WaitCommEvent with a helper thread that ends
// without the loader's thread detach, so its freed thread block stays in the
// loader's list of threads with TLS slots; the next load or unload of a module
// with a TLS directory (this one has one) writes through it and faults. Under
// Wine no comm-event wait is left pending: the receive threads look at the
// port themselves, every kPortPollMs, as Wine's helper thread does.
bool PortEventsPolled();
constexpr DWORD kPortPollMs = 10;

// A comm-event wait that sleeps: an overlapped WaitCommEvent on ov, also
// ended by the stop event. Returns false when stopped; mask is 0 when the
// wait ended without an event or failed. Where port events are polled, the
// port's input queue is polled instead (EV_RXCHAR only).
bool WaitPortEvent(HANDLE file, HANDLE stop, OVERLAPPED& ov, DWORD& mask);

// The pause before an operation that a line error aborted is issued again.
constexpr DWORD kAbortRetryPauseMs = 20;
// Aborts in a row after which a thread gives up on the port and asks its
// owner to hang up.
constexpr unsigned kAbortRetryLimit = 10;
// At most one line-error notice per this many milliseconds.
constexpr DWORD kLineErrorNoticeMs = 20;
// The pause before a post that the owner's queue refused (it is full:
// ERROR_NOT_ENOUGH_QUOTA) is tried again.
constexpr DWORD kPostRetryPauseMs = 10;

// ReadFile and WriteFile of the worker threads, through the abort seam below.
BOOL IssueRead(HANDLE file, void* buffer, DWORD size, DWORD* count, OVERLAPPED* ov);
BOOL IssueWrite(HANDLE file, const void* data, DWORD size, DWORD* count, OVERLAPPED* ov);
// WaitCommEvent of TReadThread's pending comm-event wait, through the abort
// seam and the line-error seam below. injected: the line errors the seam
// made happen (the call then counts as completed with EV_ERR).
BOOL IssueWaitCommEvent(HANDLE file, DWORD* mask, OVERLAPPED* ov, DWORD& injected);

// Test seams, for what Wine cannot show.
//
// Which way the receive threads wait for port events: Auto polls under Wine
// only; Pending and Polled force one way (set before OpenPort).
enum class TPortEventWaits { Auto, Pending, Polled };
void SetPortEventWaits(TPortEventWaits waits);

// Asked before each overlapped read of TReadThread and each write of
// TWriteThread; true fails that call at once with ERROR_OPERATION_ABORTED,
// as a driver does while a line error holds a port with fAbortOnError set.
enum class TPortOperation { Read, Write, CommEvent };
using TAbortSeam = bool (*)(TPortOperation operation);
void SetAbortSeam(TAbortSeam seam);

// Asked before each pending comm-event wait of TReadThread is issued; a
// non-zero result is a line error (CE_* bits) that occurred just then, as a
// device sending at another speed makes one per character.
using TLineErrorSeam = DWORD (*)();
void SetLineErrorSeam(TLineErrorSeam seam);

// Asked before each post of a worker thread to the owner's window; true
// fails it with ERROR_NOT_ENOUGH_QUOTA, as a full message queue does.
using TPostSeam = bool (*)();
void SetPostSeam(TPostSeam seam);

// Runs on each worker thread after its body has returned, before the thread
// counts as ended. A hook that blocks plays a thread held in a driver that
// never gives back a cancelled operation.
using TThreadEndSeam = void (*)(const TCommThread& thread);
void SetThreadEndSeam(TThreadEndSeam seam);

}  // namespace comm32
