// Talks to tools/modemsim over its pty, the way the applet's port does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>

#include "Modem.h"
#include "SimProcess.h"
#include "gtest/gtest.h"

namespace {

using namespace simtest;

// The client side: opens the published link as a raw 115200 8N1 port.
class Port {
 public:
  explicit Port(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~Port() { Close(); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool ok() const { return fd_ >= 0; }

  void Send(const std::string& text) {
    ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Reads until `n` bytes have come or the time is up.
  std::string Read(std::size_t n, milliseconds limit = kPatience) {
    std::string got;
    const auto end = Clock::now() + limit;
    while (got.size() < n && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
      if (::poll(&p, 1, static_cast<int>(left) + 1) <= 0) continue;
      char buf[65536];
      const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) {
        hung_up_ = true;
        break;
      }
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }

  // Sends a command line and reads as many bytes as `expected` has.
  std::string Ask(const std::string& command, const std::string& expected) {
    Send(command + "\r");
    return Read(expected.size());
  }

  // Whatever arrives within `quiet`.
  std::string Rest(milliseconds quiet = milliseconds(150)) { return Read(1 << 20, quiet); }

  bool hung_up() const { return hung_up_; }

 private:
  int fd_ = -1;
  bool hung_up_ = false;
};

std::string Ok(const std::string& echo) { return echo + "\r\r\nOK\r\n"; }
std::string Error(const std::string& echo) { return echo + "\r\r\nERROR\r\n"; }

const std::string kIdent = "ATI5\r\r\nFAXLINK 336 V.34 Data/Fax Modem Rev 2.07\r\n\r\nOK\r\n";

// The first line of a status listing after its echo: what the applet reads.
std::string StatusLine(Port& port, const std::string& command) {
  port.Send(command + "\r");
  std::string got;
  const auto end = Clock::now() + kPatience;
  while (got.find("\r\nOK\r\n") == std::string::npos && Clock::now() < end) got += port.Read(1);
  const std::string head = command + "\r\r\n";
  if (got.compare(0, head.size(), head) != 0) return "bad echo: " + got;
  return got.substr(head.size(), got.find("\r\n", head.size()) - head.size());
}

TEST(ModemSim, AnswersLikeAModem) {
  Sim sim({});
  ASSERT_TRUE(sim.ready());
  Port port(sim.link());
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(port.Ask("ATI5", kIdent), kIdent);
  EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
  EXPECT_EQ(port.Ask("ATZ", Ok("ATZ")), Ok("ATZ"));
  const std::string ath3 = "ATH3\r\r\nFW 2.07 1998-03-12\r\n\r\nOK\r\n";
  EXPECT_EQ(port.Ask("ATH3", ath3), ath3);
  EXPECT_EQ(port.Ask("ATX9", Error("ATX9")), Error("ATX9"));
  EXPECT_EQ(port.Ask("ATI5I5", Error("ATI5I5")), Error("ATI5I5"));
  // Lower case is accepted and echoed as typed; line feeds are no part of a command.
  const std::string lower = "ati5\r\r\nFAXLINK 336 V.34 Data/Fax Modem Rev 2.07\r\n\r\nOK\r\n";
  EXPECT_EQ(port.Ask("\nati5", lower), lower);
  // A command line may come in pieces.
  port.Send("A");
  port.Send("T");
  EXPECT_EQ(port.Ask("Z", Ok("ATZ")), Ok("ATZ"));
  EXPECT_EQ(port.Rest(), "");
  EXPECT_EQ(sim.State("commands"), "ATI5\nAT\nATZ\nATH3\nATX9\nATI5I5\nati5\nATZ\n");
  EXPECT_EQ(sim.State("received"), "ATI5\rAT\rATZ\rATH3\rATX9\rATI5I5\r\nati5\rATZ\r");
}

TEST(ModemSim, CountryCommandChangesListingAndStateFile) {
  Sim sim({});
  ASSERT_TRUE(sim.ready());
  Port port(sim.link());
  EXPECT_EQ(sim.State("country"), "B5\n");
  EXPECT_EQ(StatusLine(port, "AT&V5"), "Country: USA");
  EXPECT_EQ(StatusLine(port, "ATI9"), "Country: USA");

  EXPECT_EQ(port.Ask("AT%T19,0,4", Ok("AT%T19,0,4")), Ok("AT%T19,0,4"));
  EXPECT_EQ(sim.State("country"), "04\n");
  EXPECT_EQ(StatusLine(port, "AT&V5"), "Country: GERMANY");
  EXPECT_EQ(StatusLine(port, "ATI9"), "Country: GERMANY");

  // Code 0, leading zeros and lower-case digits.
  EXPECT_EQ(port.Ask("AT%T19,0,0", Ok("AT%T19,0,0")), Ok("AT%T19,0,0"));
  EXPECT_EQ(StatusLine(port, "AT&V5"), "Country: JAPAN");
  EXPECT_EQ(port.Ask("AT%T19,0,09", Ok("AT%T19,0,09")), Ok("AT%T19,0,09"));
  EXPECT_EQ(StatusLine(port, "AT&V5"), "Country: AUSTRALIA");
  EXPECT_EQ(port.Ask("at%t19,0,b4", Ok("at%t19,0,b4")), Ok("at%t19,0,b4"));
  EXPECT_EQ(sim.State("country"), "B4\n");

  // Refused: unknown code, too many digits, no digit, not hex. Nothing changes.
  for (const char* bad : {"AT%T19,0,77", "AT%T19,0,0B5", "AT%T19,0,", "AT%T19,0,G1", "AT%T19,1,B5"})
    EXPECT_EQ(port.Ask(bad, Error(bad)), Error(bad));
  EXPECT_EQ(sim.State("country"), "B4\n");
  EXPECT_EQ(StatusLine(port, "AT&V5"), "Country: UK");
}

TEST(ModemSim, ProfileFileDefinesAnotherFamilyAndFlagsOverrideIt) {
  TempDir dir;
  const std::string profile = dir.path() + "/p.txt";
  std::ofstream(profile) << "# another family\n"
                            "ident = TESTMODEM 56K\n"
                            "ident = second line\r\n"
                            "ath3 =\n"
                            "code = 3D FRANCE\n"
                            "code = a5 SVERIGE RIKE\n"
                            "avv5 = Land {KEY} ({CODE})\n"
                            "avv5 = end\n"
                            "country = A5\n";
  {
    Sim sim({"--profile", profile});
    ASSERT_TRUE(sim.ready());
    Port port(sim.link());
    const std::string ident = "ATI5\r\r\nTESTMODEM 56K\r\nsecond line\r\n\r\nOK\r\n";
    EXPECT_EQ(port.Ask("ATI5", ident), ident);
    EXPECT_EQ(port.Ask("ATH3", Ok("ATH3")), Ok("ATH3"));
    const std::string listing = "AT&V5\r\r\nLand SVERIGE RIKE (A5)\r\nend\r\n\r\nOK\r\n";
    EXPECT_EQ(port.Ask("AT&V5", listing), listing);
    // The file's table replaces the built-in one.
    EXPECT_EQ(port.Ask("AT%T19,0,B5", Error("AT%T19,0,B5")), Error("AT%T19,0,B5"));
    EXPECT_EQ(port.Ask("AT%T19,0,3D", Ok("AT%T19,0,3D")), Ok("AT%T19,0,3D"));
    EXPECT_EQ(StatusLine(port, "AT&V5"), "Land FRANCE (3D)");
  }
  {
    Sim sim({"--ident", "OTHER", "--profile=" + profile, "--country", "3d", "--ath3=abc"});
    ASSERT_TRUE(sim.ready());
    Port port(sim.link());
    EXPECT_EQ(StatusLine(port, "ATI5"), "OTHER");
    EXPECT_EQ(StatusLine(port, "ATH3"), "abc");
    EXPECT_EQ(sim.State("country"), "3D\n");
  }
}

TEST(ModemSim, RejectsBadSetupWithoutTouchingThePath) {
  TempDir dir;
  const std::string file = dir.path() + "/plain";
  std::ofstream(file) << "keep";
  auto run = [](const std::string& args) {
    const int status =
        std::system((std::string(MODEMSIM_PATH) + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("--link " + file), 1);
  EXPECT_EQ(Slurp(file), "keep");
  EXPECT_EQ(run(""), 2);
  EXPECT_EQ(run("--link " + dir.path() + "/x --bogus"), 2);
  EXPECT_EQ(run("--link " + dir.path() + "/x --country 77"), 2);
  EXPECT_EQ(run("--link " + dir.path() + "/x --delay-ms -5"), 2);
  EXPECT_EQ(run("--link " + dir.path() + "/x --profile " + file), 2);
  EXPECT_FALSE(Exists(dir.path() + "/x"));
}

TEST(ModemSim, FaultSwitches) {
  {
    Sim sim({"--echo-off", "--ath3-ok"});
    Port port(sim.link());
    const std::string ident = "\r\nFAXLINK 336 V.34 Data/Fax Modem Rev 2.07\r\n\r\nOK\r\n";
    port.Send("ATI5\r");
    EXPECT_EQ(port.Read(ident.size()), ident);
    port.Send("ATH3\r");
    EXPECT_EQ(port.Read(6), "\r\nOK\r\n");
  }
  {
    Sim sim({"--error-avv5", "--refuse-country"});
    Port port(sim.link());
    EXPECT_EQ(port.Ask("AT&V5", Error("AT&V5")), Error("AT&V5"));
    EXPECT_EQ(StatusLine(port, "ATI9"), "Country: USA");
    EXPECT_EQ(port.Ask("AT%T19,0,4", Error("AT%T19,0,4")), Error("AT%T19,0,4"));
    EXPECT_EQ(sim.State("country"), "B5\n");
    EXPECT_EQ(StatusLine(port, "ATI9"), "Country: USA");
  }
  {
    Sim sim({"--error-ati9", "--country-reply", "NO DIAL TONE"});
    Port port(sim.link());
    EXPECT_EQ(StatusLine(port, "AT&V5"), "Country: USA");
    EXPECT_EQ(port.Ask("ATI9", Error("ATI9")), Error("ATI9"));
    const std::string refused = "AT%T19,0,4\r\r\nNO DIAL TONE\r\n";
    EXPECT_EQ(port.Ask("AT%T19,0,4", refused), refused);
    EXPECT_EQ(port.Ask("AT%T19,0,77", Error("AT%T19,0,77")), Error("AT%T19,0,77"));
    EXPECT_EQ(sim.State("country"), "B5\n");
  }
  {
    // Echo off and numeric codes in the stored profile; OK to the country
    // command, which it keeps. ATZ brings the stored settings back.
    Sim sim({"--stored-echo-off", "--numeric-codes", "--keep-country"});
    Port port(sim.link());
    const std::string ident = "FAXLINK 336 V.34 Data/Fax Modem Rev 2.07\r\n0\r";
    EXPECT_EQ(port.Ask("ATI5", ident), ident);
    EXPECT_EQ(port.Ask("AT&V5X", "4\r"), "4\r");
    EXPECT_EQ(port.Ask("ATE1V1", "\r\nOK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(port.Ask("AT%T19,0,4", Ok("AT%T19,0,4")), Ok("AT%T19,0,4"));
    EXPECT_EQ(sim.State("country"), "B5\n");
    EXPECT_EQ(StatusLine(port, "ATI9"), "Country: USA");
    EXPECT_EQ(port.Ask("ATZ", "ATZ\r0\r"), "ATZ\r0\r");
    EXPECT_EQ(port.Ask("ATE1", "0\r"), "0\r");
    EXPECT_EQ(port.Ask("ATV1", "ATV1\r\r\nOK\r\n"), "ATV1\r\r\nOK\r\n");
  }
  {
    Sim sim({"--all-error"});
    Port port(sim.link());
    for (const char* cmd : {"AT", "ATZ", "ATI5", "AT%T19,0,4"})
      EXPECT_EQ(port.Ask(cmd, Error(cmd)), Error(cmd));
    EXPECT_EQ(sim.State("country"), "B5\n");
  }
  {
    Sim sim({"--silent"});
    Port port(sim.link());
    port.Send("AT\rATI5\r");
    EXPECT_EQ(port.Rest(milliseconds(300)), "");
    EXPECT_EQ(sim.State("commands"), "AT\nATI5\n");
  }
  {
    Sim sim({"--nul-bytes", "--unterminated"});
    Port port(sim.link());
    const std::string ident{"ATI5\r\r\n\0FAXLINK 336 V.34 Data/Fax Modem Rev 2.07\r\n\r\n\0OK", 55};
    EXPECT_EQ(port.Ask("ATI5", ident), ident);
    EXPECT_EQ(port.Rest(), "");
  }
}

TEST(ModemSim, GarbageAndFloodHaveExactSizes) {
  Sim sim({"--flood-bytes", "100000", "--flood-after", "2", "--garbage-every", "3",
           "--garbage-bytes", "7"});
  Port port(sim.link());
  EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
  EXPECT_EQ(port.Rest(), "");
  EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
  const std::string flood = port.Read(100000);
  ASSERT_EQ(flood.size(), 100000u);
  EXPECT_EQ(port.Rest(), "");
  EXPECT_EQ(flood.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
            std::string::npos);
  EXPECT_NE(flood.find("\r\n"), std::string::npos);
  EXPECT_EQ(port.Ask("ATZ", Ok("ATZ")), Ok("ATZ"));
  const std::string burst = port.Read(7);
  EXPECT_EQ(burst.size(), 7u);
  EXPECT_EQ(port.Rest(), "");
  EXPECT_EQ(burst.find_first_of("\r\nOKERROR"), std::string::npos);
  EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
  EXPECT_EQ(port.Rest(), "");
}

TEST(ModemSim, DelaysHoldBackTheAnswer) {
  // Long enough that a busy machine cannot make the echo look held back.
  const milliseconds delay{1500};
  {
    Sim sim({"--delay-ms", "1500"});
    Port port(sim.link());
    const auto start = Clock::now();
    port.Send("AT\r");
    EXPECT_EQ(port.Read(3), "AT\r");
    EXPECT_LT(Clock::now() - start, delay);
    EXPECT_EQ(port.Read(6), "\r\nOK\r\n");
    EXPECT_GE(Clock::now() - start, delay);
  }
  {
    Sim sim({"--slow-ms", "1500"});
    Port port(sim.link());
    const auto start = Clock::now();
    EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
    EXPECT_GE(Clock::now() - start, delay);
  }
}

TEST(ModemSim, KeepsServingAcrossReopen) {
  Sim sim({"--delay-ms", "100"});
  for (int i = 0; i < 5; ++i) {
    Port port(sim.link());
    ASSERT_TRUE(port.ok());
    EXPECT_EQ(port.Ask("ATI5", kIdent), kIdent) << "opening " << i;
  }
  // A reply nobody was there to read is lost, as on a real line.
  {
    Port port(sim.link());
    port.Send("ATI5\r");
    EXPECT_EQ(port.Read(5), "ATI5\r");
  }
  ASSERT_TRUE(sim.AwaitState("line", "closed\n"));
  {
    Port port(sim.link());
    EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
    EXPECT_EQ(port.Rest(), "");
  }
  // Two clients at once: the reply goes to whichever reads; closing one does not drop it.
  Port first(sim.link());
  { Port second(sim.link()); }
  EXPECT_EQ(first.Ask("ATZ", Ok("ATZ")), Ok("ATZ"));
}

TEST(ModemSim, HangsUpAfterNCommands) {
  Sim sim({"--hangup-after", "2"});
  Port port(sim.link());
  EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
  EXPECT_EQ(port.Ask("ATI5", kIdent), kIdent);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(port.Rest(), "");
  EXPECT_TRUE(port.hung_up());
  EXPECT_FALSE(Exists(sim.link()));
}

TEST(ModemSim, SignalsRemoveTheLink) {
  for (int sig : {SIGTERM, SIGINT}) {
    Sim sim({});
    ASSERT_TRUE(sim.ready());
    EXPECT_TRUE(Exists(sim.link()));
    ::kill(sim.pid(), sig);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(Exists(sim.link()));
  }
}

TEST(ModemSim, TakesOverALinkAndRemovesOnlyItsOwn) {
  TempDir dir;
  const std::string link = dir.path() + "/com2";
  ASSERT_EQ(::symlink("/nonexistent/pts", link.c_str()), 0);
  Sim first({}, link);
  ASSERT_TRUE(first.ready());
  {
    Port port(link);
    EXPECT_EQ(port.Ask("AT", Ok("AT")), Ok("AT"));
  }
  Sim second({"--ident", "SECOND"}, link);
  ASSERT_TRUE(second.ready());
  ::kill(first.pid(), SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  Port port(link);
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(StatusLine(port, "ATI5"), "SECOND");
}

TEST(ModemSim, LineEditing) {
  modemsim::Modem modem(modemsim::Profile::Default(), {});
  auto replies = modem.Receive("ATX\bZ\r");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].command, "ATZ");
  EXPECT_EQ(replies[0].reply, "\r\nOK\r\n");
  // Noise before the attention sequence is skipped; a bare CR is only echoed.
  replies = modem.Receive("#~at z\r\r");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].reply, "\r\nOK\r\n");
  EXPECT_EQ(replies[1].echo, "\r");
  EXPECT_EQ(replies[1].reply, "");
  // An over-long line is refused as a whole.
  replies = modem.Receive("AT" + std::string(400, 'Z') + "\rAT\r");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].reply, "\r\nERROR\r\n");
  EXPECT_EQ(replies[1].reply, "\r\nOK\r\n");
  EXPECT_EQ(modem.commands(), 4u);
}

}  // namespace
