// Opening a port's device with a limit on the caller's wait.
//
// CreateFile on a Bluetooth serial port makes the connection to the remote
// device ("For client ports, the physical connection is created only when
// the device is open ... using the CreateFile API": Microsoft, "COM Port
// Emulation Facility",
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms863325(v=msdn.10)),
// so with the device out of reach it blocks for seconds. The open therefore
// runs on a short-lived thread; the caller waits at most its limit, and a
// handle that arrives later is closed by that thread.
#pragma once

#include <windows.h>

#include <string>

namespace comm32 {

struct TDeviceOpen {
  enum class TResult { Opened, Failed, TimedOut, NoThread };
  TResult result = TResult::Failed;
  HANDLE file = INVALID_HANDLE_VALUE;  // set when Opened
  DWORD error = 0;                     // the last error of Failed and NoThread
};

// CreateFileA(name) for reading and writing, exclusive, overlapped, waited
// for at most limitMs. The thread keeps this module loaded until it ends, so
// it may outlive the caller and its component. Test seams: delayMs holds the
// open back that long; refuseThread makes creating the thread fail.
TDeviceOpen OpenDeviceWithin(const std::string& name, DWORD limitMs, DWORD delayMs = 0,
                             bool refuseThread = false);

}  // namespace comm32
