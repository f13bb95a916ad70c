// Helpers for test programs that run under Wine: paths of the test tree,
// simulated modems on the COM ports, the Control Panel host and its windows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace winetest {

// Linux paths of the build tree and the source tree (from the test
// environment: CTYSET2_BUILD, CTYSET2_SOURCE). Abort the test when unset.
std::string BuildDir();
std::string SourceDir();

// "/a/b" -> "Z:\a\b" (Wine maps drive Z: to the Linux root).
std::string ToWindowsPath(const std::string& unixPath);

// Whole file read through its Linux path; empty when it cannot be read.
// A last component named like a device (com1, nul, ...) means the device.
std::string ReadUnixFile(const std::string& unixPath);
bool UnixFileExists(const std::string& unixPath);

// COM ports the harness maps into the build tree (COM1..COM16).
constexpr int kMappedPorts = 16;

// Linux path of the link behind COMn (<build>/ports/comN).
std::string PortLink(int com);

// Windows path of the applet in this build tree, or of the one that
// CTYSET2_APPLET names (a Linux path: a signed copy, say).
std::string AppletPath();

// Polls cond every 20 ms until it holds or timeoutMs passes, pumping this
// thread's messages meanwhile.
template <typename Cond>
bool WaitUntil(Cond cond, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (cond()) return true;
    if (GetTickCount64() >= end) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(20);
  }
}

// State files of a simulator (modemsim --state-dir, Linux path): the command
// lines it received, in order; its current country code, -1 if unknown.
std::vector<std::string> SimCommands(const std::string& stateDir);
int SimCountryCode(const std::string& stateDir);

// A modemsim process serving COMn. The constructor starts it with the given
// extra options (Windows command-line quoting: --ident "MODEM 1") and returns
// once the port can be opened; failures raise std::runtime_error. The
// destructor stops it and removes the link, so COMn cannot be opened again.
class SimModem {
 public:
  explicit SimModem(int com, const std::string& options = "");
  ~SimModem();
  SimModem(const SimModem&) = delete;
  SimModem& operator=(const SimModem&) = delete;

  int Com() const { return com_; }
  const std::string& StateDir() const { return state_; }  // Linux path

  std::string Received() const;               // raw bytes the modem received
  std::string Sent() const;                   // raw bytes the modem sent
  std::vector<std::string> Commands() const;  // command lines, in order
  int CountryCode() const;                    // current country, -1 if unknown
  std::string Log() const;                    // simulator's own output

  // Stops the simulator now (as if the modem were unplugged).
  void Stop();

 private:
  int com_;
  std::string state_;
  bool running_ = false;
};

// Lists COMn among the system's serial ports (the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, as a serial driver does) while it
// lives. The harness maps COM1..COM16 into the build tree and lists only
// COM1..COM8.
class ListedPort {
 public:
  explicit ListedPort(int com);
  ~ListedPort();
  ListedPort(const ListedPort&) = delete;
  ListedPort& operator=(const ListedPort&) = delete;

 private:
  std::string value_;
};

// A process started with CreateProcess; terminated in the destructor if it is
// still running.
class Process {
 public:
  explicit Process(const std::string& commandLine);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Id() const { return info_.dwProcessId; }
  bool WaitExit(DWORD timeoutMs);
  DWORD ExitCode() const;

 private:
  PROCESS_INFORMATION info_ = {};
};

// Wine's Control Panel host of this flavour opening the applet by path.
std::string ControlPanelCommand(const std::string& appletPath);

// First window at any depth below parent for which match holds, or nullptr.
HWND FindChildWindow(HWND parent, const std::function<bool(HWND)>& match);

// First top-level window for which match holds, waiting for one as WaitUntil
// does; nullptr if none appears within timeoutMs.
HWND WaitForTopWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs);

// First visible top-level window with this caption, optionally of one process;
// nullptr if none appears within timeoutMs.
HWND WaitForWindow(const std::string& caption, DWORD processId, DWORD timeoutMs);

// Window of this class and text at any depth below parent (class may be
// empty for any).
HWND FindChild(HWND parent, const std::string& className, const std::string& text);

// Text of a window or control, also of another process (WM_GETTEXT).
std::string WindowText(HWND hwnd);

}  // namespace winetest
