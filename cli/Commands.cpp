#include "cli/Commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/ConsoleHost.h"
#include "cli/Json.h"
#include "cli/Platform.h"
#include "cli/Progress.h"
#include "wfload/Form1.h"

namespace {

const char* CommandName(TCommand command) {
  switch (command) {
    case TCommand::Detect:
      return "detect";
    case TCommand::Set:
      return "set";
    case TCommand::List:
      return "list";
    default:
      return "";
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Index of the name equal to `wanted` ignoring case, or -1.
int FindIgnoringCase(const std::vector<std::string>& names, const std::string& wanted) {
  for (size_t i = 0; i < names.size(); ++i)
    if (Lower(names[i]) == Lower(wanted)) return static_cast<int>(i);
  return -1;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Up to three different names nearest to `wanted`: those containing it first,
// then by edit distance, both ignoring case; ties in the order given.
std::vector<std::string> Closest(const std::vector<std::string>& all, const std::string& wanted) {
  // A country of several families is one suggestion.
  std::vector<std::string> names;
  for (const std::string& name : all)
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  const std::string w = Lower(wanted);
  const auto rank = [&](const std::string& name) {
    const std::string n = Lower(name);
    return std::make_pair(n.find(w) == std::string::npos, EditDistance(n, w));
  };
  std::stable_sort(names.begin(), names.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  if (names.size() > 3) names.resize(3);
  return names;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string Hex2(unsigned code) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", code & 0xFFu);
  return text;
}

// The code of the table's country `name`; empty for none ("UnKnow").
std::string CodeOf(const TCountryTables& tables, const std::string& name) {
  for (int i = 0; i < tables.CtyCount; ++i)
    if (tables.CtyNames[i] == name) return Hex2(tables.CtyCodes[i]);
  return std::string();
}

std::string WithCode(const std::string& country, const std::string& code) {
  return code.empty() ? country : country + " (" + code + ")";
}

// Where the results go.
class TOutput {
 public:
  TOutput(TCommand command, bool json) : json_(json), progress_(stderr, StderrIsTerminal()) {
    object_.TextOrNull("command", CommandName(command));
  }

  TProgress& Progress() { return progress_; }
  TJsonObject& Json() { return object_; }

  // The result: lines on stdout for people, or the JSON object.
  int Result(int code, const std::vector<std::string>& lines) {
    progress_.Finish();
    if (json_) {
      std::printf("%s\n", object_.Number("exit", code).Str().c_str());
    } else {
      for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return code;
  }

  // An error of usage or input: stderr for people, or the JSON object.
  int Error(int code, const std::string& message) {
    progress_.Finish();
    if (json_) {
      object_.Text("message", message);
      return Result(code, {});
    }
    std::fprintf(stderr, "ctyset2: %s\n", message.c_str());
    return code;
  }

 private:
  bool json_;
  TProgress progress_;
  TJsonObject object_;
};

struct TIni {
  std::string path;
  std::string text;
  std::vector<std::string> families;
};

// Reads the INI file; the reason when it is not usable, else empty.
std::string ReadIni(const TOptions& options, TIni& ini) {
  ini.path = options.ini.empty() ? DefaultIniFile() : options.ini;
  if (!ReadIniFile(ini.path, ini.text))
    return "cannot read " + ini.path + ": " + std::strerror(errno);
  ini.families = FamilyNames(ini.text);
  if (ini.families.empty())
    return ini.path + " names no modem family (its lines must end with CR LF)";
  return std::string();
}

int RunList(const TOptions& options, TOutput& out) {
  TIni ini;
  const std::string error = ReadIni(options, ini);
  if (!error.empty()) return out.Error(kExitUsage, error);
  if (options.argument.empty()) {
    out.Json().TextList("families", ini.families);
    return out.Result(kExitOk, ini.families);
  }
  const int at = FindIgnoringCase(ini.families, options.argument);
  if (at < 0) {
    const std::vector<std::string> closest = Closest(ini.families, options.argument);
    out.Json().TextList("closest", closest);
    return out.Error(kExitUsage, "no family \"" + options.argument + "\" in " + ini.path +
                                     "; families: " + Join(ini.families));
  }
  const std::string& family = ini.families[static_cast<size_t>(at)];
  TCountryTables tables;
  tables.LoadFamily(family, ini.text);
  std::vector<TJsonObject> countries;
  std::vector<std::string> lines;
  for (int i = 0; i < tables.CtyCount; ++i) {
    const std::string code = Hex2(tables.CtyCodes[i]);
    countries.push_back(TJsonObject()
                            .Text("name", tables.CtyNames[i])
                            .Text("code", code)
                            .Text("key", tables.CtyKeys[i]));
    lines.push_back(code + "  " + tables.CtyNames[i]);
  }
  out.Json().Text("family", family).Objects("countries", countries);
  return out.Result(kExitOk, lines);
}

using TOutcome = TForm1::TOutcome;

// A verdict box ends the dialog; any other box is a passing error.
bool IsVerdict(TOutcome outcome) {
  return outcome != TOutcome::None && outcome != TOutcome::Prompt;
}

// The status line as progress: each port with the device behind it, ports
// the scan passes over and the prompt for a choice left out. The prompt
// stands from the end of the scan until OK starts the switch.
void ShowStatus(TOutput& out, const TPortSet& ports, const TForm1& form, const std::string& text) {
  if (const int slot = form.ProbedPort()) {
    const std::string name = ports.Name(slot);
    if (name.empty()) return;
    const std::string com = "COM" + std::to_string(slot);
    out.Progress().Status(name == com ? text : text + " (" + name + ")");
    return;
  }
  if (form.Outcome() == TOutcome::None || form.SwitchRunning()) out.Progress().Status(text);
}

// What detect and set report; empty texts are null in JSON.
struct TModemResult {
  std::string port, family, country, code;
  // set: the country the modem's listing names after the switch, or the one
  // asked for when the listing names none of the table.
  std::string target, targetCode;
  std::string message;  // the dialog's verdict, or an error
  std::vector<std::string> closest;

  void To(TJsonObject& json, bool set) const {
    json.TextOrNull("port", port).TextOrNull("family", family);
    if (!set) {
      json.TextOrNull("country", country).TextOrNull("code", code);
    } else {
      json.TextOrNull("country", target).TextOrNull("code", targetCode);
      json.TextOrNull("previous_country", country).TextOrNull("previous_code", code);
    }
  }
};

// One detect or set run: the dialog's logic on the console host, then the
// result for people or in JSON.
class TModemRun {
 public:
  TModemRun(const TOptions& options, TOutput& out)
      : options_(options), out_(out), set_(options.command == TCommand::Set) {}

  int Run() {
    TIni ini;
    const std::string iniError = ReadIni(options_, ini);
    if (!iniError.empty()) return Fail(kExitUsage, iniError);
    // A country that no family knows needs no modem to be refused.
    if (set_) {
      const std::vector<std::string> all = AllCountries(ini);
      if (FindIgnoringCase(all, options_.argument) < 0) return NoCountry(ini.path, all);
    }

    TEventLoop loop;
    TEventLoop::CatchInterrupts();
    std::string error;
    std::unique_ptr<TPortSet> ports = MakePortSet(options_.ports, loop, error);
    if (!ports) return Fail(kExitUsage, error);

    TConsoleHost host(loop, ini.path, ports->FormWords());
    host.serialPorts = ports->Listed();
    Listen(host, *ports);
    // The form goes before the host lets go of its timers.
    struct TSession {
      TConsoleHost& host;
      TForm1 form;
      TSession(TConsoleHost& h, TCommPort& port) : host(h), form(h, port) { host.Attach(form); }
      ~TSession() { host.Detach(); }
    };
    TSession session(host, ports->Port());
    return Drive(host, *ports, session.form);
  }

 private:
  static std::vector<std::string> AllCountries(const TIni& ini) {
    std::vector<std::string> all;
    TCountryTables tables;
    for (const std::string& family : ini.families) {
      tables.LoadFamily(family, ini.text);
      const std::vector<std::string> names = tables.Names();
      all.insert(all.end(), names.begin(), names.end());
    }
    return all;
  }

  // Progress: ports passed over, the status line, boxes other than the
  // verdict.
  void Listen(TConsoleHost& host, TPortSet& ports) {
    ports.OnNote = [this](const std::string& note) { out_.Progress().Line("ctyset2: " + note); };
    host.OnStatus = [this, &ports](const TForm1& form, const std::string& text) {
      ShowStatus(out_, ports, form, text);
    };
    host.OnMessage = [this](const TForm1& form, const TConsoleHost::TMessage& box) {
      if (!IsVerdict(form.Outcome())) out_.Progress().Line("ctyset2: " + box.text);
    };
  }

  // Detection, then for set the switch.
  int Drive(TConsoleHost& host, const TPortSet& ports, TForm1& form) {
    host.RunUntil([&] { return form.DetectionSucceeded() || !ports.Fault().empty(); });
    if (const int code = Stopped(host, ports); code >= 0) return code;
    if (!form.DetectionSucceeded()) {
      // A scan that heard nothing at all found no modem, whatever the dialog
      // would call it.
      const bool heard = host.ReceivedBytes() > 0;
      result_.message = heard ? Verdict(host) : form.WithHeldPorts(TForm1::kNoModem);
      const bool noModem = !heard || form.Outcome() == TOutcome::NoPort;
      return Finish(noModem ? kExitNoModem : kExitUnknownFamily, {result_.message});
    }
    const TCountryTables& tables = form.Tables();
    result_.port = ports.Name(form.Comm1.Port());
    result_.family = tables.Family;
    result_.country = form.ComboBox1.Text();
    result_.code = CodeOf(tables, result_.country);
    std::vector<std::string> lines = {"Port:    " + result_.port, "Family:  " + result_.family,
                                      "Country: " + WithCode(result_.country, result_.code)};
    if (!set_) return Finish(kExitOk, lines);
    return Switch(host, ports, form, tables, lines);
  }

  // Chooses the country in the box and presses OK, as a user would.
  int Switch(TConsoleHost& host, const TPortSet& ports, TForm1& form, const TCountryTables& tables,
             std::vector<std::string>& lines) {
    const std::vector<std::string> names = tables.Names();
    const int chosen = FindIgnoringCase(names, options_.argument);
    if (chosen < 0) return NoCountry(tables.Family, names);
    result_.target = names[static_cast<size_t>(chosen)];
    result_.targetCode = CodeOf(tables, result_.target);
    host.Dispatch([&] {
      form.ComboBox1.SetItemIndex(form.ComboBox1.Items.IndexOf(result_.target));
      form.UPGRADEClick();
    });
    host.RunUntil(nullptr);
    if (const int code = Stopped(host, ports); code >= 0) return code;
    const bool ok = form.Outcome() == TOutcome::Switched;
    result_.message = Verdict(host);
    lines.back() += " -> " + WithCode(result_.target, result_.targetCode);
    const std::string& reported = form.ReportedCountry();
    if (!reported.empty() && reported != result_.target) {
      result_.target = reported;
      result_.targetCode = CodeOf(tables, reported);
      lines.push_back("Modem:   " + WithCode(result_.target, result_.targetCode));
    }
    lines.push_back(result_.message);
    return Finish(ok ? kExitOk : kExitFailed, lines);
  }

  static std::string Verdict(const TConsoleHost& host) {
    return host.Messages().empty() ? std::string() : host.Messages().back().text;
  }

  // The exit code of a run ended otherwise than by the dialog, else -1.
  int Stopped(const TConsoleHost& host, const TPortSet& ports) {
    if (host.Interrupted()) return Fail(kExitInterrupted, "interrupted");
    if (!ports.Fault().empty()) return Fail(kExitUsage, ports.Fault());
    if (!host.HandlerError().empty()) return Fail(kExitInternal, host.HandlerError());
    return -1;
  }

  // Ends the run: the result for people (`lines`) or in JSON.
  int Finish(int exitCode, const std::vector<std::string>& lines) {
    result_.To(out_.Json(), set_);
    if (set_) out_.Json().Text("result", exitCode == kExitOk ? "ok" : "failed");
    if (!result_.message.empty()) out_.Json().Text("message", result_.message);
    if (exitCode == kExitNoCountry) out_.Json().TextList("closest", result_.closest);
    return out_.Result(exitCode, lines);
  }

  int Fail(int exitCode, const std::string& message) {
    result_.message = message;
    out_.Progress().Finish();
    if (!options_.json) std::fprintf(stderr, "ctyset2: %s\n", message.c_str());
    return Finish(exitCode, {});
  }

  int NoCountry(const std::string& where, const std::vector<std::string>& names) {
    result_.closest = Closest(names, options_.argument);
    return Fail(kExitNoCountry,
                "no country \"" + options_.argument + "\" in " + where +
                    (result_.closest.empty() ? "" : "; closest: " + Join(result_.closest)));
  }

  const TOptions& options_;
  TOutput& out_;
  const bool set_;
  TModemResult result_;
};

}  // namespace

int RunCommand(const TOptions& options) {
  TOutput out(options.command, options.json);
  if (options.command == TCommand::List) return RunList(options, out);
  return TModemRun(options, out).Run();
}

int ReportUsageError(bool json, const std::string& error) {
  TOutput out(TCommand::None, json);
  if (!json) {
    std::fprintf(stderr, "ctyset2: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  return out.Error(kExitUsage, error);
}
