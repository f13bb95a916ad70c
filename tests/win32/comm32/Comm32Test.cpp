// TComm32 against modemsim on the simulated COM ports.
#include "comm32/win/Comm32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <numeric>
#include <stdexcept>
#include <sstream>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "LineErrorStorm.h"
#include "ProcessProbe.h"
#include "ThreadLedger.h"
#include "comm32/CommLogic.h"
#include "comm32/win/CommThread.h"
#include "comm32/win/TestSeams.h"
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

// The receive cases run on both ways of waiting for port events: polled, as
// under Wine, and a pending WaitCommEvent, as on Windows. The pending way
// shows itself by Wine's helper threads, which end without the loader's
// thread detach; this program never loads a module after them.
class Comm32ReceiveTest : public Comm32Test,
                          public ::testing::WithParamInterface<comm32::TPortEventWaits> {
 protected:
  void SetUp() override {
    undetached_ = winetest::ThreadsEndedWithoutDetach();
    comm32::SetPortEventWaits(GetParam());
    Comm32Test::SetUp();
  }
  void TearDown() override {
    Comm32Test::TearDown();
    comm32::SetPortEventWaits(comm32::TPortEventWaits::Auto);
    if (GetParam() == comm32::TPortEventWaits::Pending) {
      EXPECT_TRUE(WaitUntil([&] { return winetest::ThreadsEndedWithoutDetach() > undetached_; },
                            kPatienceMs))
          << "no comm-event wait was left pending";
    }
  }

 private:
  std::size_t undetached_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Waits, Comm32ReceiveTest,
                         ::testing::Values(comm32::TPortEventWaits::Polled,
                                           comm32::TPortEventWaits::Pending),
                         [](const ::testing::TestParamInfo<comm32::TPortEventWaits>& info) {
                           return info.param == comm32::TPortEventWaits::Polled ? "Polled"
                                                                                : "Pending";
                         });

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

TEST_P(Comm32ReceiveTest, AReplyIsOneDeliveryAbout250msAfterItsLastByte) {
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

TEST_P(Comm32ReceiveTest, ABurstFillsWholeBuffersInOrder) {
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

TEST_P(Comm32ReceiveTest, ZeroBytesInsideABurstAreDeliveredAndCounted) {
  SimModem modem(1, "--nul-bytes");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("OK\r\n"));
  Pump(400);
  const std::string sent = modem.Sent();
  ASSERT_NE(sent.find('\0'), std::string::npos);
  EXPECT_EQ(Received(), sent);
}

TEST_P(Comm32ReceiveTest, SLevelSelectsTheReceiveThread) {
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
    Pump(300);
    comm_.ClosePort();
    // Reads of the queued count end every series with an empty delivery;
    // bursts never deliver nothing. A chunk read of blocking mode waits for
    // the next byte, so its series ends only with the close, whose
    // deliveries come after it (and the next opening drops them).
    const bool anyEmpty = std::any_of(deliveries_.begin(), deliveries_.end(),
                                      [](const Delivery& d) { return d.bytes.empty(); });
    EXPECT_EQ(anyEmpty, c.kind == TComm32::TReceiveKind::CommRead);
  }
  EXPECT_EQ(comm_.ReceiveKind(), TComm32::TReceiveKind::None);
}

TEST_P(Comm32ReceiveTest, SLevelSwitchesTheModeOfARunningReadThread) {
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

TEST_P(Comm32ReceiveTest, SecondReceiveThreadDeliversAStreamInChunks) {
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

TEST_P(Comm32ReceiveTest, ClosingWhileDataStreamsInEndsPromptly) {
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

TEST_P(Comm32ReceiveTest, AVanishingPortAsksTheOwnerToHangUp) {
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
  const struct {
    void (*raise)();
    const char* shown;
  } cases[] = {{[] { throw std::runtime_error("boom"); }, "boom"},
               {[] { throw 42; }, "Unknown error"}};
  SimModem modem(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    std::vector<std::string> errors;
    comm_.SetHandlerErrorHook([&](const char* message) { errors.push_back(message); });
    comm_.SetOnReceiveData([&](const void*, std::uint16_t) { c.raise(); });
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write("AT\r"));
    EXPECT_TRUE(WaitUntil([&] { return !errors.empty(); }, kPatienceMs));
    comm_.ClosePort();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front(), c.shown);
  }
}

// Bytes that arrived for an opening but were not handed out before the next
// opening are dropped and freed, never given to it.
TEST_F(Comm32Test, BytesOfAClosedOpeningNeverReachTheNext) {
  const std::string ident(1000, 'Q');
  const std::size_t block = ident.size() + 11;  // CR LF, ident, CR LF CR LF OK CR LF, zero
  const std::size_t before = winetest::LiveHeapBlocks(block);
  SimModem one(1, "--echo-off --ident " + ident);
  SimModem two(2);
  ASSERT_TRUE(Open(tptOne));
  ASSERT_TRUE(Write("ATI5\r"));
  // No message is handled meanwhile: the reply waits in the window's queue.
  const ULONGLONG end = GetTickCount64() + kPatienceMs;
  while (winetest::LiveHeapBlocks(block) == before && GetTickCount64() < end) Sleep(20);
  ASSERT_EQ(winetest::LiveHeapBlocks(block), before + 1);
  comm_.ClosePort();
  EXPECT_EQ(winetest::LiveHeapBlocks(block), before + 1) << "still on its way to the owner";
  ASSERT_TRUE(Open(tptTwo));
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("AT\r\r\nOK\r\n"));
  Pump(300);
  EXPECT_EQ(Received(), "AT\r\r\nOK\r\n");
  EXPECT_EQ(winetest::LiveHeapBlocks(block), before);
}

// A worker that does not end when told (its driver never gives back a
// cancelled read, as an unplugged adapter may do) holds the owner's thread
// no longer than the stop limit. It is left behind with the handles it
// uses, the owner's thread goes on, the component opens again, and the
// thread closes those handles itself once it ends.
HANDLE gLetGo = nullptr;
std::atomic<int> gHeld{0};

TEST_F(Comm32Test, AThreadThatDoesNotEndIsLeftBehind) {
  gLetGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  struct TLetGo {
    ~TLetGo() {
      comm32::SetThreadEndSeam(nullptr);
      SetEvent(gLetGo);
    }
  } letGo;
  const std::size_t threads = winetest::ThreadCount();
  const std::string log = LogPath("left-behind");
  comm_.SetCommsLogFileName(winetest::ToWindowsPath(log));
  SimModem modem(1);
  comm32::SetThreadEndSeam([](const TCommThread&) {
    ++gHeld;
    WaitForSingleObject(gLetGo, INFINITE);
  });
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForText("OK\r\n"));
  const HANDLE port = comm_.PortHandle();

  // A message sent to the owner's thread during the close is answered once
  // the close is over.
  std::atomic<bool> answered{false};
  std::thread sender([&] {
    DWORD_PTR result = 0;
    answered = SendMessageTimeoutA(comm_.WindowHandle(), WM_NULL, 0, 0, SMTO_NORMAL,
                                   2 * kPatienceMs, &result) != 0;
  });
  const ULONGLONG start = GetTickCount64();
  comm_.ClosePort();
  const ULONGLONG took = GetTickCount64() - start;
  comm32::SetThreadEndSeam(nullptr);
  // Each thread is waited for up to its own limit.
  EXPECT_GE(took + 500, 2 * comm32::kThreadStopWaitMs);
  EXPECT_LE(took, 2 * comm32::kThreadStopWaitMs + 2000);
  EXPECT_FALSE(comm_.IsOpen());
  EXPECT_TRUE(WaitUntil([&] { return answered.load(); }, kPatienceMs));
  sender.join();
  EXPECT_EQ(gHeld.load(), 2) << "both threads held";
  const std::string text = winetest::ReadUnixFile(log);
  EXPECT_NE(text.find("Read thread not exiting.  Terminating it."), std::string::npos) << text;
  EXPECT_NE(text.find("Write thread not exiting.  Terminating it."), std::string::npos) << text;
  comm_.SetCommsLogFileName("");

  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(port, &flags)) << "the port handle is the held threads'";
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("ATZ\r"));
  EXPECT_TRUE(WaitForText("ATZ\r\r\nOK\r\n")) << Received();
  const ULONGLONG again = GetTickCount64();
  comm_.ClosePort();
  EXPECT_LT(GetTickCount64() - again, 3000u);

  SetEvent(gLetGo);
  EXPECT_TRUE(WaitUntil([&] { return winetest::ThreadCount() <= threads; }, kPatienceMs))
      << winetest::ThreadCount() << " threads, " << threads << " before";
  EXPECT_TRUE(WaitUntil([&] { return !GetHandleInformation(port, &flags); }, kPatienceMs))
      << "the last held thread closes the port";
}

// With fAbortOnError set, a line error makes the driver abort every read and
// write, and refuse new ones, until ClearCommError (Microsoft docs: DCB
// structure; ClearCommError). Wine's serial driver knows no such state: a
// seam fails the first calls as the driver would, and a pending read is
// aborted with CancelIoEx. Both threads clear the error and go on, and no
// hang-up is asked for.
std::atomic<int> gAborts[2];

TEST_P(Comm32ReceiveTest, OperationsAbortedByALineErrorAreIssuedAgain) {
  for (auto& a : gAborts) a = 3;
  comm32::SetAbortSeam([](comm32::TPortOperation op) {
    return op != comm32::TPortOperation::CommEvent &&
           gAborts[op == comm32::TPortOperation::Read ? 0 : 1].fetch_sub(1) > 0;
  });
  struct TClear {
    ~TClear() { comm32::SetAbortSeam(nullptr); }
  } clear;
  int hangups = 0;
  comm_.SetOnRequestHangup([&](TCommPort*) { ++hangups; });
  SimModem modem(1);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
  EXPECT_LT(gAborts[0].load(), 0);
  EXPECT_LT(gAborts[1].load(), 0);
  EXPECT_EQ(modem.Received(), "AT\r");

  Pump(300);
  ASSERT_TRUE(CancelIoEx(comm_.PortHandle(), nullptr)) << GetLastError();
  Pump(300);
  ASSERT_TRUE(Write("ATZ\r"));
  EXPECT_TRUE(WaitForText("ATZ\r\r\nOK\r\n")) << Received();
  EXPECT_EQ(hangups, 0);
}

// Aborts without end (a line that keeps failing) are retried kAbortRetryLimit
// times in a row, then the thread asks its owner to hang up, as for any other
// failed read or write. An aborted comm-event wait counts as an aborted
// read. Polled waits issue no WaitCommEvent, so that row is the pending
// way's alone.
std::atomic<comm32::TPortOperation> gAlwaysAborted{comm32::TPortOperation::Read};

TEST_P(Comm32ReceiveTest, OperationsAbortedAgainAndAgainEndInAHangUpRequest) {
  using Op = comm32::TPortOperation;
  struct TClear {
    ~TClear() { comm32::SetAbortSeam(nullptr); }
  } clear;
  SimModem modem(1);
  for (const Op op : {Op::Read, Op::Write, Op::CommEvent}) {
    if (op == Op::CommEvent && GetParam() == comm32::TPortEventWaits::Polled) continue;
    SCOPED_TRACE(static_cast<int>(op));
    const std::string path = LogPath("aborted-" + std::to_string(static_cast<int>(op)));
    comm_.SetCommsLogFileName(winetest::ToWindowsPath(path));
    int hangups = 0;
    comm_.SetOnRequestHangup([&](TCommPort*) { ++hangups; });
    gAlwaysAborted = op;
    comm32::SetAbortSeam([](Op asked) { return asked == gAlwaysAborted.load(); });
    ASSERT_TRUE(Open());
    if (op == Op::Write) {
      ASSERT_TRUE(Write("AT\r"));
    }
    EXPECT_TRUE(WaitUntil([&] { return hangups > 0; }, kPatienceMs));
    Pump(500);
    comm_.ClosePort();
    comm32::SetAbortSeam(nullptr);
    const std::vector<std::string> lines = LogLines(path);
    // Wine's purge of the output as the transmit thread ends also aborts the
    // receive thread's pending comm-event wait: one retry of its own.
    const auto retries =
        std::count(lines.begin(), lines.end(), "Aborted by a line error; issued again.");
    EXPECT_GE(retries, static_cast<std::ptrdiff_t>(comm32::kAbortRetryLimit));
    EXPECT_LE(retries, static_cast<std::ptrdiff_t>(comm32::kAbortRetryLimit) +
                           (op == Op::Write && GetParam() == comm32::TPortEventWaits::Pending));
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "Aborted by line errors too often; giving up."), 1);
  }
  comm_.SetCommsLogFileName("");
}

// A full queue refuses a post (ERROR_NOT_ENOUGH_QUOTA at 10,000 messages):
// the block is posted again after a pause, and no byte is lost.
std::atomic<int> gRefusedPosts{0};

TEST_P(Comm32ReceiveTest, RefusedPostsAreTriedAgainAndNoByteIsLost) {
  gRefusedPosts = 100;
  comm32::SetPostSeam([] { return gRefusedPosts.fetch_sub(1) > 0; });
  struct TClear {
    ~TClear() { comm32::SetPostSeam(nullptr); }
  } clear;
  SimModem modem(1, "--flood-bytes 30000");
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  ASSERT_TRUE(WaitForFlood(modem, 30000)) << Received().size() << " of " << modem.Sent().size();
  EXPECT_LT(gRefusedPosts.load(), 0) << "not every refusal was met";
  Pump(400);
  EXPECT_EQ(Received(), modem.Sent()) << "lost, doubled or reordered bytes";
}

// A device at another speed gives a framing error per character. 10,000 of
// them in about a second, through the pending comm-event wait that Windows
// runs, reach the owner as a few notices (one per 20 ms at most, their bits
// gathered), so the owner's thread goes on handling its timers while each
// notice costs it a millisecond; what is sent after the storm arrives whole
// and the port closes at once.
TEST_F(Comm32Test, ALineErrorStormReachesTheOwnerAsAFewNotices) {
  comm32::SetPortEventWaits(comm32::TPortEventWaits::Pending);
  struct TClear {
    ~TClear() {
      comm32::SetLineErrorSeam(nullptr);
      comm32::SetPortEventWaits(comm32::TPortEventWaits::Auto);
    }
  } clear;
  const std::string kNotice = "Comm Event: ";
  int notices = 0;
  comm_.SetOnReceiveData([&](const void* buffer, std::uint16_t length) {
    const std::string bytes(static_cast<const char*>(buffer), length);
    if (bytes.rfind(kNotice, 0) == 0) {
      ++notices;
      EXPECT_NE(bytes.find("CE_FRAME"), std::string::npos) << bytes;
      Sleep(1);  // what the owner does with it
      return;
    }
    deliveries_.push_back({bytes, true, GetTickCount64()});
  });
  SimModem modem(1);
  ASSERT_TRUE(Open());
  Pump(300);
  winetest::storm::Arm();
  comm32::SetLineErrorSeam(&winetest::storm::Next);
  // The echo ends the pending wait; the storm follows.
  ASSERT_TRUE(Write("AT\r"));

  const UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
  ULONGLONG last = GetTickCount64(), worst = 0;
  const ULONGLONG end = last + kPatienceMs;
  while (winetest::storm::gLeft.load() > 0 && GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
        const ULONGLONG now = GetTickCount64();
        worst = std::max(worst, now - last);
        last = now;
        continue;
      }
      DispatchMessageA(&msg);
    }
  }
  KillTimer(nullptr, timer);
  ASSERT_LE(winetest::storm::gLeft.load(), 0) << "the storm did not run";
  Pump(200);
  const ULONGLONG stormMs = winetest::storm::gEnd.load() - winetest::storm::gStart.load();
  std::printf(
      "line-error storm: %d errors in %llu ms, %d notices, the owner's timer late by %llu ms at "
      "worst\n",
      winetest::storm::kErrors, static_cast<unsigned long long>(stormMs), notices,
      static_cast<unsigned long long>(worst));
  EXPECT_GE(notices, 1);
  // One per 20 ms, and the last gathered after the storm: about 50 for a
  // storm of a second (a busy machine stretches the storm, not the rule).
  EXPECT_LE(static_cast<ULONGLONG>(notices), stormMs / comm32::kLineErrorNoticeMs + 2)
      << "the storm took " << stormMs << " ms";
  // Generous for a shared machine: a queue full of notices holds timers
  // back for seconds.
  EXPECT_LT(worst, 500u);

  deliveries_.clear();
  ASSERT_TRUE(Write("ATZ\r"));
  EXPECT_TRUE(WaitForText("ATZ\r\r\nOK\r\n")) << Received();
  const ULONGLONG closing = GetTickCount64();
  comm_.ClosePort();
  EXPECT_LT(GetTickCount64() - closing, 1000u);
}

// Reads the DCB of COMn as another program would find it, lets `change`
// alter it (if given) and leaves it so.
DCB ComPortDcb(int com, void (*change)(DCB&) = nullptr) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  const std::string name = "\\\\.\\COM" + std::to_string(com);
  const HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_NE(port, INVALID_HANDLE_VALUE) << name;
  if (port == INVALID_HANDLE_VALUE) return dcb;
  EXPECT_TRUE(GetCommState(port, &dcb));
  if (change != nullptr) {
    change(dcb);
    EXPECT_TRUE(SetCommState(port, &dcb));
  }
  CloseHandle(port);
  return dcb;
}

DWORD FlagWord(const DCB& dcb) {
  DWORD word = 0;
  std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
              sizeof word);
  return word;
}

// A Windows driver keeps the line as the previous program left it; a pty
// under Wine keeps what termios holds (handshake, stop bits), not DTR, the
// abort-on-error flag, 5 data bits or the Xon/Xoff limits. So the line is
// read back where Wine keeps it, and the rest is checked in the one DCB
// OpenPort gives the port.
TEST_F(Comm32Test, OpeningSetsUpThePortAsItsOwnerAsked) {
  SimModem modem(1);
  ComPortDcb(1, [](DCB& left) {
    left.BaudRate = 2400;
    left.fOutxCtsFlow = TRUE;
    left.fRtsControl = RTS_CONTROL_HANDSHAKE;
    left.fDtrControl = DTR_CONTROL_DISABLE;
    left.fAbortOnError = TRUE;
    left.ByteSize = 5;
    left.StopBits = ONE5STOPBITS;
    left.Parity = EVENPARITY;
    left.XonLim = 7;
    left.XoffLim = 9;
    left.XonChar = left.XoffChar = 0;
  });
  const DCB before = ComPortDcb(1);
  ASSERT_TRUE(before.fOutxCtsFlow) << "the handshake is not kept here";
  ASSERT_NE(before.StopBits, ONESTOPBIT);

  std::vector<std::pair<DCB, bool>> given;
  TComm32::TTestSeams seams;
  seams.dcbGiven = [&](const DCB& dcb, bool accepted) { given.emplace_back(dcb, accepted); };
  comm_.SetTestSeams(seams);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
  comm_.ClosePort();

  const DCB after = ComPortDcb(1);
  EXPECT_EQ(after.BaudRate, 115200u);
  EXPECT_FALSE(after.fOutxCtsFlow);
  EXPECT_NE(after.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(after.StopBits, ONESTOPBIT);
  EXPECT_EQ(after.Parity, NOPARITY);
  ASSERT_EQ(given.size(), 1u) << "one SetCommState";
  const DCB& dcb = given[0].first;
  EXPECT_TRUE(given[0].second);
  EXPECT_EQ(FlagWord(dcb), 0x1011u) << "binary, DTR and RTS on, nothing else";
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.XonLim, before.XonLim) << "the driver's, unless the owner sets them";
  EXPECT_EQ(dcb.XoffLim, before.XoffLim);
}

// Every flag set reaches the driver in binary mode, the only one Windows
// supports, with distinct Xon and Xoff characters, which SetCommState
// requires; the set itself stays as the owner gave it.
TEST_F(Comm32Test, EveryFlagSetReachesTheDriverAsADcbItAccepts) {
  SimModem modem(1);
  std::vector<DCB> given;
  TComm32::TTestSeams seams;
  seams.dcbGiven = [&](const DCB& dcb, bool) { given.push_back(dcb); };
  comm_.SetTestSeams(seams);
  ASSERT_TRUE(Open());
  const TFlags sets[] = {
      {},
      {tfcBinary},
      {tfcParity, tfcOutX, tfcInX, tfcTXCntXoff},
      {tfcCtsFlow, tfcDsrFlow, tfcDtrFlow, tfcRtsFlow},
      {tfcDtrDisable, tfcRtsDisable, tfcDsrSens},
      {tfcRtsTog, tfcAbortOnErr, tfcPeChar, tfcNull},
      TFlags(0xFFFF),
  };
  for (const TFlags set : sets) {
    SCOPED_TRACE(set.Word());
    given.clear();
    comm_.SetFlags(set);
    EXPECT_EQ(comm_.Flags(), set);
    ASSERT_EQ(given.size(), 1u);
    EXPECT_EQ(FlagWord(given[0]), comm32::DcbFlagWord(set) | comm32::kFBinary);
    EXPECT_EQ(given[0].XonChar, 0x11);
    EXPECT_EQ(given[0].XoffChar, 0x13);
  }
  comm_.SetFlags({});
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
}

// A driver that refuses the whole DCB (a member it does not support) is
// given the line settings alone: binary, DTR and RTS on, no handshake, no
// abort on error. Both are logged; the port opens either way, since whether
// a device answers on it decides. Windows and Wine refuse 4 data bits in
// both; the seam refuses a first DCB as such a driver would.
TEST_F(Comm32Test, ARefusedPortSetUpIsRetriedWithTheLineSettingsAlone) {
  const struct {
    const char* name;
    TDataBits bits;
    int refusedBySeam;
    bool secondTaken;
  } cases[] = {{"four-data-bits", tdbFour, 0, false}, {"driver-refuses-once", tdbEight, 1, true}};
  SimModem modem(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = LogPath(std::string("refused-") + c.name);
    comm_.SetCommsLogFileName(winetest::ToWindowsPath(path));
    comm_.SetDataBits(c.bits);
    comm_.SetFlags({tfcCtsFlow, tfcRtsFlow, tfcAbortOnErr, tfcOutX});
    std::vector<std::pair<DCB, bool>> given;
    TComm32::TTestSeams seams;
    seams.refusedDcbs = c.refusedBySeam;
    seams.dcbGiven = [&](const DCB& dcb, bool accepted) { given.emplace_back(dcb, accepted); };
    comm_.SetTestSeams(seams);
    deliveries_.clear();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write("AT\r"));
    EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
    comm_.ClosePort();
    comm_.SetTestSeams({});

    ASSERT_EQ(given.size(), 2u);
    EXPECT_FALSE(given[0].second);
    EXPECT_EQ(FlagWord(given[0].first), 0x6115u) << "the owner's flags first";
    EXPECT_EQ(given[1].second, c.secondTaken);
    const DCB& second = given[1].first;
    EXPECT_EQ(FlagWord(second), 0x1011u);
    EXPECT_EQ(second.BaudRate, 115200u);
    EXPECT_EQ(second.ByteSize, comm32::ByteSizeValue(c.bits));
    EXPECT_EQ(second.Parity, NOPARITY);
    EXPECT_EQ(second.StopBits, ONESTOPBIT);
    EXPECT_EQ(second.XonChar, 0x11);
    EXPECT_EQ(second.XoffChar, 0x13);
    const std::vector<std::string> lines = LogLines(path);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                              return line.rfind("Unable to SetCommState: ", 0) == 0;
                            }),
              c.secondTaken ? 1 : 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Port set up with the line settings only."),
              c.secondTaken ? 1 : 0);
  }
  comm_.SetCommsLogFileName("");
}

// A device slow to open (a Bluetooth port connects in CreateFile): the
// owner's thread is not held meanwhile. An open that ends within
// kPortOpenLimitMs gives a working port; a longer one counts as a port that
// cannot be opened and its late handle is closed by the opening thread, also
// when the component is gone by then; ClosePort abandons an open under way at
// once. Each leaves no thread and no handle behind.
TEST_F(Comm32Test, APortSlowToOpenDoesNotHoldItsOwner) {
  SimModem modem(1);
  ASSERT_TRUE(Open());
  comm_.ClosePort();
  Pump(100);
  const std::size_t threads = winetest::ThreadCount();
  const std::uintptr_t handles = winetest::HandleWatermark();
  struct Row {
    DWORD delayMs;
    DWORD closeAfterMs;  // 0: wait for the end
    bool opens;
  };
  for (const Row row : {Row{3000, 0, true}, Row{20000, 0, false}, Row{20000, 300, false}}) {
    SCOPED_TRACE(testing::Message() << row.delayMs << " ms, closed after " << row.closeAfterMs);
    {
      TComm32 slow;
      TComm32::TTestSeams seams;
      seams.openDelayMs = row.delayMs;
      slow.SetTestSeams(seams);
      slow.SetPort(tptOne);
      int ends = 0;
      bool opened = false;
      ULONGLONG endedAt = 0;
      slow.SetOnOpenDone([&](bool o, const std::string&) {
        ++ends;
        opened = o;
        endedAt = GetTickCount64();
      });
      const ULONGLONG start = GetTickCount64();
      slow.BeginOpenPort();
      EXPECT_LT(GetTickCount64() - start, 1000u) << "the owner waited for the open";
      EXPECT_TRUE(slow.OpenPending());
      if (row.closeAfterMs != 0) {
        Pump(row.closeAfterMs);
        const ULONGLONG closing = GetTickCount64();
        slow.ClosePort();
        EXPECT_LT(GetTickCount64() - closing, 1000u);
        EXPECT_FALSE(slow.OpenPending());
        Pump(500);
        EXPECT_EQ(ends, 0) << "an abandoned open was reported";
      } else {
        ASSERT_TRUE(WaitUntil([&] { return ends > 0; }, kPatienceMs));
        EXPECT_EQ(opened, row.opens);
        EXPECT_EQ(slow.IsOpen(), row.opens);
        const ULONGLONG took = endedAt - start;
        EXPECT_GE(took, row.opens ? row.delayMs : comm32::kPortOpenLimitMs);
        EXPECT_LT(took, (row.opens ? row.delayMs : comm32::kPortOpenLimitMs) + 5000u);
        if (row.opens) {
          deliveries_.clear();
          slow.SetOnReceiveData([this](const void* buffer, std::uint16_t length) {
            deliveries_.push_back(
                {std::string(static_cast<const char*>(buffer), length), true, GetTickCount64()});
          });
          ASSERT_TRUE(slow.WritePort("AT\r", 3));
          EXPECT_TRUE(WaitForText("OK\r\n")) << Received();
        }
        slow.ClosePort();
      }
    }
    EXPECT_TRUE(WaitUntil([&] { return winetest::ThreadCount() == threads; },
                          row.closeAfterMs != 0 ? 1000 : kPatienceMs))
        << "the opening thread did not end";
    EXPECT_EQ(winetest::HandleWatermark(), handles) << "the late handle was left open";
  }
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
}

// Windows refuses to open a port another program holds (ERROR_ACCESS_DENIED,
// "Communications Resource Handles"); Wine opens it again. Seam: the open
// fails so. The component says the port is held and logs the reason.
TEST_F(Comm32Test, APortHeldByAnotherProgramIsReportedHeld) {
  SimModem modem(3);
  const std::string path = LogPath("held");
  comm_.SetCommsLogFileName(winetest::ToWindowsPath(path));
  TComm32::TTestSeams seams;
  seams.heldPorts = {tptThree};
  comm_.SetTestSeams(seams);
  EXPECT_FALSE(Open(tptThree));
  EXPECT_TRUE(comm_.PortHeld());
  bool ended = false;
  comm_.SetOnOpenDone([&](bool opened, const std::string&) { ended = !opened; });
  comm_.BeginOpenPort();
  EXPECT_TRUE(WaitUntil([&] { return ended; }, kPatienceMs));
  EXPECT_TRUE(comm_.PortHeld());
  const std::vector<std::string> lines = LogLines(path);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("Port held by another program: ", 0) == 0;
  })) << winetest::ReadUnixFile(path);
  comm_.SetTestSeams({});
  ASSERT_TRUE(Open(tptThree));
  EXPECT_FALSE(comm_.PortHeld());
}

TEST_F(Comm32Test, AnOpenThatCannotStartItsThreadIsAPortThatCannotBeOpened) {
  SimModem modem(1);
  TComm32::TTestSeams seams;
  seams.refusedThread = TComm32::TWorker::Open;
  comm_.SetTestSeams(seams);
  EXPECT_FALSE(Open());
  EXPECT_FALSE(comm_.IsOpen());
  comm_.SetTestSeams({});
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Write("AT\r"));
  EXPECT_TRUE(WaitForText("AT\r\r\nOK\r\n")) << Received();
}

}  // namespace
