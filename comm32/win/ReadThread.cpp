#include "comm32/win/ReadThread.h"

#include <cstring>
#include <string>

#include "comm32/win/CommsLogWin.h"
#include "comm32/win/Overlapped.h"

namespace {

// Reports Text with the thread's current last error.
void Report(const char* text) { LogLastError(GetLastError(), text); }

// An operation that did not complete at once: marked outstanding and logged.
bool Outstanding(bool& pending, const char* line) {
  pending = true;
  WriteCommsLog(line);
  return true;
}

}  // namespace

// Everything Execute keeps on the thread's stack.
struct TReadThread::TState {
  OVERLAPPED readOv = {};
  OVERLAPPED commOv = {};
  char buffer[comm32::kReceiveBufferSize];
  DWORD count = 0;
  DWORD mask = 0;
  // An operation started on the record and not yet collected.
  bool readPending = false;
  bool commPending = false;
  // Blocking mode has collected the overlapped-mode operations.
  bool retired = false;
};

void TReadThread::Execute() {
  TState s;
  if (StartOperations(s)) {
    const HANDLE handles[3] = {FCloseEvent, s.commOv.hEvent, s.readOv.hEvent};
    for (;;) {
      const DWORD r = WaitForMultipleObjects(3, handles, FALSE, HeldLineErrorsDueIn());
      if (r == WAIT_TIMEOUT) {
        PostHeldLineErrors();
        continue;
      }
      if (r == WAIT_FAILED) {
        Report("Read WAIT_FAILED: ");
        PostHangupRequest();
        break;
      }
      if (r == WAIT_OBJECT_0) {
        OutputDebugStringA("Time to Exit");
        break;
      }
      if (r != WAIT_OBJECT_0 + 1 && r != WAIT_OBJECT_0 + 2) {
        WriteCommsLog(("Unexpected Wait return value " + std::to_string(r)).c_str());
        PostHangupRequest();
        break;
      }
      // The mode is read afresh at every wake-up.
      if (!FOverlappedMode) {
        if (!s.retired) RetireOverlappedOperations(s);
        BlockingWakeUp(s.commOv, s.readOv);
      } else if (!OverlappedWakeUp(s, r == WAIT_OBJECT_0 + 1)) {
        break;
      }
    }
  }

  WriteCommsLog("Read thread shutting down");
  PurgeComm(FCommFile, PURGE_RXABORT | PURGE_RXCLEAR);
  // No operation may outlive the records on this stack.
  if (s.readPending) comm32::CancelAndCollect(FCommFile, s.readOv);
  if (s.commPending) comm32::CancelAndCollect(FCommFile, s.commOv);
  if (s.readOv.hEvent != nullptr) CloseHandle(s.readOv.hEvent);
  if (s.commOv.hEvent != nullptr) CloseHandle(s.commOv.hEvent);
}

// The set-up: both events, the port's mask, the first comm-event wait and
// the first read. A failure is reported and a hang-up request posted.
bool TReadThread::StartOperations(TState& s) {
  s.readOv.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (s.readOv.hEvent != nullptr) s.commOv.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  const char* failed = nullptr;
  if (s.readOv.hEvent == nullptr || s.commOv.hEvent == nullptr) {
    failed = "Unable to CreateEvent: ";
  } else if (!SetPortMask(EV_RXCHAR | EV_ERR)) {
    failed = "Unable to SetCommMask: ";
  } else if (!SetupCommEvent(s)) {
    failed = "Unable to SetupCommEvent1: ";
  } else if (!SetupReadEvent(s)) {
    failed = "Unable to SetupReadEvent: ";
  } else {
    return true;
  }
  Report(failed);
  PostHangupRequest();
  return false;
}

// A step of the wait loop failed: the hang-up request first, then the report
// (with the last error the thread holds after the post), if any. False.
bool TReadThread::GiveUp(const char* report) {
  PostHangupRequest();
  if (report != nullptr) Report(report);
  return false;
}

// Collects the operation that completed and starts it again; false ends the
// thread.
bool TReadThread::OverlappedWakeUp(TState& s, bool commEvent) {
  if (s.retired) {
    // Back from blocking mode: start both operations again.
    s.retired = false;
    ResetEvent(s.commOv.hEvent);
    ResetEvent(s.readOv.hEvent);
    if (!SetupCommEvent(s)) return GiveUp("Unable to SetupCommEvent2: ");
    return SetupReadEvent(s) || GiveUp(nullptr);
  }
  if (commEvent) {
    if (!HandleCommEvent(s, true)) return GiveUp("Unable HandleCommEvent: ");
    if (s.mask == 0) {
      // Ended without an event: renewed after the next read, so a port that
      // ends every wait at once cannot keep the thread busy.
      ResetEvent(s.commOv.hEvent);
      return true;
    }
    return SetupCommEvent(s) || GiveUp("Unable to SetupCommEvent2: ");
  }
  if (!HandleReadEvent(s)) return GiveUp("Unable to HandleReadEvent: ");
  if (!SetupReadEvent(s)) return GiveUp(nullptr);
  if (!s.commPending && !SetupCommEvent(s)) return GiveUp("Unable to SetupCommEvent2: ");
  return true;
}

bool TReadThread::SetupReadEvent(TState& s) {
  for (;;) {
    if (StopRequested()) return false;
    s.count = 0;
    if (comm32::IssueRead(FCommFile, s.buffer, comm32::kReceiveBufferSize, &s.count, &s.readOv)) {
      OperationCompleted();
      WriteCommsLog("Data waiting for ReadFile: ");
      if (!DeliverReceivedData(s.buffer, s.count)) return false;
      continue;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      return Outstanding(s.readPending, "Waiting for data from comm connection.");
    }
    if (IsLineErrorAbort(error) && RecoverAbortedOperation()) continue;
    return PortCallFailed(error, "Unexpected ReadFile error: ", TAfterFailure::HangUp);
  }
}

bool TReadThread::HandleReadEvent(TState& s) {
  s.readPending = false;
  if (GetOverlappedResult(FCommFile, &s.readOv, &s.count, FALSE)) {
    OperationCompleted();
    return DeliverReceivedData(s.buffer, s.count);
  }
  const DWORD error = GetLastError();
  if (IsLineErrorAbort(error)) {
    // What the read took before the abort is delivered; the next read is
    // started as after any other.
    if (!DeliverReceivedData(s.buffer, s.count)) return false;
    if (RecoverAbortedOperation()) return true;
  }
  return PortCallFailed(error,
                        "Unexpected GetOverlappedResult Read Error: ", TAfterFailure::HangUp);
}

bool TReadThread::SetupCommEvent(TState& s) {
  if (comm32::PortEventsPolled()) return CheckLineErrors(s);
  for (;;) {
    if (StopRequested()) return false;
    s.mask = 0;
    DWORD injected = 0;
    if (comm32::IssueWaitCommEvent(FCommFile, &s.mask, &s.commOv, injected)) {
      if (injected == 0) OperationCompleted();
      WriteCommsLog("Event (Error) waiting before WaitCommEvent.");
      if (!HandleCommEvent(s, false, injected)) return false;
      if ((s.mask & EV_ERR) == 0) {
        // A wait that ends at once without a line error (a port that
        // reports queued bytes again and again) is renewed after the next
        // read instead of in a loop.
        ResetEvent(s.commOv.hEvent);
        return true;
      }
      continue;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      return Outstanding(s.commPending, "Waiting for a CommEvent (Error) to occur.");
    }
    if (IsLineErrorAbort(error) && RecoverAbortedOperation()) continue;
    return PortCallFailed(error, "Unexpected WaitCommEvent error: ");
  }
}

bool TReadThread::HandleCommEvent(TState& s, bool fromOverlapped, DWORD injected) {
  if (fromOverlapped) {
    s.commPending = false;
    DWORD unused = 0;
    if (GetOverlappedResult(FCommFile, &s.commOv, &unused, FALSE)) {
      OperationCompleted();
    } else {
      const DWORD error = GetLastError();
      if (error != ERROR_OPERATION_ABORTED) {
        return PortCallFailed(error, "Unexpected GetOverlappedResult for WaitCommEvent: ");
      }
      // The wait ended without an event; one that a line error aborted
      // counts as an aborted read does.
      if (IsLineErrorAbort(error) && !RecoverAbortedOperation()) {
        return PortCallFailed(error, "Unexpected GetOverlappedResult for WaitCommEvent: ");
      }
      s.mask = 0;
    }
  }
  if (s.mask & EV_ERR) {
    DWORD errors = 0;
    if (!ClearCommError(FCommFile, &errors, nullptr)) {
      return PortCallFailed(GetLastError(), "ClearCommError: ");
    }
    NoteLineErrors(errors | injected);
    return true;
  }
  WriteCommsLog(("comm event " + std::to_string(s.mask)).c_str());
  return true;
}

bool TReadThread::CheckLineErrors(TState& s) {
  if (StopRequested()) return false;
  // No wait is left pending: the error word is looked at now, as a wait that
  // ended with EV_ERR would, and again after every read. The comm event
  // stays reset; in blocking mode it stands for a wait that has completed,
  // so that the first wake-up comes at once.
  if (FOverlappedMode) {
    ResetEvent(s.commOv.hEvent);
  } else {
    SetEvent(s.commOv.hEvent);
  }
  DWORD errors = 0;
  if (!ClearLineErrors(errors)) return false;
  if (errors == 0) WriteCommsLog("Waiting for a CommEvent (Error) to occur.");
  return true;
}

bool TReadThread::DeliverReceivedData(const char* buffer, DWORD count) {
  if (count == 0) return true;
  WriteCommsLog("Got something from Comm port!!!");
  WriteCommsLog(std::to_string(count).c_str());
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, count + 1));
  if (block == nullptr) {
    Report("LocalAlloc: ");
    return true;
  }
  std::memcpy(block, buffer, count);
  WriteCommsLog(block);
  if (PostCommData(block, count)) return true;
  LocalFree(block);
  return false;
}

void TReadThread::RetireOverlappedOperations(TState& s) {
  if (s.commPending) {
    comm32::CancelAndCollect(FCommFile, s.commOv);
    s.commPending = false;
  }
  if (s.readPending) {
    // The bytes the read has taken so far are delivered, not lost.
    s.count = comm32::CancelAndCollect(FCommFile, s.readOv);
    s.readPending = false;
    DeliverReceivedData(s.buffer, s.count);
  }
  s.retired = true;
}
