// What differs between the systems: the ports a scan may use, the default
// INI file and the console.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/EventLoop.h"
#include "comm32/CommPort.h"

// The port the form drives and what its port numbers stand for.
class TPortSet {
 public:
  virtual ~TPortSet() = default;
  virtual TCommPort& Port() = 0;
  // The device behind port number `slot` as the user names it; empty when the
  // scan passes the number over.
  virtual std::string Name(int slot) const = 0;
  // Words for the form's command line (where the scan begins).
  virtual std::vector<std::string> FormWords() const { return {}; }
  // Port numbers above 8 that the scan may walk (IFormHost::SerialPorts).
  virtual std::vector<int> Listed() const { return {}; }
  // A device the user named that was refused (not a terminal, held by
  // another program, ...): bad input that ends the run. Empty when none.
  virtual std::string Fault() const { return {}; }

  // A device of the scan that was passed over, in words.
  std::function<void(const std::string&)> OnNote;
};

// The ports for the --port values (none: the platform's own list); null with
// the reason in `error` for a value that names no port.
std::unique_ptr<TPortSet> MakePortSet(const std::vector<std::string>& ports, TEventLoop& loop,
                                      std::string& error);

std::string DefaultIniFile();

bool StderrIsTerminal();
