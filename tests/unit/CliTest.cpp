// The ctyset2 program against modemsim ptys, in real time: what it prints and
// returns checked against what the simulated modems saw.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <regex>

#include <nlohmann/json.hpp>

#include "SimProcess.h"
#include "gtest/gtest.h"

namespace {

using namespace simtest;

struct TRun {
  int exit = -1;
  std::string out, err;
  double cpuSeconds = 0;
};

// The UUCP lock directory of the program under test (never /var/lock), set
// once for every child before the first one starts.
const std::string& LockDir() {
  static const TempDir dir;
  static const bool set = ::setenv("CTYSET2_LOCK_DIR", dir.path().c_str(), 1) == 0;
  EXPECT_TRUE(set);
  return dir.path();
}

// Runs ctyset2 with `args`; stdout and stderr are pipes (no terminal). With
// `stopAfter`, `stop` (Ctrl-C) asks it to stop after that time, once
// `beforeStop` has looked at what it holds. Callable from several threads.
TRun RunCli(const std::vector<std::string>& args, milliseconds stopAfter = milliseconds(0),
            int stop = SIGINT, const std::function<void()>& beforeStop = nullptr) {
  LockDir();
  TRun run;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return run;
  std::vector<std::string> words = args;
  words.insert(words.begin(), CTYSET2_PATH);
  const pid_t pid = Spawn(words, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  // Generous: eight silent ports and a switch that times out take about 80 s.
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(240);
  bool stopped = false;
  while ((fds[0].fd >= 0 || fds[1].fd >= 0) && Clock::now() < end) {
    if (stopAfter.count() && !stopped && Clock::now() - start >= stopAfter) {
      if (beforeStop) beforeStop();
      ::kill(pid, stop);
      stopped = true;
    }
    if (::poll(fds, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  for (const pollfd& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  ::kill(pid, SIGTERM);  // only if it outlived the limit
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// What stands behind one --port value.
enum class TDevice { Modem, Silent, Absent };

using TDevices = std::vector<std::pair<TDevice, std::vector<std::string>>>;
using TLines = std::vector<std::string>;

// One run of the program against simulated devices, and what it must show.
struct TCase {
  const char* name;
  TDevices devices;          // behind --port 1, 2, ...; with modemsim options
  TLines args;               // after the --ini and --port options
  int exit = 0;              // the exit code
  TLines out;                // expected in stdout; "{N}" stands for the path of device N
  std::string err;           // expected in stderr
  const char* country = "";  // the first modem's country afterwards ("" not checked)
  TLines sent, notSent;      // command lines the first modem must (not) have received

  explicit TCase(const char* caseName) : name(caseName) {}
  TCase& Devices(TDevices value) { return Set(devices, std::move(value)); }
  TCase& Args(TLines value) { return Set(args, std::move(value)); }
  TCase& Exit(int value) { return Set(exit, value); }
  TCase& Out(TLines value) { return Set(out, std::move(value)); }
  TCase& Err(std::string value) { return Set(err, std::move(value)); }
  TCase& Country(const char* value) { return Set(country, value); }
  TCase& Sent(TLines value) { return Set(sent, std::move(value)); }
  TCase& NotSent(TLines value) { return Set(notSent, std::move(value)); }

 private:
  template <class T>
  TCase& Set(T& field, T value) {
    field = std::move(value);
    return *this;
  }
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.name; }

const TCase kCases[] = {
    TCase("DetectOnFirstDevice")
        .Devices({{TDevice::Modem, {}}, {TDevice::Silent, {}}, {TDevice::Absent, {}}})
        .Args({"detect"})
        .Out({"Port:    {0}\nFamily:  FAXLINK 336\nCountry: North America (USA) (B5)\n"})
        .Err("Detecting COM1... ({0})")
        .Country("B5")
        .Sent({"ATI5", "AT&V5"})
        .NotSent({"ATI9"}),
    TCase("DetectOnThirdDevice")
        .Devices(
            {{TDevice::Silent, {}}, {TDevice::Absent, {}}, {TDevice::Modem, {"--country", "04"}}})
        .Args({"--json", "detect"})
        .Out(
            {R"j({"command":"detect","port":"{2}","family":"FAXLINK 336","country":"Germany","code":"04","exit":0})j"})
        .Err("Detecting COM3... ({2})"),
    TCase("SetAccepted")
        .Devices({{TDevice::Modem, {}}})
        .Args({"--json", "set", "GERMANY"})
        .Out({R"j("port":"{0}","family":"FAXLINK 336","country":"Germany","code":"04",)j"
              R"j("previous_country":"North America (USA)","previous_code":"B5","result":"ok",)j"
              R"j("message":" Modem reset OK !!     ","exit":0})j"})
        .Err("Modem reset OK!!")
        .Country("04")
        .Sent({"AT%T19,0,4", "AT&V5"}),
    TCase("SetRefused")
        .Devices({{TDevice::Modem, {"--refuse-country"}}})
        .Args({"--json", "set", "germany"})
        .Exit(6)
        .Out({R"j("result":"failed","message":" Modem Detect Error !!     ","exit":6})j"})
        .Err("Detect ERROR.....")
        .Country("B5")
        .Sent({"AT%T19,0,4"}),
    // The modem vanishes once detection has read its status.
    TCase("SetUnanswered")
        .Devices({{TDevice::Modem, {"--hangup-after", "5"}}})
        .Args({"--json", "set", "Germany"})
        .Exit(6)
        .Out({R"j("country":"Germany","code":"04","previous_country":"North America (USA)")j",
              R"j("result":"failed")j"})
        .Err("Detect ERROR.....")
        .Country("B5")
        .Sent({"AT&V5"})
        .NotSent({"AT%T19,0,4"}),
    // "OK" to the country command, but the listing still names the USA.
    TCase("SetKept")
        .Devices({{TDevice::Modem, {"--keep-country"}}})
        .Args({"--json", "set", "Germany"})
        .Exit(6)
        .Out(
            {R"j("country":"North America (USA)","code":"B5","previous_country":"North America (USA)",)j"
             R"j("previous_code":"B5","result":"failed","message":" Modem Detect Error !!     ")j"})
        .Err("Detect ERROR.....")
        .Country("B5")
        .Sent({"AT%T19,0,4", "AT&V5"}),
    // Echo off and numeric codes in the stored profile: found with the echo
    // turned on, switched with verbose codes.
    TCase("SetSwitchedEchoOffNumeric")
        .Devices({{TDevice::Modem, {"--stored-echo-off", "--numeric-codes"}}})
        .Args({"set", "Germany"})
        .Out({"Country: North America (USA) (B5) -> Germany (04)\n Modem reset OK !!     \n"})
        .Err("Modem reset OK!!")
        .Country("04")
        .Sent({"ATE1", "ATE1V1", "AT%T19,0,4", "AT&V5"})
        .NotSent({"ATI9"}),
    TCase("SetCountryOfAnotherFamily")
        .Devices({{TDevice::Modem, {}}})
        .Args({"--json", "set", "mexico"})
        .Exit(5)
        .Out({R"j("family":"FAXLINK 336",)j", R"j("result":"failed")j",
              R"j("closest":["France","Spain","Belgium"],"exit":5)j"})
        .Country("B5")
        .Sent({"ATI5"})
        .NotSent({"AT%T19"}),
    // The first country of the first family, its words given apart.
    TCase("SetFirstCountry")
        .Devices({{TDevice::Modem, {"--country", "04"}}})
        .Args({"set", "north", "AMERICA", "(usa)"})
        .Out({"Country: Germany (04) -> North America (USA) (B5)\n Modem reset OK !!     \n"})
        .Err("Modem reset OK!!")
        .Country("B5")
        .Sent({"AT%T19,0,B5", "AT&V5"}),
    TCase("UnknownFamily")
        .Devices({{TDevice::Modem, {"--ident", "ACME 2400 Rev 1"}}})
        .Args({"detect"})
        .Exit(4)
        .Out({"Modem type can not detect ??\n"})
        .Sent({"ATI5"}),
    // A family whose keys do not name what the modem reports.
    TCase("DetectCountryTheTableLacks")
        .Devices({{TDevice::Modem, {"--ident", "QUILLNET 56K V.90"}}})
        .Args({"detect"})
        .Out({"Family:  QUILLNET 56K\nCountry: UnKnow\n"})
        .Country("B5")
        .Sent({"ATI5"}),
    TCase("OnlyAbsentDevices")
        .Devices({{TDevice::Absent, {}}})
        .Args({"detect"})
        .Exit(3)
        .Out({"No modem detect ??\n"})
        .Err("Detecting COM1... ({0})"),
    // Ports that open but never answer hold no modem.
    TCase("OnlySilentDevices")
        .Devices({{TDevice::Silent, {}}})
        .Args({"--json", "detect"})
        .Exit(3)
        .Out(
            {R"j({"command":"detect","port":null,"family":null,"country":null,"code":null,"message":"No modem detect ??","exit":3})j"}),
};

std::string Fill(std::string text, const std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string mark = "{" + std::to_string(i) + "}";
    for (size_t at; (at = text.find(mark)) != std::string::npos;)
      text.replace(at, mark.size(), paths[i]);
  }
  return text;
}

// What one case's run left behind, gathered before its simulators stop.
struct TOutcome {
  std::string setupError;
  std::vector<std::string> paths;
  TRun run;
  bool modemFound = false;
  std::string country, commands;           // of the first modem
  std::vector<std::string> laterReceived;  // of the devices after it
};

TOutcome RunCase(const TCase& c) {
  TOutcome o;
  TempDir dir;
  std::vector<std::unique_ptr<Sim>> sims;
  for (size_t i = 0; i < c.devices.size(); ++i) {
    const auto& [kind, options] = c.devices[i];
    // Names of their own: the cases run at once and share the lock directory.
    const std::string path = dir.path() + "/" + c.name + std::to_string(i);
    o.paths.push_back(path);
    if (kind == TDevice::Modem || kind == TDevice::Silent) {
      std::vector<std::string> args = options;
      if (kind == TDevice::Silent) args.push_back("--silent");
      sims.push_back(std::make_unique<Sim>(args, path));
      if (!sims.back()->ready()) {
        o.setupError = "modemsim did not start for " + path;
        return o;
      }
    }
  }
  std::vector<std::string> args = {"--ini", CTYSET2_INI};
  for (const std::string& path : o.paths) args.insert(args.end(), {"--port", path});
  args.insert(args.end(), c.args.begin(), c.args.end());
  o.run = RunCli(args);

  // The modems: the first, and no other after it was found.
  size_t modem = 0;
  while (modem < c.devices.size() && c.devices[modem].first != TDevice::Modem) ++modem;
  o.modemFound = modem < c.devices.size();
  if (!o.modemFound) return o;
  const Sim& sim = *sims[modem == 0 ? 0 : sims.size() - 1];
  o.country = sim.State("country");
  o.commands = sim.State("commands");
  for (size_t i = 1; i < sims.size() && modem == 0; ++i)
    o.laterReceived.push_back(sims[i]->State("received"));
  return o;
}

// The cases wait in real time for the dialog's timers (a silent port costs
// 6.5 s, a switch the modem leaves unanswered 10 s more) and share nothing, so
// the suite starts every selected case at once and each test checks its own.
class CliTest : public ::testing::TestWithParam<TCase> {
 public:
  static void SetUpTestSuite() {
    const ::testing::TestSuite& suite = *::testing::UnitTest::GetInstance()->current_test_suite();
    for (int i = 0; i < suite.total_test_count(); ++i) {
      const ::testing::TestInfo& test = *suite.GetTestInfo(i);
      if (!test.should_run()) continue;
      for (const TCase& c : kCases)
        if (std::string(test.name()).find(std::string("/") + c.name) != std::string::npos)
          outcomes_[c.name] = std::async(std::launch::async, RunCase, std::cref(c)).share();
    }
  }
  static void TearDownTestSuite() { outcomes_.clear(); }

 protected:
  static std::map<std::string, std::shared_future<TOutcome>> outcomes_;
};

std::map<std::string, std::shared_future<TOutcome>> CliTest::outcomes_;

TEST_P(CliTest, TellsWhatTheModemDid) {
  const TCase& c = GetParam();
  ASSERT_EQ(outcomes_.count(c.name), 1u);
  const TOutcome& o = outcomes_[c.name].get();
  ASSERT_EQ(o.setupError, "");
  const TRun& run = o.run;
  EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
  for (const std::string& text : c.out)
    EXPECT_NE(run.out.find(Fill(text, o.paths)), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(Fill(c.err, o.paths)), std::string::npos) << run.err;
  // Waiting costs nothing, also on a device that has hung up.
  EXPECT_LT(run.cpuSeconds, 1.0);
  // Progress names only the devices given and never asks for a choice; the
  // verdict is said once, on stdout.
  EXPECT_EQ(run.err.find("Please select"), std::string::npos) << run.err;
  for (size_t n = c.devices.size() + 1; n <= 8; ++n)
    EXPECT_EQ(run.err.find("Detecting COM" + std::to_string(n)), std::string::npos) << run.err;
  std::vector<std::string> verdicts;
  for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
    verdicts.push_back(run.out.substr(at, end - at));
  const nlohmann::json json = nlohmann::json::parse(run.out, nullptr, false);
  if (json.is_object() && json.contains("message")) verdicts.push_back(json["message"]);
  for (const std::string& verdict : verdicts)
    EXPECT_EQ(run.err.find("ctyset2: " + verdict), std::string::npos) << run.err;

  if (!o.modemFound) return;
  if (*c.country) {
    EXPECT_EQ(o.country, std::string(c.country) + "\n");
  }
  for (const std::string& line : c.sent)
    EXPECT_NE(o.commands.find(line + "\n"), std::string::npos) << o.commands;
  for (const std::string& line : c.notSent)
    EXPECT_EQ(o.commands.find(line), std::string::npos) << o.commands;
  for (const std::string& received : o.laterReceived) EXPECT_EQ(received, "");
}

INSTANTIATE_TEST_SUITE_P(Modem, CliTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Input the program refuses before or instead of talking to a modem.
TEST(CliInput, BadInputIsRefused) {
  TempDir dir;
  Sim modem({}, dir.path() + "/modem");
  ASSERT_TRUE(modem.ready());
  const std::string file = dir.path() + "/plain";
  std::ofstream(file) << "not a tty";
  const std::string noCountries = dir.path() + "/empty.ini";
  std::ofstream(noCountries) << "[FAXLINK 336]\r\n[QUILLNET 56K]\r\n";
  const std::string ini = CTYSET2_INI;

  // Holders of the modem's device: an flock, and the exclusive-use mark.
  const int lock = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);

  std::vector<std::string> ninePorts = {"--ini", ini};
  for (int i = 0; i < 9; ++i) ninePorts.insert(ninePorts.end(), {"--port", file});
  std::vector<std::string> eightPorts(ninePorts.begin(), ninePorts.end() - 2);
  ninePorts.push_back("list");
  eightPorts.push_back("list");

  struct TRow {
    std::vector<std::string> args;
    int exit;
    std::string err;
    std::string out = "";  // expected in stdout; none when empty
  };
  const TRow rows[] = {
      // A country of several families is suggested once.
      {{"--ini", ini, "--port", modem.link(), "set", "Atlantis"},
       5,
       "no country \"Atlantis\" in " + ini + "; closest: Malaysia, Poland, Japan\n"},
      {{"--ini", ini, "set", "germny"}, 5, "; closest: Germany, Norway, Japan\n"},
      {{"--ini", noCountries, "set", "germany"},
       5,
       "no country \"germany\" in " + noCountries + "\n"},
      {{"--ini", ini, "set", "america"}, 5, "; closest: North America (USA), Mexico, Austria\n"},
      {{"--ini", ini, "--colour", "detect"}, 2, "unknown option '--colour'"},
      {{"--json", "--colour", "detect"},
       2,
       "",
       R"j({"command":null,"message":"unknown option '--colour'","exit":2})j"},
      {{"--ini", ini, "frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"--ini", ini}, 2, "ctyset2: no command\nusage: ctyset2 "},
      {{"--ini", ini, "detect", "now"}, 2, "detect takes no argument"},
      {{"--ini", ini, "detect", "--port"}, 2, "--port needs a value"},
      {{"--ini", ini, "--port=", "detect"}, 2, "--port needs a value"},
      {ninePorts, 2, "at most 8 ports"},
      {eightPorts, 2, "list takes no --port"},
      // A lone "-" is a word, and "--" makes every word after it one.
      {{"--ini", ini, "list", "-"}, 2, "no family \"-\""},
      {{"--ini", ini, "list", "--", "--json"}, 2, "no family \"--json\""},
      {{"-h", "detect"}, 0, "", "usage: ctyset2 "},
      {{"--version"}, 0, "", "ctyset2 "},
      {{"--ini", ini, "set"}, 2, "set needs a name"},
      {{"--ini=" + dir.path() + "/none.ini", "detect"},
       2,
       "cannot read " + dir.path() + "/none.ini: No such file or directory"},
      {{"--ini", dir.path(), "list"}, 2, "cannot read " + dir.path() + ": Is a directory"},
      {{"--ini", file, "list"}, 2, file + " names no modem family"},
      {{"--ini", ini, "--port", file, "detect"}, 2, file + ": not a terminal device"},
      {{"--ini", ini, "--port", modem.link(), "detect"},
       2,
       modem.link() + ": in use by another program"},
      {{"--ini", ini, "list", "FAXLINK"}, 2, "no family \"FAXLINK\""},
      {{"--ini", ini, "--json", "list", "faxlnk"},
       2,
       "",
       R"j("closest":["FAXLINK 336","QUILLNET 56K","TERNWAVE PC"],"message":"no family \"faxlnk\")j"},
      {{"--ini", ini, "--port", modem.link(), "list"}, 2, "list takes no --port"},
  };
  std::vector<std::future<TRun>> runs;
  for (const TRow& row : rows)
    runs.push_back(
        std::async(std::launch::async, RunCli, row.args, milliseconds(0), SIGINT, nullptr));
  for (size_t i = 0; i < runs.size(); ++i) {
    const TRow& row = rows[i];
    const TRun run = runs[i].get();
    SCOPED_TRACE(row.args.back());
    EXPECT_EQ(run.exit, row.exit) << run.err;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    if (row.out.empty()) {
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
    }
  }
  // The same refusal with the mark of exclusive use instead of the lock (a
  // superuser can open such a device; the program must still keep off).
  ::flock(lock, LOCK_UN);
  ASSERT_EQ(::ioctl(lock, TIOCEXCL), 0);
  TRun run = RunCli({"--ini", ini, "--json", "--port", modem.link(), "detect"});
  EXPECT_EQ(run.exit, 2);
  EXPECT_NE(run.out.find(R"j("message":")j" + modem.link() +
                         R"j(: in use by another program","exit":2})j"),
            std::string::npos)
      << run.out;
  int exclusive = 0;  // the mark is the other program's: it stays
  EXPECT_EQ(::ioctl(lock, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  ::ioctl(lock, TIOCNXCL);
  ::close(lock);
  EXPECT_EQ(modem.State("received"), "") << "the modem was talked to";
}

// While it talks to the modem the program holds the device for itself
// (exclusive-use mark and flock) at 115200 8N1, raw. Stopped by Ctrl-C in the
// middle of a scan, it lets go: no mark, flock or UUCP lock file is left behind.
TEST(CliInput, StopLeavesTheDeviceFree) {
  TempDir dir;
  Sim modem({}, dir.path() + "/modem");
  ASSERT_TRUE(modem.ready());
  const auto whileHeld = [&] {
    const int fd = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int exclusive = 0;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    termios t{};
    EXPECT_EQ(::tcgetattr(fd, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    ::close(fd);
  };
  {  // Settings another program left on the line.
    const int fd = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfsetspeed(&t, B9600);
    t.c_cflag = (t.c_cflag & ~tcflag_t(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_iflag |= IXON | IXOFF | ICRNL;
    t.c_oflag |= OPOST;
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
  }
  const TRun run = RunCli({"--ini", CTYSET2_INI, "--port", modem.link(), "detect"},
                          milliseconds(2000), SIGINT, whileHeld);
  EXPECT_EQ(run.exit, 130) << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(LockDir())) << "a lock file is left in " << LockDir();
  EXPECT_NE(modem.State("commands"), "");  // it was talking to the modem
  const int fd = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

// Every string of a JSON value, keys included.
void Strings(const nlohmann::json& value, std::vector<std::string>& found) {
  if (value.is_string()) found.push_back(value.get<std::string>());
  if (value.is_object())
    for (const auto& [key, item] : value.items()) {
      found.push_back(key);
      Strings(item, found);
    }
  if (value.is_array())
    for (const auto& item : value) Strings(item, found);
}

std::string Bytes(int from, int to) {
  std::string text;
  for (int b = from; b <= to; ++b) text += static_cast<char>(b);
  return text;
}

// Without the bytes that have a meaning in the INI file or in a path.
std::string Plain(std::string text, const std::string& meaningful) {
  for (char c : meaningful) text.erase(std::remove(text.begin(), text.end(), c), text.end());
  return text;
}

// The output is JSON for any bytes in the words, device names and the INI
// file, and says them truly: valid UTF-8 as it is, any other text (the INI
// file is 8-bit) as Latin-1, one character per byte.
TEST(CliInput, JsonSaysAnyBytesTruly) {
  struct TRow {
    const char* what;
    std::string bytes;
    bool utf8;
  };
  const TRow rows[] = {
      {"control characters", Bytes(0x01, 0x1f) + "\x7f", true},
      {"printable ASCII", Bytes(0x20, 0x7e), true},
      {"bytes of 128 and more", Bytes(0x80, 0xff), false},
      {"UTF-8 at each length's ends",
       "\x7f\xc2\x80\xdf\xbf"                              // U+007F, U+0080, U+07FF
       "\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf"  // U+0800, U+D7FF, U+E000, U+FFFF
       "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",                 // U+10000, U+10FFFF
       true},
      {"overlong two bytes", "a\xc0\x80", false},
      {"overlong two bytes, C1", "a\xc1\xbf", false},
      {"overlong three bytes", "a\xe0\x9f\xbf", false},
      {"surrogate", "a\xed\xa0\x80", false},
      {"overlong four bytes", "a\xf0\x8f\xbf\xbf", false},
      {"beyond U+10FFFF", "a\xf4\x90\x80\x80", false},
      {"lead byte F5", "a\xf5\x80\x80", false},
      {"lone continuation byte", "a\x80z", false},
      {"continuation byte missing", "a\xe2\x28\xa1", false},
      {"three-byte character cut short", "a\xe2\x82", false},
      {"four-byte character cut short", "a\xf0\x90\x80", false},
      {"UTF-8 mixed with Latin-1", "Gr\xc3\xbc\xc3\x9f Gr\xfc\xdf", false},
  };
  const auto decoded = [](const TRow& row, const std::string& text) {
    if (row.utf8) return text;
    std::string utf8;
    for (char c : text) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) {
        utf8 += c;
      } else {
        utf8 += static_cast<char>(0xc0 | b >> 6);
        utf8 += static_cast<char>(0x80 | (b & 0x3f));
      }
    }
    return utf8;
  };
  TempDir dir;
  // Every row as a family, and as the key and name of a country in family
  // ALL; RAW holds them as they are, cut wherever the reader cuts.
  const std::string iniMeaning("\r\n\t\x1a:;[]", 9);
  std::string ini = "[ALL]\r\n";
  for (const TRow& row : rows) {
    const std::string plain = Plain(row.bytes, iniMeaning);
    ini += "K" + plain + ": 01 key\r\nname: 01 N" + plain + "\r\n";  // each within 179
  }
  for (const TRow& row : rows) ini += "[F" + Plain(row.bytes, iniMeaning) + "]\r\n";
  ini += "[RAW]\r\n";
  for (const TRow& row : rows) ini += "K: 02 " + row.bytes + std::string(1, '\0') + "\r\n";
  ini += "K: 03 " + Bytes(0x00, 0xff) + "\r\n";
  const std::string iniPath = dir.path() + "/bytes.ini";
  std::ofstream(iniPath, std::ios::binary) << ini;

  struct TCheck {
    std::vector<std::string> args;
    std::vector<std::string> says;  // each within one string of the output
  };
  std::vector<TCheck> checks = {{{"list"}, {}}, {{"list", "ALL"}, {}}, {{"list", "RAW"}, {}}};
  for (const TRow& row : rows) {
    const std::string plain = Plain(row.bytes, iniMeaning);
    checks[0].says.push_back("F" + decoded(row, plain));
    checks[1].says.push_back("K" + decoded(row, plain));
    checks[1].says.push_back("N" + decoded(row, plain));
    // A word of the command line and, for the rows that hold every byte but
    // NUL between them, a device that is no terminal.
    checks.push_back({{"set", "--", row.bytes}, {decoded(row, row.bytes)}});
    if (&row - rows >= 3) continue;
    const std::string device = dir.path() + "/P" + Plain(row.bytes, "/");
    std::ofstream(device) << "not a tty";
    checks.push_back({{"--port", device, "detect"}, {decoded(row, device)}});
  }
  std::vector<std::future<TRun>> runs;
  for (TCheck& check : checks) {
    check.args.insert(check.args.begin(), {"--json", "--ini", iniPath});
    runs.push_back(
        std::async(std::launch::async, RunCli, check.args, milliseconds(0), SIGINT, nullptr));
  }
  for (size_t i = 0; i < checks.size(); ++i) {
    const TRun run = runs[i].get();
    std::string words;
    for (size_t k = 3; k < checks[i].args.size(); ++k) words += " " + checks[i].args[k];
    SCOPED_TRACE(words);
    nlohmann::json json;
    ASSERT_NO_THROW(json = nlohmann::json::parse(run.out)) << run.out;
    std::vector<std::string> strings;
    Strings(json, strings);
    for (const std::string& text : checks[i].says)
      EXPECT_TRUE(std::any_of(strings.begin(), strings.end(), [&](const std::string& s) {
        return s.find(text) != std::string::npos;
      })) << text;
  }
}

TEST(CliInput, ListsFamiliesAndCountries) {
  TRun run = RunCli({"--ini", CTYSET2_INI, "list"});
  EXPECT_EQ(run.exit, 0);
  EXPECT_EQ(run.out, "FAXLINK 336\nQUILLNET 56K\nTERNWAVE PC\n");
  run = RunCli({"--ini", CTYSET2_INI, "list", "quillnet", "56k"});
  EXPECT_EQ(run.exit, 0);
  EXPECT_NE(run.out.find("B5  North America (USA)\n20  Canada\n73  Mexico\n"), std::string::npos)
      << run.out;
  run = RunCli({"--json", "--ini", CTYSET2_INI, "list", "TERNWAVE PC"});
  EXPECT_EQ(run.exit, 0);
  EXPECT_TRUE(std::regex_search(
      run.out,
      std::regex(
          R"j(^\{"command":"list","family":"TERNWAVE PC","countries":\[\{"name":"[^"]+","code":"[0-9A-F]{2}","key":"[^"]+"\}.*\],"exit":0\}\n$)j")))
      << run.out;
}

}  // namespace
