// Wine's Control Panel host opens ctyset2.cpl by name and shows the dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace {

const char kCaption[] = "Modem Regional Settings 2.3";

// Presses Cancel on the dialog; true once the host has ended.
bool CancelAndAwaitEnd(HWND dialog, winetest::Process& host) {
  HWND cancel = winetest::FindChild(dialog, "Button", "Cancel");
  EXPECT_NE(nullptr, cancel);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(cancel, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  return host.WaitExit(30000);
}

TEST(ControlPanelHost, OpensTheDialogAndEndsAfterCancel) {
  winetest::Process host(winetest::ControlPanelCommand(winetest::AppletPath()));
  ASSERT_TRUE(host.Started()) << GetLastError();
  HWND dialog = winetest::WaitForWindow(kCaption, 0, 60000);
  ASSERT_NE(nullptr, dialog) << "the dialog did not appear";
  EXPECT_TRUE(CancelAndAwaitEnd(dialog, host)) << "the host did not end after Cancel";
  EXPECT_FALSE(IsWindow(dialog));
}

// Words after the applet's name ("ctyset2.cpl,,DEBUG") reach the applet with
// CPL_STARTWPARMS and count as words of the command line; the host then
// opens the applet once (it ends after one Cancel). In debug mode the
// transcript is shown.
TEST(ControlPanelHost, WordsGivenWithTheAppletNameReachTheDialog) {
  const std::string applet = winetest::AppletPath();
  const std::string runDll = "rundll32.exe shell32.dll,Control_RunDLL " + applet;
  const struct {
    const char* name;
    std::string command;
    bool debug;
  } cases[] = {{"control", "control.exe " + applet + ",,DEBUG", true},
               {"rundll32", runDll + ",,DEBUG", true},
               {"rundll32 without words", runDll, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    winetest::Process host(c.command);
    ASSERT_TRUE(host.Started()) << GetLastError();
    HWND dialog = winetest::WaitForWindow(kCaption, host.Id(), 60000);
    ASSERT_NE(nullptr, dialog) << "the dialog did not appear";
    HWND memo =
        winetest::FindChildWindow(dialog, [](HWND w) { return GetDlgCtrlID(w) == kIdMemo1; });
    ASSERT_NE(nullptr, memo);
    EXPECT_EQ(c.debug, IsWindowVisible(memo) != FALSE);
    EXPECT_TRUE(CancelAndAwaitEnd(dialog, host)) << "the host did not end after one Cancel";
  }
}

}  // namespace
