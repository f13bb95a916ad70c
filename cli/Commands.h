// The program's commands: detect, set and list. Each prints its result (on
// stdout: lines for people, or one JSON object) and progress on stderr, and
// returns the exit code.
#pragma once

#include "cli/Options.h"

enum TExitCode {
  kExitOk = 0,
  kExitInternal = 1,       // an error raised where none should be
  kExitUsage = 2,          // bad usage or input
  kExitNoModem = 3,        // no modem on any port
  kExitUnknownFamily = 4,  // a modem whose family the INI file does not name
  kExitNoCountry = 5,      // no such country in the family's table
  kExitFailed = 6,         // the modem refused the country or did not answer
  kExitInterrupted = 130,  // Ctrl-C or a termination request
};

int RunCommand(const TOptions& options);

// Reports a usage error as the command would report bad input.
int ReportUsageError(bool json, const std::string& error);
