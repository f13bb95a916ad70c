// The settings window with a serial component whose seams make happen what
// Windows does and Wine does not: a port held by another program, a device
// slow to open (docs/RELIABILITY.md, "Windows and Wine differ here").
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "OwnerWindow.h"
#include "ProcessProbe.h"
#include "WineTest.h"
#include "comm32/CommLogic.h"
#include "comm32/win/Comm32.h"
#include "wfload/DialogState.h"
#include "wfload/win/ControlIds.h"
#include "wfload/win/DialogWindow.h"

namespace {

using namespace dialogtest;

const char kSelectCountry[] = "Please select your country and press [OK]....";

class PortSeamsTest : public OwnerWindowTest {
 protected:
  // Shows the dialog, as the applet does, over a component with `seams`.
  void Open(const TComm32::TTestSeams& seams, const std::function<void(HWND)>& script) {
    ResetDialogState();
    auto comm = std::make_unique<TComm32>();
    comm->SetTestSeams(seams);
    TDialogWindow window(GetModuleHandleA(nullptr), std::move(comm));
    RunDialog(
        [&] {
          window.RunModal(owner_);
          return 1L;
        },
        script);
  }

  static TComm32::TTestSeams SlowPort(TPort port, DWORD ms) {
    TComm32::TTestSeams seams;
    seams.slowPort = port;
    seams.openDelayMs = ms;
    return seams;
  }

  // The dialog answers a message within half a second, every 200 ms for ms.
  static bool StaysResponsive(HWND dialog, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
      DWORD_PTR result = 0;
      if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &result)) return false;
      Sleep(200);
    }
    return true;
  }
};

// COM3 is held by another program (Windows: ERROR_ACCESS_DENIED): the
// failure names it on a line after its own text.
TEST_F(PortSeamsTest, HeldPortIsNamedAfterTheFailure) {
  TComm32::TTestSeams seams;
  seams.heldPorts = {tptThree};
  Open(seams, [&](HWND dialog) {
    HWND box = WaitForMessageBox(dialog, 60000);
    ASSERT_NE(nullptr, box) << Status(dialog);
    EXPECT_EQ("No modem detect ??\nCOM3 is in use by another program.", MessageBoxText(box));
    PressOk(box);
    EXPECT_TRUE(Closes(dialog));
  });
}

// COM1 takes 3 s to open: the dialog stays responsive meanwhile, finds the
// modem and switches it (OK opens the port the same way, 3 s again).
TEST_F(PortSeamsTest, ModemBehindASlowOpenIsFoundAndSwitched) {
  winetest::SimModem modem(1, "--country B5");
  Open(SlowPort(tptOne, 3000), [&](HWND dialog) {
    ASSERT_TRUE(Eventually([&] { return Status(dialog) == "Detecting COM1..."; }, 30000));
    EXPECT_TRUE(StaysResponsive(dialog, 2000));
    EXPECT_TRUE(modem.Commands().empty()) << "the port opened before its 3 s";
    ASSERT_TRUE(Eventually([&] { return Status(dialog) == kSelectCountry; }, 60000))
        << Status(dialog);
    EXPECT_EQ("COM1", Text(Item(dialog, kIdComPort)));
    ASSERT_TRUE(Choose(Item(dialog, kIdComboBox1), "Japan"));
    Click(Item(dialog, kIdUPGRADE));
    EXPECT_TRUE(StaysResponsive(dialog, 2000));
    HWND box = WaitForMessageBox(dialog, 60000);
    ASSERT_NE(nullptr, box) << Status(dialog);
    EXPECT_EQ(" Modem reset OK !!     ", MessageBoxText(box));
    PressOk(box);
    EXPECT_TRUE(Closes(dialog));
  });
  EXPECT_EQ(0x00, modem.CountryCode());
}

// COM1 would take 20 s: after kPortOpenLimitMs it counts as a port that
// cannot be opened and the scan goes on to the modem on COM2.
TEST_F(PortSeamsTest, OpenTakingTwentySecondsCountsAsAPortThatCannotBeOpened) {
  winetest::SimModem first(1, "--country B5");
  winetest::SimModem modem(2, "--country B5");
  Open(SlowPort(tptOne, 20000), [&](HWND dialog) {
    const ULONGLONG shown = GetTickCount64();
    ASSERT_TRUE(Eventually([&] { return Status(dialog) == kSelectCountry; }, 90000))
        << Status(dialog);
    EXPECT_GE(GetTickCount64() - shown, comm32::kPortOpenLimitMs);
    EXPECT_EQ("COM2", Text(Item(dialog, kIdComPort)));
  });
  EXPECT_TRUE(first.Commands().empty());
}

// Cancel while COM1 takes 20 s to open: the dialog closes within a second,
// leaving no thread and no handle behind.
TEST_F(PortSeamsTest, CancelDuringASlowOpenClosesAtOnce) {
  const std::size_t threads = winetest::ThreadCount();
  const std::uintptr_t handles = winetest::HandleWatermark();
  ULONGLONG closedIn = 0;
  Open(SlowPort(tptOne, 20000), [&](HWND dialog) {
    ASSERT_TRUE(Eventually([&] { return Status(dialog) == "Detecting COM1..."; }, 30000));
    Sleep(1000);
    const ULONGLONG pressed = GetTickCount64();
    Click(Item(dialog, kIdCancel));
    EXPECT_TRUE(Closes(dialog));
    closedIn = GetTickCount64() - pressed;
  });
  EXPECT_LT(closedIn, 1000u);
  EXPECT_TRUE(Eventually([&] { return winetest::ThreadCount() == threads; }, 1000))
      << "the opening thread still runs";
  EXPECT_EQ(winetest::HandleWatermark(), handles);
}

}  // namespace
