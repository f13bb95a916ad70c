// The window in debug mode and on displays of other resolutions. Each case
// runs this program again as a child: with the word DEBUG on its command
// line, or with the display's resolution (read by Wine when a process starts)
// and the registry value DPILogicalX set for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace {

using namespace dialogtest;

const char kPrompt[] = "Please select your country and press [OK]....";

TEST(WindowModesTest, DebugModeShowsTheScriptListDuringTheSwitch) {
  EXPECT_EQ(0u, RunChildTest("DebugHost.DISABLED_ShowsTheScriptList", "DEBUG"));
}

TEST(DebugHost, DISABLED_ShowsTheScriptList) {
  winetest::SimModem modem(1);
  TApplet applet;
  ASSERT_TRUE(applet.Loaded());
  applet.Open(nullptr, [&](HWND dialog) {
    ASSERT_TRUE(Eventually([&] { return Status(dialog) == kPrompt; }, 30000));
    Click(Item(dialog, kIdUPGRADE));
    HWND list = nullptr;
    ASSERT_TRUE(Eventually(
        [&] {
          for (int id : {kIdListBox1, kIdListBox2})
            if (IsWindowVisible(Item(dialog, id))) list = Item(dialog, id);
          return list != nullptr;
        },
        30000));
    ASSERT_EQ(2, SendMessageA(list, LB_GETCOUNT, 0, 0));
    // Both lines lie inside the list's client area, and nothing covers it.
    RECT client = {};
    GetClientRect(list, &client);
    for (int i = 0; i < 2; ++i) {
      RECT line = {};
      SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&line));
      RECT inside = {};
      IntersectRect(&inside, &line, &client);
      EXPECT_TRUE(EqualRect(&inside, &line) && !IsRectEmpty(&line)) << "line " << i;
      char text[64] = {};
      SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      EXPECT_STREQ(i == 0 ? "AT*NC22;1;OK;" : "AT&V5;1;OK;", text);
    }
    RECT place = {};
    GetWindowRect(list, &place);
    POINT centre = {(place.left + place.right) / 2, (place.top + place.bottom) / 2};
    ScreenToClient(dialog, &centre);
    EXPECT_EQ(list, ChildWindowFromPointEx(dialog, centre, CWP_SKIPINVISIBLE));
    RECT dialogClient = {};
    GetClientRect(dialog, &dialogClient);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    RECT inside = {};
    IntersectRect(&inside, &place, &dialogClient);
    EXPECT_TRUE(EqualRect(&inside, &place));
  });
}

// A registry value set for the life of the object, then put back.
class TRegistryValue {
 public:
  TRegistryValue(HKEY root, const char* key, const char* name, DWORD type, const void* data,
                 DWORD size)
      : name_(name) {
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
        ERROR_SUCCESS)
      return;
    DWORD oldSize = sizeof old_;
    had_ = RegQueryValueExA(key_, name, nullptr, &oldType_, old_, &oldSize) == ERROR_SUCCESS;
    oldSize_ = oldSize;
    RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size);
  }
  ~TRegistryValue() {
    if (!key_) return;
    if (had_)
      RegSetValueExA(key_, name_.c_str(), 0, oldType_, old_, oldSize_);
    else
      RegDeleteValueA(key_, name_.c_str());
    RegCloseKey(key_);
  }
  TRegistryValue(const TRegistryValue&) = delete;
  TRegistryValue& operator=(const TRegistryValue&) = delete;

 private:
  HKEY key_ = nullptr;
  std::string name_;
  bool had_ = false;
  DWORD oldType_ = 0;
  BYTE old_[256] = {};
  DWORD oldSize_ = 0;
};

// DPILogicalX tells the orbit to allow for large fonts, and the window scales
// the dialog to the display itself: the satellite must still circle the
// globe as it does at 96 dpi, scaled.
TEST(WindowModesTest, SatelliteKeepsItsOrbitOnScaledDisplays) {
  for (DWORD dpi : {120u, 144u}) {
    SCOPED_TRACE(dpi);
    const std::string text = std::to_string(dpi);
    TRegistryValue display(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD,
                           &dpi, sizeof dpi);
    TRegistryValue logical(HKEY_LOCAL_MACHINE, "Config\\0001\\Display\\Settings", "DPILogicalX",
                           REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    EXPECT_EQ(0u, RunChildTest("DpiHost.DISABLED_SatelliteOnTheScaledOrbit"));
  }
}

TEST(DpiHost, DISABLED_SatelliteOnTheScaledOrbit) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  ASSERT_NE(96, dpi) << "the display's resolution was not set";
  // The satellite's top left at 96 dpi, one place per 5 degrees, scaled.
  std::vector<POINT> orbit;
  for (int degrees = 0; degrees < 360; degrees += 5) {
    const double r = degrees * 3.14159265358979323846 / 180;
    orbit.push_back({Scaled(static_cast<int>(std::nearbyint(70 - 70 * std::cos(r)))),
                     Scaled(static_cast<int>(std::nearbyint(74 - 70 * std::sin(r))) + 52)});
  }
  TApplet applet;
  ASSERT_TRUE(applet.Loaded());
  applet.Open(nullptr, [&](HWND dialog) {
    HWND satellite = Item(dialog, kIdImage2);
    EXPECT_EQ(Scaled(33), PlaceInParent(satellite).right - PlaceInParent(satellite).left);
    // Two places on the orbit, as the satellite's control follows it.
    std::vector<RECT> seen = {PlaceInParent(satellite)};
    EXPECT_TRUE(Eventually(
        [&] {
          const RECT now = PlaceInParent(satellite);
          if (!EqualRect(&now, &seen.back())) seen.push_back(now);
          return seen.size() == 3;
        },
        30000));
    for (size_t i = 1; i < seen.size(); ++i) {
      bool onOrbit = false;
      for (const POINT& p : orbit) onOrbit = onOrbit || (p.x == seen[i].left && p.y == seen[i].top);
      EXPECT_TRUE(onOrbit) << seen[i].left << "," << seen[i].top;
    }
  });
}

}  // namespace
