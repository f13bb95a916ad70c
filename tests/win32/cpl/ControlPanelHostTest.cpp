// Wine's Control Panel host opens ctyset2.cpl by name and shows the dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTest.h"

namespace {

TEST(ControlPanelHost, OpensTheDialogAndEndsAfterCancel) {
  winetest::Process host(winetest::ControlPanelCommand(winetest::AppletPath()));
  ASSERT_TRUE(host.Started()) << GetLastError();
  HWND dialog = winetest::WaitForWindow("Modem Regional Settings 2.3", 0, 60000);
  ASSERT_NE(nullptr, dialog) << "the dialog did not appear";
  HWND cancel = winetest::FindChild(dialog, "Button", "Cancel");
  ASSERT_NE(nullptr, cancel);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(cancel, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  EXPECT_TRUE(host.WaitExit(30000)) << "the host did not end after Cancel";
  EXPECT_FALSE(IsWindow(dialog));
}

}  // namespace
