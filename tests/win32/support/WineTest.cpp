#include "WineTest.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace winetest {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    std::fprintf(stderr, "%s is not set: run this test through ctest\n", name);
    std::abort();
  }
  return value;
}

// Launches a Linux program; Wine gives no handle to wait on.
void LaunchUnix(const std::string& commandLine) {
  std::string cmd = commandLine;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    throw std::runtime_error("cannot launch " + commandLine);
  if (pi.hThread != nullptr) CloseHandle(pi.hThread);
  if (pi.hProcess != nullptr) CloseHandle(pi.hProcess);
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

std::string BuildDir() { return Env("CTYSET2_BUILD"); }
std::string SourceDir() { return Env("CTYSET2_SOURCE"); }

std::string ToWindowsPath(const std::string& unixPath) {
  std::string out = "Z:" + unixPath;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string ReadUnixFile(const std::string& unixPath) {
  std::ifstream in(ToWindowsPath(unixPath), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool UnixFileExists(const std::string& unixPath) {
  return GetFileAttributesA(ToWindowsPath(unixPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string PortLink(int com) { return BuildDir() + "/ports/com" + std::to_string(com); }

std::string AppletPath() {
  const char* other = std::getenv("CTYSET2_APPLET");
  return ToWindowsPath(other && *other ? other : BuildDir() + "/ctyset2/ctyset2.cpl");
}

std::vector<std::string> SimCommands(const std::string& stateDir) {
  std::vector<std::string> lines;
  std::istringstream in(ReadUnixFile(stateDir + "/commands"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int SimCountryCode(const std::string& stateDir) {
  const std::string text = ReadUnixFile(stateDir + "/country");
  char* end = nullptr;
  const long code = std::strtol(text.c_str(), &end, 16);
  return end == text.c_str() ? -1 : static_cast<int>(code);
}

SimModem::SimModem(int com, const std::string& options)
    : com_(com), state_(BuildDir() + "/sim/com" + std::to_string(com)) {
  if (com < 1 || com > kMappedPorts) throw std::invalid_argument("COM port out of range");
  for (const char* marker : {"/started", "/failed", "/stopped"})
    DeleteFileA(ToWindowsPath(state_ + marker).c_str());
  LaunchUnix("/bin/bash " + Quote(SourceDir() + "/tests/win32/support/simctl.sh") + " start " +
             Quote(Env("CTYSET2_MODEMSIM")) + " " + Quote(PortLink(com)) + " " + Quote(state_) +
             " " + options);
  const bool settled = WaitUntil(
      [&] { return UnixFileExists(state_ + "/started") || UnixFileExists(state_ + "/failed"); },
      60000);
  if (!settled || !UnixFileExists(state_ + "/started"))
    throw std::runtime_error("modemsim on COM" + std::to_string(com) + " did not start: " + Log());
  running_ = true;
}

SimModem::~SimModem() { Stop(); }

void SimModem::Stop() {
  if (!running_) return;
  running_ = false;
  DeleteFileA(ToWindowsPath(state_ + "/stopped").c_str());
  try {
    LaunchUnix("/bin/bash " + Quote(SourceDir() + "/tests/win32/support/simctl.sh") + " stop " +
               Quote(state_) + " " + Quote(PortLink(com_)));
  } catch (const std::exception&) {
    return;  // wine_cleanup stops it at the end of the run
  }
  WaitUntil([&] { return UnixFileExists(state_ + "/stopped"); }, 60000);
}

std::string SimModem::Received() const { return ReadUnixFile(state_ + "/received"); }
std::string SimModem::Sent() const { return ReadUnixFile(state_ + "/sent"); }
std::string SimModem::Log() const { return ReadUnixFile(state_ + "/log"); }

std::vector<std::string> SimModem::Commands() const { return SimCommands(state_); }
int SimModem::CountryCode() const { return SimCountryCode(state_); }

Process::Process(const std::string& commandLine) {
  std::string cmd = commandLine;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info_))
    info_ = {};
}

Process::~Process() {
  if (info_.hProcess != nullptr) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 1);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
  }
  if (info_.hThread != nullptr) CloseHandle(info_.hThread);
}

bool Process::WaitExit(DWORD timeoutMs) {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, timeoutMs) == 0;
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (info_.hProcess != nullptr) GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

std::string ControlPanelCommand(const std::string& appletPath) {
  // A process of either flavour starts the host of its own flavour.
  return "control.exe " + Quote(appletPath);
}

namespace {

struct TWindowQuery {
  const std::function<bool(HWND)>& match;
  HWND found;
};

BOOL CALLBACK StopAtMatch(HWND hwnd, LPARAM param) {
  auto* q = reinterpret_cast<TWindowQuery*>(param);
  if (!q->match(hwnd)) return TRUE;
  q->found = hwnd;
  return FALSE;
}

}  // namespace

HWND FindChildWindow(HWND parent, const std::function<bool(HWND)>& match) {
  TWindowQuery q{match, nullptr};
  EnumChildWindows(parent, StopAtMatch, reinterpret_cast<LPARAM>(&q));
  return q.found;
}

HWND WaitForTopWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
  TWindowQuery q{match, nullptr};
  WaitUntil(
      [&] {
        EnumWindows(StopAtMatch, reinterpret_cast<LPARAM>(&q));
        return q.found != nullptr;
      },
      timeoutMs);
  return q.found;
}

HWND WaitForWindow(const std::string& caption, DWORD processId, DWORD timeoutMs) {
  return WaitForTopWindow(
      [&](HWND hwnd) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        return (processId == 0 || pid == processId) && IsWindowVisible(hwnd) &&
               WindowText(hwnd) == caption;
      },
      timeoutMs);
}

HWND FindChild(HWND parent, const std::string& className, const std::string& text) {
  return FindChildWindow(parent, [&](HWND hwnd) {
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return (className.empty() || lstrcmpiA(name, className.c_str()) == 0) &&
           WindowText(hwnd) == text;
  });
}

std::string WindowText(HWND hwnd) {
  // WM_GETTEXT, which GetWindowText sends only to windows of its own process:
  // for a control of another process (an edit, a combo box) it would read a
  // caption the control does not keep.
  // A window whose thread is busy (a loaded machine) answers late, not never:
  // ask again until it answers or goes.
  char buf[512] = {};
  DWORD_PTR copied = 0;
  const ULONGLONG end = GetTickCount64() + 60000;
  while (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                              SMTO_NORMAL, 5000, &copied)) {
    if (!IsWindow(hwnd) || GetTickCount64() >= end) return std::string();
  }
  return buf;
}

namespace {
const char kSerialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
}

ListedPort::ListedPort(int com) : value_("\\Device\\Serial" + std::to_string(com - 1)) {
  const std::string data = "COM" + std::to_string(com);
  if (RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSerialComm, value_.c_str(), REG_SZ, data.c_str(),
                      static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS)
    throw std::runtime_error("cannot list " + data);
}

ListedPort::~ListedPort() { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSerialComm, value_.c_str()); }

}  // namespace winetest
