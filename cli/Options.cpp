#include "cli/Options.h"

const char kUsage[] =
    "usage: ctyset2 [--ini FILE] [--port DEVICE]... [--json] detect\n"
    "       ctyset2 [--ini FILE] [--port DEVICE]... [--json] set COUNTRY\n"
    "       ctyset2 [--ini FILE] [--json] list [FAMILY]\n";

namespace {

constexpr size_t kMaxPorts = 8;

struct TCommandWord {
  const char* word;
  TCommand command;
  bool takesName;  // the words after it form one name (blanks between them)
  bool needsName;
};

const TCommandWord kCommands[] = {
    {"detect", TCommand::Detect, false, false},
    {"set", TCommand::Set, true, true},
    {"list", TCommand::List, true, false},
};

// "--ini FILE", "--ini=FILE", "--port DEVICE" or "--port=DEVICE" at
// words[i]; moves `i` past a value given as the next word.
bool TakeValueOption(const std::vector<std::string>& words, size_t& i, TOptions& options,
                     std::string& error) {
  const std::string& word = words[i];
  const size_t equals = word.find('=');
  const std::string name = word.substr(0, equals);
  if (name != "--ini" && name != "--port") {
    error = "unknown option '" + word + "'";
    return false;
  }
  std::string value;
  if (equals != std::string::npos) {
    value = word.substr(equals + 1);
  } else if (i + 1 < words.size()) {
    value = words[++i];
  }
  if (value.empty()) {
    error = name + " needs a value";
    return false;
  }
  if (name == "--ini") {
    options.ini = value;
  } else if (options.ports.size() == kMaxPorts) {
    error = "at most 8 ports";
    return false;
  } else {
    options.ports.push_back(value);
  }
  return true;
}

// The command and the words after it, checked against what it takes.
bool TakeCommand(const TCommandWord* command, const std::vector<std::string>& args,
                 TOptions& options, std::string& error) {
  if (!command) {
    error = "no command";
    return false;
  }
  options.command = command->command;
  if (!command->takesName && !args.empty()) {
    error = std::string(command->word) + " takes no argument";
    return false;
  }
  for (const std::string& arg : args)
    options.argument += (options.argument.empty() ? "" : " ") + arg;
  if (command->needsName && options.argument.empty()) {
    error = std::string(command->word) + " needs a name";
    return false;
  }
  if (options.command == TCommand::List && !options.ports.empty()) {
    error = "list takes no --port";
    return false;
  }
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& words, TOptions& options, std::string& error) {
  options = TOptions();
  const TCommandWord* command = nullptr;
  std::vector<std::string> args;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      if (command) {
        args.push_back(word);
        continue;
      }
      for (const TCommandWord& c : kCommands)
        if (word == c.word) command = &c;
      if (!command) {
        error = "unknown command '" + word + "'";
        return false;
      }
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      options.command = TCommand::Help;
      return true;
    }
    if (word == "--version") {
      options.command = TCommand::Version;
      return true;
    }
    if (word == "--json") {
      options.json = true;
      continue;
    }
    if (!TakeValueOption(words, i, options, error)) return false;
  }
  return TakeCommand(command, args, options, error);
}
