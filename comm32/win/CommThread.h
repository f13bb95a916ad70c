// The base of TComm32's worker threads (WriteThread.h, ReadThread.h,
// CommReadThread.h). Each reads only its own copies of the port handle, the
// stop event and the notify window, set before the thread is resumed.
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
  // Posts a copy of count bytes (a zero-terminated block the owner frees);
  // one the owner's queue refuses is freed. False (last error set) when the
  // copy cannot be allocated.
  bool PostCopy(const char* data, DWORD count);
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

namespace comm32 {

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

}  // namespace comm32
