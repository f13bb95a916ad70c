// Ports on POSIX: terminal devices by path, numbered in the order given.
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cli/Platform.h"
#include "comm32/posix/SerialPort.h"

namespace {

constexpr size_t kMaxPorts = 8;

bool IsCharDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Paths matching `pattern`, by the number that ends them.
std::vector<std::string> Numbered(const char* pattern) {
  std::vector<std::string> paths;
  glob_t found{};
  if (::glob(pattern, 0, nullptr, &found) == 0)
    for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
  ::globfree(&found);
  const auto number = [](const std::string& p) {
    const size_t digits = p.find_last_not_of("0123456789") + 1;
    return std::strtol(p.c_str() + digits, nullptr, 10);
  };
  std::sort(paths.begin(), paths.end(),
            [&](const std::string& a, const std::string& b) { return number(a) < number(b); });
  return paths;
}

// The serial devices of the machine: /dev/ttyS0-7, then USB and ACM devices.
std::vector<std::string> DiscoverDevices() {
  std::vector<std::string> devices;
  for (const char* pattern : {"/dev/ttyS[0-7]", "/dev/ttyUSB*", "/dev/ttyACM*"})
    for (const std::string& path : Numbered(pattern))
      if (devices.size() < kMaxPorts && IsCharDevice(path)) devices.push_back(path);
  return devices;
}

class TPosixPortSet final : public TPortSet {
 public:
  TPosixPortSet(std::vector<std::string> devices, bool named, TEventLoop& loop)
      : named_(named), port_(std::move(devices), [&loop](TSerialPort::TTask task) {
          loop.Post(std::move(task));
        }) {
    port_.OnRefused = [this] { Refused(); };
    // Systems that keep UUCP locks elsewhere (/var/spool/locks) name it.
    if (const char* dir = std::getenv("CTYSET2_LOCK_DIR"); dir && *dir) port_.SetLockDirectory(dir);
  }

  TCommPort& Port() override { return port_; }
  std::string Name(int slot) const override {
    const auto& devices = port_.Devices();
    return slot >= 1 && static_cast<size_t>(slot) <= devices.size() ? devices[slot - 1] : "";
  }
  std::string Fault() const override { return fault_; }

 private:
  void Refused() {
    using R = TSerialPort::TRefusal;
    const R refusal = port_.Refusal();
    if (refusal == R::NoDevice || refusal == R::Absent) return;
    const std::string text = port_.Device() + ": " + port_.RefusalText();
    // A device the user named must be usable; one found on the machine that
    // another program holds is only mentioned.
    if (named_)
      fault_ = text;
    else if (refusal == R::Held && OnNote)
      OnNote(text);
  }

  bool named_;
  TSerialPort port_;
  std::string fault_;
};

}  // namespace

std::unique_ptr<TPortSet> MakePortSet(const std::vector<std::string>& ports, TEventLoop& loop,
                                      std::string&) {
  const bool named = !ports.empty();
  return std::make_unique<TPosixPortSet>(named ? ports : DiscoverDevices(), named, loop);
}

std::string DefaultIniFile() { return "/etc/ctyset2/Ctyset2.ini"; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
