// Opening a port's device on a thread of its own.
//
// CreateFile on a Bluetooth serial port makes the connection to the remote
// device ("For client ports, the physical connection is created only when
// the device is open ... using the CreateFile API": Microsoft, "COM Port
// Emulation Facility",
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms863325(v=msdn.10)),
// so it may take seconds. The open therefore runs on a short-lived thread
// that tells the caller when it is done; a caller that stops waiting abandons
// it, and a handle that arrives after that is closed by the thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace comm32 {

struct TDeviceOpen {
  enum class TResult { Opened, Failed, TimedOut, NoThread };
  TResult result = TResult::Failed;
  HANDLE file = INVALID_HANDLE_VALUE;  // set when Opened
  DWORD error = 0;                     // the last error of Failed and NoThread
};

// What Windows does and Wine does not, made to happen (tests).
struct TOpenSeams {
  DWORD delayMs = 0;          // the open is held back this long
  DWORD failWith = 0;         // the open fails with this error, device untouched
  bool refuseThread = false;  // creating the thread fails
};

struct TOpenRequest;

// One open of a device: CreateFileA(name) for reading and writing,
// exclusive, overlapped. The thread keeps this module loaded until it ends,
// so it may outlive the caller and its component.
class TPendingOpen {
 public:
  // Starts the open; once CreateFileA has returned, `message` is posted to
  // `window` (when given) with wParam `tag`, unless the open was abandoned.
  TPendingOpen(const std::string& name, HWND window, UINT message, WPARAM tag,
               const TOpenSeams& seams);
  // Abandons an open whose outcome was not taken.
  ~TPendingOpen();
  TPendingOpen(const TPendingOpen&) = delete;
  TPendingOpen& operator=(const TPendingOpen&) = delete;

  // The thread runs (false: Take gives NoThread).
  bool Started() const { return request_ != nullptr; }
  // Waits at most ms for CreateFileA to return.
  void Wait(DWORD ms) const;
  // The outcome, once: Opened (the handle is the caller's), Failed, NoThread,
  // or TimedOut when the open has not ended, which abandons it: the seam's
  // delay ends, a CreateFileA under way is asked to give up
  // (CancelSynchronousIo) and a handle that still comes is closed.
  TDeviceOpen Take();

 private:
  std::shared_ptr<TOpenRequest> request_;
  TDeviceOpen early_;  // NoThread
  bool taken_ = false;
};

// The same waited for at most limitMs.
TDeviceOpen OpenDeviceWithin(const std::string& name, DWORD limitMs, const TOpenSeams& seams = {});

}  // namespace comm32
