// The dialog while a device at another speed floods its port with framing
// errors, through the pending comm-event wait that Windows runs: it keeps
// answering, and Cancel, posted behind whatever the port has posted, closes
// it at once. The dialog runs in a child process of this program, built from
// the libraries (not loaded from ctyset2.cpl) so that the serial seams reach
// it; the pending waits' helper threads under Wine then harm no later load.
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

}  // namespace
