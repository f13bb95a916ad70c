// Ports on Win32: COM1 .. COM8 through TComm32, as the dialog scans them;
// --port narrows the scan to the ports named.
#include <windows.h>

#include <io.h>

#include <cctype>
#include <cstdio>

#include "cli/Platform.h"
#include "comm32/win/Comm32.h"
#include "wfload/CountryTables.h"
#include "wfload/win/HostServices.h"

namespace {

// TComm32 that opens only the ports of a set.
class TSelectedComm32 final : public TComm32 {
 public:
  explicit TSelectedComm32(unsigned mask) : mask_(mask) {}
  bool OpenPort() override { return Selected(FPort) && TComm32::OpenPort(); }
  bool Selected(int slot) const { return slot >= 1 && slot <= 8 && (mask_ >> slot & 1u); }

 private:
  unsigned mask_;
};

class TWinPortSet final : public TPortSet {
 public:
  TWinPortSet(unsigned mask, bool narrowed) : port_(mask), narrowed_(narrowed) {}

  TCommPort& Port() override { return port_; }
  std::string Name(int slot) const override {
    return port_.Selected(slot) ? "COM" + std::to_string(slot) : std::string();
  }
  std::vector<std::string> FormWords() const override {
    // The scan begins at the first port named.
    for (int slot = 1; narrowed_ && slot <= 8; ++slot)
      if (port_.Selected(slot)) return {"COM=" + std::to_string(slot)};
    return {};
  }

 private:
  TSelectedComm32 port_;
  bool narrowed_;
};

// 1 .. 8 for "COM1" .. "COM8" (any case), else 0.
int PortNumber(const std::string& name) {
  if (name.size() != 4) return 0;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  return name[3] >= '1' && name[3] <= '8' ? name[3] - '0' : 0;
}

}  // namespace

std::unique_ptr<TPortSet> MakePortSet(const std::vector<std::string>& ports, TEventLoop&,
                                      std::string& error) {
  unsigned mask = 0;
  for (const std::string& name : ports) {
    const int number = PortNumber(name);
    if (number == 0) {
      error = "'" + name + "' is not a port COM1 to COM8";
      return nullptr;
    }
    mask |= 1u << number;
  }
  const bool narrowed = mask != 0;
  return std::make_unique<TWinPortSet>(narrowed ? mask : 0x1FEu, narrowed);
}

std::string DefaultIniFile() { return CountryIniPath(SystemDirectoryPath()); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
