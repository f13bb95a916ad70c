// The dialog while its port fills the queue: a device at another speed that
// floods the port with framing errors, through the pending comm-event wait
// that Windows runs (the dialog keeps answering, and Cancel, posted behind
// whatever the port has posted, closes it at once), and received blocks by
// the thousand (its timers keep running). Each case runs the dialog in a
// child process of this program, built from the libraries (not loaded from
// ctyset2.cpl) so that the serial seams reach it; the pending waits' helper
// threads under Wine then harm no later load.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "DialogDriver.h"
#include "LineErrorStorm.h"
#include "comm32/win/Comm32.h"
#include "comm32/win/CommThread.h"
#include "comm32/win/TestSeams.h"
#include "wfload/win/ControlIds.h"
#include "wfload/win/DialogWindow.h"

namespace {

using namespace dialogtest;

TEST(StormTest, TheDialogKeepsAnsweringDuringALineErrorStorm) {
  EXPECT_EQ(0u, RunChildTest("StormHost.DISABLED_DialogDuringAStorm"));
}

TEST(StormHost, DISABLED_DialogDuringAStorm) {
  comm32::SetPortEventWaits(comm32::TPortEventWaits::Pending);
  storm::Arm();
  comm32::SetLineErrorSeam(&storm::Next);
  SimModem modem(1);
  ULONGLONG worst = 0, closing = 0;
  HWND dialog = nullptr;
  std::thread script([&] {
    dialog = WaitForWindow(TForm1::kCaption, GetCurrentProcessId(), 60000);
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Eventually([] { return storm::gLeft.load() < storm::kErrors * 9 / 10; }, 60000))
        << "no storm";
    // Half the storm: every 10 ms a message the dialog must answer.
    while (storm::gLeft.load() > storm::kErrors / 2) {
      const ULONGLONG sent = GetTickCount64();
      DWORD_PTR result = 0;
      SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
      worst = std::max(worst, GetTickCount64() - sent);
      Sleep(10);
    }
    const ULONGLONG start = GetTickCount64();
    Click(Item(dialog, kIdCancel));
    Eventually([&] { return !IsWindowVisible(dialog); }, 30000);
    closing = GetTickCount64() - start;
  });
  TDialogWindow window(GetModuleHandleA(nullptr), std::make_unique<TComm32>());
  window.RunModal(nullptr);
  script.join();
  comm32::SetLineErrorSeam(nullptr);
  std::printf("storm: the dialog answered within %llu ms at worst, Cancel took %llu ms\n",
              static_cast<unsigned long long>(worst), static_cast<unsigned long long>(closing));
  // Generous for a shared machine; a queue full of notices holds Cancel back
  // for seconds.
  EXPECT_LT(worst, 500u);
  EXPECT_LT(closing, 1000u);
}

// A port that fills the queue with received blocks (posted messages, which
// come before timers) does not hold the dialog's timers back: after 50 ms of
// the component's messages the modal loop lets them in. The blocks are
// posted straight to the component's window, as its receive thread does.
TEST(StormTest, TimersRunWhileReceivedBlocksFillTheQueue) {
  EXPECT_EQ(0u, RunChildTest("FloodHost.DISABLED_TimersDuringAFlood"));
}

std::atomic<long> gBlocksTaken{0};
std::atomic<ULONGLONG> gLastTimer{0}, gWorstTimerGap{0};
std::atomic<bool> gFlooding{false};

// Sees each message the dialog's thread takes from its queue.
LRESULT CALLBACK WatchQueue(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* msg = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    if (msg->message == WM_COMMDATA) ++gBlocksTaken;
    if (msg->message == WM_TIMER && gFlooding.load()) {
      const ULONGLONG now = GetTickCount64();
      const ULONGLONG last = gLastTimer.exchange(now);
      if (last != 0 && now - last > gWorstTimerGap.load()) gWorstTimerGap = now - last;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(FloodHost, DISABLED_TimersDuringAFlood) {
  static constexpr long kBlocks = 8000;
  SimModem modem(1, "--silent");
  const HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, &WatchQueue, nullptr, GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  ULONGLONG floodMs = 0;
  std::thread script([&] {
    HWND dialog = WaitForWindow(TForm1::kCaption, GetCurrentProcessId(), 60000);
    ASSERT_NE(nullptr, dialog);
    // COM1 is open (the ladder's first command reached the modem): its
    // opening is the component's first.
    ASSERT_TRUE(Eventually([&] { return !modem.Received().empty(); }, 60000));
    HWND port = FindWindowExA(HWND_MESSAGE, nullptr, "TComm32Window", nullptr);
    ASSERT_NE(nullptr, port);
    const ULONGLONG start = GetTickCount64();
    gFlooding = true;
    for (long i = 0; i < kBlocks; ++i) {
      char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, 2));
      block[0] = 'x';
      PostMessageA(port, WM_COMMDATA, MAKEWPARAM(1, 1), reinterpret_cast<LPARAM>(block));
    }
    Eventually([] { return gBlocksTaken.load() >= kBlocks; }, 60000);
    gFlooding = false;
    floodMs = GetTickCount64() - start;
    Click(Item(dialog, kIdCancel));
  });
  TDialogWindow window(GetModuleHandleA(nullptr), std::make_unique<TComm32>());
  window.RunModal(nullptr);
  script.join();
  UnhookWindowsHookEx(hook);
  std::printf("flood: %ld blocks in %llu ms, timers at most %llu ms apart\n", gBlocksTaken.load(),
              static_cast<unsigned long long>(floodMs),
              static_cast<unsigned long long>(gWorstTimerGap.load()));
  EXPECT_GE(gBlocksTaken.load(), kBlocks);
  EXPECT_LT(gWorstTimerGap.load(), 500u);
}

}  // namespace
