// TComm32 against modemsim on the simulated COM ports.
#include "comm32/win/Comm32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessProbe.h"
#include "ThreadLedger.h"
#include "WineTest.h"

namespace {

using winetest::SimModem;
using winetest::WaitUntil;

struct Delivery {
  std::string bytes;
  bool zeroAfter;
  ULONGLONG tick;
};

// A component on COM1 that records every delivery.
class Comm32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    comm_.SetBaudRate(tbr115200);
    comm_.SetOnReceiveData([this](const void* buffer, std::uint16_t length) {
      const char* p = static_cast<const char*>(buffer);
      deliveries_.push_back({std::string(p, length), p[length] == '\0', GetTickCount64()});
    });
  }
  void TearDown() override { comm_.ClosePort(); }

  bool Open(TPort port = tptOne) {
    comm_.SetPort(port);
    return comm_.OpenPort();
  }
  bool Write(const std::string& text) {
    return comm_.WritePort(text.data(), static_cast<std::uint16_t>(text.size()));
  }
  std::string Received() const {
    std::string all;
    for (const Delivery& d : deliveries_) all += d.bytes;
    return all;
  }
  // Waits are generous (kPatienceMs) and end as soon as their condition
  // holds: several builds may share a busy machine.
  static constexpr DWORD kPatienceMs = 60000;
  bool WaitForText(const std::string& text, DWORD ms = kPatienceMs) {
    return WaitUntil([&] { return Received().find(text) != std::string::npos; }, ms);
  }
  // Waits until the modem has sent a whole flood of `bytes` after its reply
  // and every byte it sent has been delivered.
  bool WaitForFlood(const SimModem& modem, std::size_t bytes) {
    return WaitUntil(
        [&] {
          const std::size_t sent = modem.Sent().size();
          return sent > bytes && Received().size() >= sent;
        },
        2 * kPatienceMs);
  }
  // Pumps messages for ms milliseconds.
  static void Pump(DWORD ms) {
    WaitUntil([] { return false; }, ms);
  }

  static std::string LogPath(const std::string& name) {
    const std::string dir = winetest::BuildDir() + "/comm32-logs";
    CreateDirectoryA(winetest::ToWindowsPath(dir).c_str(), nullptr);
    const std::string path = dir + "/" + name + ".log";
    DeleteFileA(winetest::ToWindowsPath(path).c_str());
    return path;
  }
  static std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = winetest::ReadUnixFile(path);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "last line without CR LF";
    return lines;
  }

  TComm32 comm_;
  std::vector<Delivery> deliveries_;
};

TEST_F(Comm32Test, OpenWriteAndCloseRules) {
  EXPECT_FALSE(Open(tptNone));
  EXPECT_FALSE(comm_.IsOpen());
  EXPECT_FALSE(Write("AT\r")) << "no transmit thread before an opening";

  SimModem modem(1);
  ASSERT_TRUE(Open());
  EXPECT_FALSE(comm_.OpenPort()) << "already open";
  // A write right after OpenPort is accepted; a zero-length one too.
  EXPECT_TRUE(Write(""));
  EXPECT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
  for (const Delivery& d : deliveries_) EXPECT_TRUE(d.zeroAfter);
  EXPECT_EQ(modem.Received(), "AT\r");

  comm_.ClosePort();
  EXPECT_FALSE(comm_.IsOpen());
  comm_.ClosePort();
  EXPECT_FALSE(Write("AT\r"));
}

TEST_F(Comm32Test, ManyWritesLeaveInCallOrder) {
  SimModem modem(1, "--silent");
  ASSERT_TRUE(Open());
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string piece = (i % 7 == 0) ? "\r" : std::string(1, static_cast<char>('!' + i % 90));
    ASSERT_TRUE(Write(piece));
    expected += piece;
  }
  EXPECT_TRUE(WaitUntil([&] { return modem.Received().size() >= expected.size(); }, kPatienceMs));
  EXPECT_EQ(modem.Received(), expected);
}

TEST_F(Comm32Test, AReplyIsOneDeliveryAbout250msAfterItsLastByte) {
  SimModem modem(1, "--echo-off --ident 12345678901234567890");
  ASSERT_TRUE(Open());
  Pump(300);
  ASSERT_TRUE(Write("ATI5\r"));
  const ULONGLONG sent = GetTickCount64();
  ASSERT_TRUE(WaitForText("OK\r\n"));
  Pump(600);
  ASSERT_EQ(deliveries_.size(), 1u) << Received();
  EXPECT_EQ(deliveries_[0].bytes, "\r\n12345678901234567890\r\n\r\nOK\r\n");
  EXPECT_EQ(deliveries_[0].bytes.size(), 30u);
  EXPECT_TRUE(deliveries_[0].zeroAfter);
  const ULONGLONG latency = deliveries_[0].tick - sent;
  EXPECT_GE(latency, 200u);
  EXPECT_LE(latency, 5000u);  // generous: a busy machine delays the delivery, never hastens it
}

TEST_F(Comm32Test, ABurstFillsWholeBuffersInOrder) {
  SimModem modem(1, "--echo-off --flood-bytes 50000");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForFlood(modem, 50000)) << Received().size() << " of " << modem.Sent().size();
  Pump(400);
  EXPECT_EQ(Received(), modem.Sent()) << "lost, doubled or reordered bytes";
  ASSERT_GE(deliveries_.size(), 3u);
  EXPECT_EQ(deliveries_[0].bytes.size(), 22048u);
  EXPECT_EQ(deliveries_[1].bytes.size(), 22048u);
  for (const Delivery& d : deliveries_) {
    EXPECT_LE(d.bytes.size(), 22048u);
    EXPECT_FALSE(d.bytes.empty());
    EXPECT_TRUE(d.zeroAfter);
  }
}

TEST_F(Comm32Test, ZeroBytesInsideABurstAreDeliveredAndCounted) {
  SimModem modem(1, "--nul-bytes");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("OK\r\n"));
  Pump(400);
  const std::string sent = modem.Sent();
  ASSERT_NE(sent.find('\0'), std::string::npos);
  EXPECT_EQ(Received(), sent);
}

TEST_F(Comm32Test, SLevelSelectsTheReceiveThread) {
  SimModem modem(1);
  const struct {
    std::uint16_t level;
    TComm32::TReceiveKind kind;
  } cases[] = {{9, TComm32::TReceiveKind::Overlapped},
               {10, TComm32::TReceiveKind::Blocking},
               {99, TComm32::TReceiveKind::Blocking},
               {100, TComm32::TReceiveKind::CommRead}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    deliveries_.clear();
    comm_.SetSLevel(c.level);
    ASSERT_TRUE(Open());
    EXPECT_EQ(comm_.ReceiveKind(), c.kind);
    // Bytes that arrive before the first wake-up of blocking mode come with
    // the overlapped read of the set-up, not in a series of chunks.
    Pump(300);
    ASSERT_TRUE(Write("AT\r"));
    EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
    comm_.ClosePort();
    Pump(100);
    // Chunk reads end every series with an empty delivery; bursts never
    // deliver nothing.
    const bool anyEmpty = std::any_of(deliveries_.begin(), deliveries_.end(),
                                      [](const Delivery& d) { return d.bytes.empty(); });
    EXPECT_EQ(anyEmpty, c.kind != TComm32::TReceiveKind::Overlapped);
  }
  EXPECT_EQ(comm_.ReceiveKind(), TComm32::TReceiveKind::None);
}

TEST_F(Comm32Test, SLevelSwitchesTheModeOfARunningReadThread) {
  SimModem modem(1);
  ASSERT_TRUE(Open());
  comm_.SetSLevel(50);
  EXPECT_EQ(comm_.ReceiveKind(), TComm32::TReceiveKind::Blocking);
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
  comm_.SetSLevel(0);
  deliveries_.clear();
  Pump(300);
  ASSERT_TRUE(Write("ATZ\r"));
  EXPECT_TRUE(WaitForText("ATZ\r\r\nOK\r\n")) << Received();
  comm_.SetSLevel(100);
  EXPECT_EQ(comm_.ReceiveKind(), TComm32::TReceiveKind::Blocking) << "kind is fixed at opening";
  deliveries_.clear();
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
}

TEST_F(Comm32Test, SecondReceiveThreadDeliversAStreamInChunks) {
  SimModem modem(1, "--echo-off --flood-bytes 10000");
  comm_.SetSLevel(100);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForFlood(modem, 10000)) << Received().size() << " of " << modem.Sent().size();
  Pump(300);
  EXPECT_EQ(Received(), modem.Sent());
  ASSERT_FALSE(deliveries_.empty());
  EXPECT_TRUE(deliveries_.back().bytes.empty()) << "a series ends with an empty delivery";
  for (const Delivery& d : deliveries_) {
    EXPECT_LE(d.bytes.size(), 4000u);
    EXPECT_TRUE(d.zeroAfter);
  }
}

TEST_F(Comm32Test, ClosingWhileDataStreamsInEndsPromptly) {
  for (std::uint16_t level : {0, 10, 100}) {
    SCOPED_TRACE(level);
    SimModem modem(1, "--echo-off --flood-bytes 3000000");
    deliveries_.clear();
    comm_.SetSLevel(level);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write("AT\r"));
    ASSERT_TRUE(WaitUntil([&] { return Received().size() > 30000; }, kPatienceMs));
    const ULONGLONG start = GetTickCount64();
    comm_.ClosePort();
    EXPECT_LT(GetTickCount64() - start, 8000u);  // well inside one thread's 10 s stop limit
    EXPECT_FALSE(comm_.IsOpen());
  }
}

TEST_F(Comm32Test, AVanishingPortAsksTheOwnerToHangUp) {
  int hangups = 0;
  comm_.SetOnRequestHangup([&](TCommPort* sender) {
    EXPECT_EQ(sender, &comm_);
    ++hangups;
  });
  SimModem modem(1, "--hangup-after 1");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitUntil([&] { return hangups > 0; }, kPatienceMs));
  EXPECT_TRUE(comm_.IsOpen()) << "closing is the owner's decision";
  comm_.ClosePort();
}

// Every thread that serves the port, the system's included, ends through the
// loader: a thread that does not leaves its freed block in the loader's list
// of threads with TLS, and a later load or unload of the applet faults on it.
// Each receive thread idles on the port, then the port vanishes under one.
TEST_F(Comm32Test, ServingAPortLeavesNoThreadUndetached) {
  const std::size_t before = winetest::ThreadsEndedWithoutDetach();
  {
    SimModem modem(1);
    for (int level : {0, 10, 100}) {
      SCOPED_TRACE(level);
      comm_.SetSLevel(static_cast<std::uint16_t>(level));
      ASSERT_TRUE(Open());
      ASSERT_TRUE(Write("AT\r"));
      ASSERT_TRUE(WaitForText("OK\r\n"));
      Pump(300);
      comm_.ClosePort();
      deliveries_.clear();
    }
  }
  comm_.SetSLevel(0);
  int hangups = 0;
  comm_.SetOnRequestHangup([&](TCommPort*) { ++hangups; });
  SimModem vanishing(1, "--hangup-after 1");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitUntil([&] { return hangups > 0; }, 8000));
  Pump(300);
  comm_.ClosePort();
  Pump(100);
  EXPECT_EQ(before, winetest::ThreadsEndedWithoutDetach());
}

// Blocks given to a transmit thread that ends by itself are released: those
// still queued when it ends, and those of later WritePort calls, which are
// refused.
TEST_F(Comm32Test, BlocksOfAnEndedTransmitThreadAreReleased) {
  const std::string block(12345, 'x');  // blocks of 12346 bytes: no one else's
  const std::size_t before = winetest::LiveHeapBlocks(block.size() + 1);
  SimModem modem(1, "--silent");
  ASSERT_TRUE(Open());
  // The device vanishes: the first write fails and ends the thread while
  // most of the blocks are still queued.
  modem.Stop();
  int accepted = 0;
  for (int i = 0; i < 50; ++i) accepted += Write(block) ? 1 : 0;
  EXPECT_GT(accepted, 0);
  EXPECT_TRUE(WaitUntil([&] { return !Write(block); }, kPatienceMs))
      << "transmit thread still runs";
  EXPECT_FALSE(Write(block));
  EXPECT_TRUE(
      WaitUntil([&] { return winetest::LiveHeapBlocks(block.size() + 1) == before; }, kPatienceMs))
      << winetest::LiveHeapBlocks(block.size() + 1) - before << " blocks left";
  comm_.ClosePort();
  EXPECT_EQ(winetest::LiveHeapBlocks(block.size() + 1), before);
}

TEST_F(Comm32Test, ReopeningOnAnotherPortAndManyCyclesLeakNothing) {
  SimModem one(1);
  SimModem two(2);
  ASSERT_TRUE(Open(tptOne));
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("OK\r\n"));
  comm_.ClosePort();
  deliveries_.clear();
  ASSERT_TRUE(Open(tptTwo));
  ASSERT_TRUE(Write("ATZ\r"));
  ASSERT_TRUE(WaitForText("ATZ\r\r\nOK\r\n"));
  EXPECT_EQ(two.Received(), "ATZ\r");
  comm_.ClosePort();
  Pump(100);

  const std::size_t threads = winetest::ThreadCount();
  const std::uintptr_t handles = winetest::HandleWatermark();
  for (int i = 0; i < 200; ++i) {
    comm_.SetSLevel(i % 3 == 0 ? 0 : (i % 3 == 1 ? 10 : 100));
    ASSERT_TRUE(Open(i % 2 ? tptOne : tptTwo)) << i;
    if (i % 10 == 0) {
      ASSERT_TRUE(Write("AT\r"));
    }
    comm_.ClosePort();
  }
  // Wine's own helper threads of the comm-event waits end a moment later.
  EXPECT_TRUE(WaitUntil([&] { return winetest::ThreadCount() == threads; }, kPatienceMs))
      << winetest::ThreadCount() << " threads, " << threads << " before";
  EXPECT_EQ(winetest::HandleWatermark(), handles);
}

TEST_F(Comm32Test, CommsLogWithoutANameWritesNothing) {
  const std::string path = LogPath("unnamed");
  comm_.SetCommsLogFileName(winetest::ToWindowsPath(path));
  comm_.SetCommsLogFileName("");
  SimModem modem(1);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("OK\r\n"));
  comm_.ClosePort();
  EXPECT_FALSE(winetest::UnixFileExists(path));
}

TEST_F(Comm32Test, CommsLogHoldsTheLinesOfTheLastOpening) {
  const std::string path = LogPath("lines");
  comm_.SetCommsLogFileName(winetest::ToWindowsPath(path));
  // A failed opening leaves the log open; a write is then logged there.
  ASSERT_FALSE(Open(tptNone));
  EXPECT_FALSE(Write("AT\r"));
  EXPECT_EQ(LogLines(path), std::vector<std::string>{"Write thread not created"});

  SimModem modem(1, "--silent");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("first\r"));
  ASSERT_TRUE(WaitUntil([&] { return modem.Received() == "first\r"; }, kPatienceMs));
  comm_.ClosePort();

  ASSERT_TRUE(Open());
  Pump(300);
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitUntil([&] { return modem.Received() == "first\rAT\r"; }, kPatienceMs));
  Pump(100);
  comm_.ClosePort();

  // A pty under Wine ends every comm-event wait at once without an event;
  // the thread notes that as "comm event 0". The stop event that closes the
  // read thread stops the transmit thread as well, so its last line may come
  // anywhere after "Closing Read Thread ".
  std::vector<std::string> lines;
  std::size_t writerEnd = 0, closing = 0;
  for (const std::string& line : LogLines(path)) {
    if (line == "comm event 0") continue;
    if (line == "Closing Read Thread ") closing = lines.size() + 1;
    if (line == "Write thread shutting down") {
      EXPECT_EQ(writerEnd, 0u) << "logged twice";
      writerEnd = lines.size() + 1;
      continue;
    }
    lines.push_back(line);
  }
  EXPECT_GT(closing, 0u);
  EXPECT_GE(writerEnd, closing);
  const std::vector<std::string> expected = {"Waiting for a CommEvent (Error) to occur.",
                                             "Waiting for data from comm connection.",
                                             "Writing to comm port",
                                             "AT\r",
                                             "Stopping the Comm",
                                             "Closing Read Thread ",
                                             "Read thread shutting down",
                                             "Closing Write Thread"};
  EXPECT_EQ(lines, expected);
}

TEST_F(Comm32Test, HandlerErrorsStayInsideTheWindowProcedure) {
  std::vector<std::string> errors;
  comm_.SetHandlerErrorHook([&](const char* message) { errors.push_back(message); });
  comm_.SetOnReceiveData([](const void*, std::uint16_t) { throw std::runtime_error("boom"); });
  SimModem modem(1);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitUntil([&] { return !errors.empty(); }, kPatienceMs));
  EXPECT_EQ(errors.front(), "boom");
}

}  // namespace
