// ctyset2 on the command line: finds the modem, reads and sets its country
// with the dialog's own logic.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Options.h"

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  bool json = false;
  for (const std::string& word : words) json = json || word == "--json";
  try {
    TOptions options;
    std::string error;
    if (!ParseOptions(words, options, error)) return ReportUsageError(json, error);
    if (options.command == TCommand::Help) {
      std::printf("%s", kUsage);
      return kExitOk;
    }
    if (options.command == TCommand::Version) {
      std::printf("ctyset2 %s\n", CTYSET2_VERSION);
      return kExitOk;
    }
    return RunCommand(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ctyset2: %s\n", e.what());
    return kExitInternal;
  }
}
