#include <cstring>
#include <string>

#include "comm32/win/CommThreads.h"
#include "comm32/win/CommsLogWin.h"

namespace {

const char kInvalidHandleLine[] =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";

// Reports Text with the thread's current last error.
void Report(const char* text) { LogLastError(GetLastError(), text); }

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

void TReadThread::LogInvalidHandle() { WriteCommsLog(kInvalidHandleLine); }

void TReadThread::Execute() {
  TState s;
  s.readOv.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (s.readOv.hEvent != nullptr) s.commOv.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  const HANDLE handles[3] = {FCloseEvent, s.commOv.hEvent, s.readOv.hEvent};

  if (s.readOv.hEvent == nullptr || s.commOv.hEvent == nullptr) {
    Report("Unable to CreateEvent: ");
    PostHangupRequest();
  } else if (!SetCommMask(FCommFile, EV_RXCHAR | EV_ERR)) {
    Report("Unable to SetCommMask: ");
    PostHangupRequest();
  } else if (!SetupCommEvent(s)) {
    Report("Unable to SetupCommEvent1: ");
    PostHangupRequest();
  } else if (!SetupReadEvent(s)) {
    Report("Unable to SetupReadEvent: ");
    PostHangupRequest();
  } else {
    for (bool running = true; running;) {
      const DWORD r = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
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
      if (!FOverlappedMode) {
        BlockingWakeUp(s);
        continue;
      }
      if (s.retired) {
        // Back from blocking mode: start both operations again.
        s.retired = false;
        ResetEvent(s.commOv.hEvent);
        ResetEvent(s.readOv.hEvent);
        if (!SetupCommEvent(s)) {
          PostHangupRequest();
          Report("Unable to SetupCommEvent2: ");
          break;
        }
        if (!SetupReadEvent(s)) {
          PostHangupRequest();
          break;
        }
        continue;
      }
      if (r == WAIT_OBJECT_0 + 1) {
        if (!HandleCommEvent(s, true)) {
          PostHangupRequest();
          Report("Unable HandleCommEvent: ");
          break;
        }
        if (s.mask == 0) {
          // Ended without an event: renewed after the next read, so a port
          // that ends every wait at once cannot keep the thread busy.
          ResetEvent(s.commOv.hEvent);
        } else if (!SetupCommEvent(s)) {
          PostHangupRequest();
          Report("Unable to SetupCommEvent2: ");
          break;
        }
      } else {
        if (!HandleReadEvent(s)) {
          PostHangupRequest();
          Report("Unable to HandleReadEvent: ");
          break;
        }
        if (!SetupReadEvent(s)) {
          PostHangupRequest();
          break;
        }
        if (!s.commPending && !SetupCommEvent(s)) {
          PostHangupRequest();
          Report("Unable to SetupCommEvent2: ");
          break;
        }
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

bool TReadThread::SetupReadEvent(TState& s) {
  for (;;) {
    if (StopRequested()) return false;
    s.count = 0;
    if (ReadFile(FCommFile, s.buffer, comm32::kReceiveBufferSize, &s.count, &s.readOv)) {
      WriteCommsLog("Data waiting for ReadFile: ");
      if (!DeliverReceivedData(s.buffer, s.count)) return false;
      continue;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      s.readPending = true;
      WriteCommsLog("Waiting for data from comm connection.");
      return true;
    }
    if (error == ERROR_INVALID_HANDLE) {
      LogInvalidHandle();
      return false;
    }
    LogLastError(error, "Unexpected ReadFile error: ");
    PostHangupRequest();
    return false;
  }
}

bool TReadThread::HandleReadEvent(TState& s) {
  s.readPending = false;
  if (GetOverlappedResult(FCommFile, &s.readOv, &s.count, FALSE)) {
    return DeliverReceivedData(s.buffer, s.count);
  }
  const DWORD error = GetLastError();
  if (error == ERROR_INVALID_HANDLE) {
    LogInvalidHandle();
    return false;
  }
  LogLastError(error, "Unexpected GetOverlappedResult Read Error: ");
  PostHangupRequest();
  return false;
}

bool TReadThread::SetupCommEvent(TState& s) {
  if (comm32::PendingPortEventWaitsLeakThreads()) return CheckLineErrors(s);
  for (;;) {
    if (StopRequested()) return false;
    s.mask = 0;
    if (WaitCommEvent(FCommFile, &s.mask, &s.commOv)) {
      WriteCommsLog("Event (Error) waiting before WaitCommEvent.");
      if (!HandleCommEvent(s, false)) return false;
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
      s.commPending = true;
      WriteCommsLog("Waiting for a CommEvent (Error) to occur.");
      return true;
    }
    if (error == ERROR_INVALID_HANDLE) {
      LogInvalidHandle();
      return false;
    }
    LogLastError(error, "Unexpected WaitCommEvent error: ");
    return false;
  }
}

bool TReadThread::HandleCommEvent(TState& s, bool fromOverlapped) {
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, 256));
  if (block == nullptr) {
    Report("LocalAlloc: ");
    return false;
  }
  if (fromOverlapped) {
    s.commPending = false;
    DWORD unused = 0;
    if (!GetOverlappedResult(FCommFile, &s.commOv, &unused, FALSE)) {
      const DWORD error = GetLastError();
      if (error == ERROR_OPERATION_ABORTED) {
        // The wait ended without an event.
        s.mask = 0;
      } else {
        if (error == ERROR_INVALID_HANDLE) {
          LogInvalidHandle();
        } else {
          LogLastError(error, "Unexpected GetOverlappedResult for WaitCommEvent: ");
        }
        LocalFree(block);
        return false;
      }
    }
  }
  if (s.mask & EV_ERR) {
    DWORD errors = 0;
    if (!ClearCommError(FCommFile, &errors, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_INVALID_HANDLE) {
        LogInvalidHandle();
      } else {
        LogLastError(error, "ClearCommError: ");
      }
      LocalFree(block);
      return false;
    }
    PostLineErrors(block, errors);
    return true;
  }
  WriteCommsLog(("comm event " + std::to_string(s.mask)).c_str());
  LocalFree(block);
  return true;
}

void TReadThread::PostLineErrors(char* block, DWORD errors) {
  const std::string text = comm32::CommErrorEventText(errors);
  const DWORD length = static_cast<DWORD>(text.size() < 255 ? text.size() : 255);
  std::memcpy(block, text.data(), length);
  if (!PostCommData(block, length)) LocalFree(block);
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
  if (!ClearCommError(FCommFile, &errors, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_HANDLE) {
      LogInvalidHandle();
    } else {
      LogLastError(error, "ClearCommError: ");
    }
    return false;
  }
  if (errors == 0) {
    WriteCommsLog("Waiting for a CommEvent (Error) to occur.");
    return true;
  }
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, 256));
  if (block == nullptr) {
    Report("LocalAlloc: ");
    return false;
  }
  PostLineErrors(block, errors);
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

void TReadThread::BlockingWakeUp(TState& s) {
  if (!s.retired) RetireOverlappedOperations(s);
  DWORD mask = 0;
  if (!comm32::WaitPortEvent(FCommFile, FCloseEvent, s.commOv, mask)) return;
  if (mask & EV_RXCHAR) {
    comm32::RunChunkSeries([this, &s] { return ReadChunk(s); });
  } else if (mask == 0) {
    WaitForSingleObject(FCloseEvent, comm32::kEmptyEventPauseMs);
  }
}

std::uint16_t TReadThread::ReadChunk(TState& s) {
  char chunk[comm32::kChunkSize];
  DWORD count = 0;
  // A stop ends the series with an empty chunk, even while bytes stream in.
  if (!StopRequested()) {
    if (!ReadFile(FCommFile, chunk, comm32::kChunkSize, &count, &s.readOv)) {
      if (GetLastError() == ERROR_IO_PENDING) {
        if (comm32::WaitOverlapped(FCommFile, FCloseEvent, s.readOv, count) ==
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
    Report("LocalAlloc: ");
    return static_cast<std::uint16_t>(count);
  }
  std::memcpy(block, chunk, count);
  if (!PostCommData(block, count)) LocalFree(block);
  return static_cast<std::uint16_t>(count);
}
