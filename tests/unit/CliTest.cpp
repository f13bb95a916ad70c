// The ctyset2 program against modemsim ptys, in real time: what it prints and
// returns checked against what the simulated modems saw.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <filesystem>
#include <regex>

#include "SimProcess.h"
#include "gtest/gtest.h"

namespace {

using namespace simtest;

struct TRun {
  int exit = -1;
  std::string out, err;
  double cpuSeconds = 0;
};

// The UUCP lock directory of the program under test (never /var/lock).
const std::string& LockDir() {
  static TempDir dir;
  return dir.path();
}

// Runs ctyset2 with `args`; stdout and stderr are pipes (no terminal). With
// `stopAfter`, `stop` (Ctrl-C) asks it to stop after that time.
TRun RunCli(const std::vector<std::string>& args, milliseconds stopAfter = milliseconds(0),
            int stop = SIGINT) {
  ::setenv("CTYSET2_LOCK_DIR", LockDir().c_str(), 1);
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

struct TCase {
  const char* name;
  std::vector<std::pair<TDevice, std::vector<std::string>>> devices;  // with modemsim options
  std::vector<std::string> args;  // after the --ini and --port options
  int exit;
  // Expected in stdout; "{N}" stands for the path of device N.
  std::vector<std::string> out;
  std::string err;      // expected in stderr
  const char* country;  // the first modem's country afterwards ("" not checked)
  // Command lines the first modem must (not) have received.
  std::vector<std::string> sent, notSent;
};

const TCase kCases[] = {
    {"DetectOnFirstDevice",
     {{TDevice::Modem, {}}, {TDevice::Silent, {}}, {TDevice::Absent, {}}},
     {"detect"},
     0,
     {"Port:    {0}\nFamily:  FAXLINK 336\nCountry: North America (USA) (B5)\n"},
     "Detecting COM1... ({0})",
     "B5",
     {"ATI5", "AT&V5"},
     {"ATI9"}},
    {"DetectOnThirdDevice",
     {{TDevice::Silent, {}}, {TDevice::Absent, {}}, {TDevice::Modem, {"--country", "04"}}},
     {"--json", "detect"},
     0,
     {R"j({"command":"detect","port":"{2}","family":"FAXLINK 336","country":"Germany","code":"04","exit":0})j"},
     "Detecting COM3... ({2})",
     "",
     {},
     {}},
    {"SetAccepted",
     {{TDevice::Modem, {}}},
     {"--json", "set", "GERMANY"},
     0,
     {R"j("port":"{0}","family":"FAXLINK 336","country":"Germany","code":"04",)j"
      R"j("previous_country":"North America (USA)","previous_code":"B5","result":"ok",)j"
      R"j("message":" Modem reset OK !!     ","exit":0})j"},
     "Modem reset OK!!",
     "04",
     {"AT%T19,0,4", "AT&V5"},
     {}},
    {"SetRefused",
     {{TDevice::Modem, {"--refuse-country"}}},
     {"--json", "set", "germany"},
     6,
     {R"j("result":"failed","message":" Modem Detect Error !!     ","exit":6})j"},
     "Detect ERROR.....",
     "B5",
     {"AT%T19,0,4"},
     {}},
    // The modem vanishes once detection has read its status.
    {"SetUnanswered",
     {{TDevice::Modem, {"--hangup-after", "5"}}},
     {"--json", "set", "Germany"},
     6,
     {R"j("country":"Germany","code":"04","previous_country":"North America (USA)")j",
      R"j("result":"failed")j"},
     "Detect ERROR.....",
     "B5",
     {"AT&V5"},
     {"AT%T19,0,4"}},
    // "OK" to the country command, but the listing still names the USA.
    {"SetKept",
     {{TDevice::Modem, {"--keep-country"}}},
     {"--json", "set", "Germany"},
     6,
     {R"j("country":"North America (USA)","code":"B5","previous_country":"North America (USA)",)j"
      R"j("previous_code":"B5","result":"failed","message":" Modem Detect Error !!     ")j"},
     "Detect ERROR.....",
     "B5",
     {"AT%T19,0,4", "AT&V5"},
     {}},
    // Echo off and numeric codes in the stored profile: found with the echo
    // turned on, switched with verbose codes.
    {"SetSwitchedEchoOffNumeric",
     {{TDevice::Modem, {"--stored-echo-off", "--numeric-codes"}}},
     {"set", "Germany"},
     0,
     {"Country: North America (USA) (B5) -> Germany (04)\n Modem reset OK !!     \n"},
     "Modem reset OK!!",
     "04",
     {"ATE1", "ATE1V1", "AT%T19,0,4", "AT&V5"},
     {"ATI9"}},
    {"SetCountryOfAnotherFamily",
     {{TDevice::Modem, {}}},
     {"--json", "set", "mexico"},
     5,
     {R"j("family":"FAXLINK 336",)j", R"j("result":"failed")j", R"j("exit":5)j"},
     "",
     "B5",
     {"ATI5"},
     {"AT%T19"}},
    {"UnknownFamily",
     {{TDevice::Modem, {"--ident", "ACME 2400 Rev 1"}}},
     {"detect"},
     4,
     {"Modem type can not detect ??\n"},
     "",
     "",
     {"ATI5"},
     {}},
    // Ports that open but never answer hold no modem.
    {"OnlySilentDevices",
     {{TDevice::Silent, {}}},
     {"--json", "detect"},
     3,
     {R"j({"command":"detect","port":null,"family":null,"country":null,"code":null,"message":"No modem detect ??","exit":3})j"},
     "",
     "",
     {},
     {}},
};

class CliTest : public ::testing::TestWithParam<TCase> {};

std::string Fill(std::string text, const std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string mark = "{" + std::to_string(i) + "}";
    for (size_t at; (at = text.find(mark)) != std::string::npos;)
      text.replace(at, mark.size(), paths[i]);
  }
  return text;
}

TEST_P(CliTest, TellsWhatTheModemDid) {
  const TCase& c = GetParam();
  TempDir dir;
  std::vector<std::unique_ptr<Sim>> sims;
  std::vector<std::string> paths;
  for (size_t i = 0; i < c.devices.size(); ++i) {
    const auto& [kind, options] = c.devices[i];
    const std::string path = dir.path() + "/dev" + std::to_string(i);
    paths.push_back(path);
    if (kind == TDevice::Modem || kind == TDevice::Silent) {
      std::vector<std::string> args = options;
      if (kind == TDevice::Silent) args.push_back("--silent");
      sims.push_back(std::make_unique<Sim>(args, path));
      ASSERT_TRUE(sims.back()->ready());
    }
  }
  std::vector<std::string> args = {"--ini", CTYSET2_INI};
  for (const std::string& path : paths) args.insert(args.end(), {"--port", path});
  args.insert(args.end(), c.args.begin(), c.args.end());

  const TRun run = RunCli(args);
  EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
  for (const std::string& text : c.out)
    EXPECT_NE(run.out.find(Fill(text, paths)), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(Fill(c.err, paths)), std::string::npos) << run.err;
  // Waiting costs nothing, also on a device that has hung up.
  EXPECT_LT(run.cpuSeconds, 1.0);

  // The modems: the first, and no other after it was found.
  size_t modem = 0;
  while (modem < c.devices.size() && c.devices[modem].first != TDevice::Modem) ++modem;
  if (modem == c.devices.size()) return;
  const Sim& sim = *sims[modem == 0 ? 0 : sims.size() - 1];
  if (*c.country) {
    EXPECT_EQ(sim.State("country"), std::string(c.country) + "\n");
  }
  const std::string commands = sim.State("commands");
  for (const std::string& line : c.sent)
    EXPECT_NE(commands.find(line + "\n"), std::string::npos) << commands;
  for (const std::string& line : c.notSent)
    EXPECT_EQ(commands.find(line), std::string::npos) << commands;
  for (size_t i = 1; i < sims.size() && modem == 0; ++i) EXPECT_EQ(sims[i]->State("received"), "");
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
  const std::string ini = CTYSET2_INI;

  // Holders of the modem's device: an flock, and the exclusive-use mark.
  const int lock = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);

  struct TRow {
    std::vector<std::string> args;
    int exit;
    std::string err;
  };
  const TRow rows[] = {
      {{"--ini", ini, "--port", modem.link(), "set", "Atlantis"},
       5,
       "no country \"Atlantis\" in " + ini + "; closest: "},
      {{"--ini", ini, "--colour", "detect"}, 2, "unknown option '--colour'"},
      {{"--ini", ini, "frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"--ini", ini, "set"}, 2, "set needs a name"},
      {{"--ini", dir.path() + "/none.ini", "detect"},
       2,
       "cannot read " + dir.path() + "/none.ini: No such file or directory"},
      {{"--ini", file, "list"}, 2, file + " names no modem family"},
      {{"--ini", ini, "--port", file, "detect"}, 2, file + ": not a terminal device"},
      {{"--ini", ini, "--port", modem.link(), "detect"},
       2,
       modem.link() + ": in use by another program"},
      {{"--ini", ini, "list", "FAXLINK"}, 2, "no family \"FAXLINK\""},
      {{"--ini", ini, "--port", modem.link(), "list"}, 2, "list takes no --port"},
  };
  for (const TRow& row : rows) {
    const TRun run = RunCli(row.args);
    EXPECT_EQ(run.exit, row.exit) << row.args.back() << ": " << run.err;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
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
  ::ioctl(lock, TIOCNXCL);
  ::close(lock);
  EXPECT_EQ(modem.State("received"), "") << "the modem was talked to";
}

// Stopped by Ctrl-C in the middle of a scan, the program lets go of the
// device: no exclusive-use mark, flock or UUCP lock file is left behind.
TEST(CliInput, StopLeavesTheDeviceFree) {
  TempDir dir;
  Sim modem({}, dir.path() + "/modem");
  ASSERT_TRUE(modem.ready());
  const TRun run =
      RunCli({"--ini", CTYSET2_INI, "--port", modem.link(), "detect"}, milliseconds(2000));
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
