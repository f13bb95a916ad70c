// ctyset2.cpl loaded, used and unloaded again and again in one process, as a
// Control Panel host may do: each round opens the dialog, lets it open COM1
// (so the serial component's threads run), cancels it and frees the library.
#include <windows.h>

#include <gtest/gtest.h>

#include "DialogDriver.h"
#include "ProcessProbe.h"
#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace {

using namespace dialogtest;

TEST(ReloadTest, FiveRoundsOfLoadDetectCancelUnload) {
  winetest::SimModem modem(1);
  HWND owner = CreateWindowA("STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                             nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, owner);
  const std::size_t threads = winetest::ThreadCount();
  for (int round = 1; round <= 5; ++round) {
    SCOPED_TRACE(round);
    const std::size_t before = modem.Commands().size();
    {
      TApplet applet;
      ASSERT_TRUE(applet.Loaded());
      EXPECT_EQ(1, applet.Open(owner, [&](HWND dialog) {
        ASSERT_NE(nullptr, dialog);
        // A whole detection: commands through the transmit thread, replies
        // through the receive thread, many comm-event waits.
        ASSERT_TRUE(Eventually([&] { return modem.Commands().size() >= before + 4; }, 60000));
        Click(Item(dialog, kIdCancel));
        EXPECT_TRUE(Eventually([&] { return !IsWindow(dialog); }, 30000));
      }));
    }
    // Short-lived threads between two loadings, as a host has them.
    for (int i = 0; i < 20; ++i) {
      HANDLE t = CreateThread(nullptr, 0, [](void*) -> DWORD { return 0; }, nullptr, 0, nullptr);
      WaitForSingleObject(t, INFINITE);
      CloseHandle(t);
    }
    EXPECT_EQ(nullptr, GetModuleHandleA("ctyset2.cpl"));
    // Nothing of the library outlives it: no thread, no window class.
    EXPECT_EQ(threads, winetest::ThreadCount());
    WNDCLASSA wc;
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), kSettingsWindowClass, &wc));
    EXPECT_FALSE(GetClassInfoA(nullptr, "TComm32Window", &wc));
  }
  DestroyWindow(owner);
}

}  // namespace
