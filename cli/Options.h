// The command line of the program:
//   ctyset2 [--ini FILE] [--port DEVICE]... [--json] detect
//   ctyset2 [--ini FILE] [--port DEVICE]... [--json] set COUNTRY
//   ctyset2 [--ini FILE] [--json] list [FAMILY]
// Options may also follow the command word; "--opt=value" works too. The
// words of COUNTRY or FAMILY may be given apart: they are joined with blanks.
#pragma once

#include <string>
#include <vector>

enum class TCommand { None, Detect, Set, List, Help, Version };

struct TOptions {
  TCommand command = TCommand::None;
  std::string ini;                 // empty: the platform's default
  std::vector<std::string> ports;  // in the order given
  bool json = false;
  std::string argument;  // COUNTRY of set, FAMILY of list (optional)
};

// Parses the words after the program name. On a usage error returns false
// with the reason in `error`.
bool ParseOptions(const std::vector<std::string>& words, TOptions& options, std::string& error);

extern const char kUsage[];
