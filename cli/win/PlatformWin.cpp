// Ports on Win32 through TComm32: COM1 .. COM8 and the ports above that
// Windows lists, as the dialog scans them; --port narrows the scan to the
// ports named (COM1 .. COM256).
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <set>

#include "cli/Platform.h"
#include "comm32/CommLogic.h"
#include "comm32/win/Comm32.h"
#include "wfload/CountryTables.h"
#include "wfload/win/HostServices.h"

namespace {

// TComm32 that opens only the ports of a set.
class TSelectedComm32 final : public TComm32 {
 public:
  explicit TSelectedComm32(std::set<int> ports) : ports_(std::move(ports)) {}
  bool OpenPort() override { return Selected(FPort) && TComm32::OpenPort(); }
  void BeginOpenPort() override {
    if (Selected(FPort)) {
      TComm32::BeginOpenPort();
    } else if (FOnOpenDone) {
      FOnOpenDone(false, std::string());
    }
  }
  bool Selected(int port) const { return ports_.count(port) != 0; }
  const std::set<int>& Ports() const { return ports_; }

 private:
  std::set<int> ports_;
};

class TWinPortSet final : public TPortSet {
 public:
  TWinPortSet(std::set<int> ports, bool narrowed) : port_(std::move(ports)), narrowed_(narrowed) {}

  TCommPort& Port() override { return port_; }
  std::string Name(int slot) const override {
    return port_.Selected(slot) ? "COM" + std::to_string(slot) : std::string();
  }
  std::vector<std::string> FormWords() const override {
    // The scan begins at the first port named.
    if (!narrowed_ || port_.Ports().empty()) return {};
    return {"COM=" + std::to_string(*port_.Ports().begin())};
  }
  std::vector<int> Listed() const override {
    return std::vector<int>(port_.Ports().begin(), port_.Ports().end());
  }

 private:
  TSelectedComm32 port_;
  bool narrowed_;
};

}  // namespace

std::unique_ptr<TPortSet> MakePortSet(const std::vector<std::string>& ports, TEventLoop&,
                                      std::string& error) {
  std::set<int> named;
  for (const std::string& name : ports) {
    const int number = comm32::PortNumber(name);
    if (number == 0) {
      error = "'" + name + "' is not a port COM1 to COM256";
      return nullptr;
    }
    named.insert(number);
  }
  const bool narrowed = !named.empty();
  if (!narrowed) {
    // The ports the dialog walks: COM1 .. COM8, then those Windows lists.
    for (int n = 1; n <= 8; ++n) named.insert(n);
    for (int n : ListedSerialPorts()) named.insert(n);
  }
  return std::make_unique<TWinPortSet>(std::move(named), narrowed);
}

std::string DefaultIniFile() { return CountryIniPath(SystemDirectoryPath()); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
