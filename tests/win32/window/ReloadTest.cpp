// ctyset2.cpl loaded, used and freed again and again in one process, as a
// Control Panel host may do. Under Wine 8 a library whose serial component
// has run stays loaded (comm32/win/Comm32.cpp, docs/ARCHITECTURE.md).
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "OwnerWindow.h"
#include "ProcessProbe.h"
#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace {

using namespace dialogtest;

DWORD WINAPI DoNothing(void*) { return 0; }

class ReloadTest : public OwnerWindowTest {
 protected:
  // Loads the library, opens the dialog with `script`, frees the library.
  // Returns the module's address while it was loaded.
  HMODULE Round(const std::function<void(HWND)>& script) {
    TApplet applet;
    EXPECT_TRUE(applet.Loaded());
    if (!applet.Loaded()) return nullptr;
    const HMODULE module = GetModuleHandleA("ctyset2.cpl");
    EXPECT_EQ(1, Open(applet, script));
    return module;
  }

  // Nothing of a freed loading is left: no thread (Wine keeps one of its own
  // from the first window on, so `threads` is counted after a first
  // opening), no window class.
  void ExpectNothingLeft(HMODULE module, std::size_t threads) {
    EXPECT_TRUE(winetest::WaitUntil([&] { return winetest::ThreadCount() == threads; }, 20000))
        << winetest::ThreadCount() << " threads, " << threads << " before";
    ExpectNoWindowClass(module);
  }
  static void ExpectNoWindowClass(HMODULE module) {
    WNDCLASSA wc;
    EXPECT_FALSE(GetClassInfoA(module, kSettingsWindowClass, &wc));
    EXPECT_FALSE(GetClassInfoA(module, "TComm32Window", &wc));
  }
};

TEST_F(ReloadTest, FiveLoadingsThatRunTheSerialThreadsThenAnother) {
  {
    SCOPED_TRACE("no modem: no port opened, the library is unloaded");
    const HMODULE module = Round([](HWND dialog) {
      HWND box = WaitForMessageBox(dialog, 60000);
      ASSERT_NE(nullptr, box);
      EXPECT_EQ("No modem detect ??", MessageBoxText(box));
      PressOk(box);
      EXPECT_TRUE(Closes(dialog));
    });
    EXPECT_EQ(nullptr, GetModuleHandleA("ctyset2.cpl"));
    ExpectNoWindowClass(module);
  }
  const std::size_t threads = winetest::ThreadCount();

  winetest::SimModem modem(1);
  HMODULE first = nullptr;
  for (int round = 1; round <= 5; ++round) {
    SCOPED_TRACE(round);
    const std::size_t before = modem.Commands().size();
    const HMODULE module = Round([&](HWND dialog) {
      // Commands through the transmit thread, replies through the receive
      // thread, and many comm-event waits.
      ASSERT_TRUE(Eventually([&] { return modem.Commands().size() >= before + 4; }, 60000));
      Click(Item(dialog, kIdCancel));
      EXPECT_TRUE(Closes(dialog));
    });
    ExpectNothingLeft(module, threads);
    // Short-lived threads between two loadings, as a host has them: they
    // reuse the thread blocks of ended threads.
    for (int i = 0; i < 20; ++i) {
      HANDLE t = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
      ASSERT_NE(nullptr, t);
      WaitForSingleObject(t, INFINITE);
      CloseHandle(t);
    }
    // Under Wine the library stays loaded once a port has run, at one address.
    if (first == nullptr) first = module;
    EXPECT_EQ(first, module);
    EXPECT_EQ(first, GetModuleHandleA("ctyset2.cpl"));
  }
}

}  // namespace
