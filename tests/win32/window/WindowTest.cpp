// The settings dialog's real window under Wine, opened through CPlApplet in
// this process, and the platform services the window hands to the dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "OwnerWindow.h"
#include "WineTest.h"
#include "wfload/win/ControlIds.h"
#include "wfload/win/HostServices.h"

namespace {

using namespace dialogtest;

const char kCaption[] = "Modem Regional Settings 2.3";
const char kDetecting[] = "Detecting Modem Now....";

const std::vector<std::string> kDesignCountries = {
    "Australia",   "Austria",     "Belginum",
    "Canada",      "China",       "Czechoslovkia",
    "Denmark",     "Finland",     "France",
    "Germany",     "HongKong",    "Indonesia",
    "Ireland",     "Italy",       "Japan",
    "Korea",       "Luxembourg",  "Malaysia",
    "Netherlands", "NewZealand",  "North America (USA)",
    "Norway",      "Portland",    "Portugal",
    "Singapore",   "SouthAfrica", "Spain",
    "Sweden",      "Switzerland", "Taiwan",
    "U.K"};

bool SameClass(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

struct TVisibleQuery {
  std::vector<int> ids;
};

BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM param) {
  // A combo box's own edit belongs to the combo box.
  if (SameClass(ClassOf(GetParent(hwnd)), "ComboBox")) return TRUE;
  if (IsWindowVisible(hwnd))
    reinterpret_cast<TVisibleQuery*>(param)->ids.push_back(GetDlgCtrlID(hwnd));
  return TRUE;
}

std::vector<int> VisibleControls(HWND dialog) {
  TVisibleQuery q;
  EnumChildWindows(dialog, CollectVisible, reinterpret_cast<LPARAM>(&q));
  std::sort(q.ids.begin(), q.ids.end());
  return q.ids;
}

std::vector<int> Sorted(std::vector<int> ids) {
  std::sort(ids.begin(), ids.end());
  return ids;
}

SIZE ClientSize(HWND hwnd) {
  RECT r = {};
  GetClientRect(hwnd, &r);
  return {r.right, r.bottom};
}

bool HasDesignClientSize(HWND dialog) {
  const SIZE s = ClientSize(dialog);
  return s.cx == Scaled(369) && s.cy == Scaled(257);
}

// Text colour the window gives a static control (asked as the control asks).
COLORREF StaticTextColour(HWND control) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageA(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(control));
  const COLORREF colour = GetTextColor(dc);
  DeleteDC(dc);
  return colour;
}

using SettingsWindowTest = LoadedAppletTest;

const std::vector<int> kAlwaysVisible = {kIdFirmware, kIdICtype, kIdComboBox1, kIdImage1, kIdImage2,
                                         kIdUPGRADE,  kIdCancel, kIdPanel1,    kIdPanel14};

struct TDesignedControl {
  int id;
  const char* className;
  const char* text;
  int parent;                    // 0: the window itself
  int left, top, width, height;  // design pixels; height -1: not checked
};

const TDesignedControl kDesign[] = {
    {kIdFirmware, "Button", "", 0, 0, 0, 369, 257},
    {kIdICtype, "Static", "COUNTRY:", kIdFirmware, 10, 16, 71, 16},
    {kIdComboBox1, "ComboBox", "", kIdFirmware, 8, 36, 345, -1},
    {kIdImage1, "Static", "", kIdFirmware, 32, 86, 137, 121},
    {kIdUPGRADE, "Button", "OK", kIdFirmware, 200, 88, 89, 33},
    {kIdCancel, "Button", "Cancel", kIdFirmware, 200, 144, 89, 33},
    {kIdPanel1, "Static", "", kIdFirmware, 2, 225, 365, 30},
    {kIdPanel7, "Static", "Panel7", kIdFirmware, 8, 72, 161, 25},
    {kIdPanel8, "Static", "Panel8", kIdFirmware, 160, 72, 177, 25},
    {kIdLabel1, "Static", "COM PORT:", kIdFirmware, 10, 24, 76, 16},
    {kIdComPort, "ComboBox", "COM1", kIdFirmware, 26, 36, 95, -1},
    {kIdMemo1, "Edit", "Memo1", 0, 64, 104, 201, 121},
};

// The detection status, as the dialog opens or, on a busy machine, after the
// scan's first steps have already named a port.
bool ShowsDetection(HWND dialog) {
  const std::string status = Status(dialog);
  return status == kDetecting || status.rfind("Detecting COM", 0) == 0;
}

TEST_F(SettingsWindowTest, ShowsTheDesignedControlsAndClosesOnCancel) {
  const LONG result = Open([&](HWND dialog) {
    EXPECT_TRUE(ShowsDetection(dialog)) << Status(dialog);

    EXPECT_EQ(kCaption, Text(dialog));
    EXPECT_EQ(kCaption, ClassOf(dialog));
    EXPECT_EQ(owner_, GetWindow(dialog, GW_OWNER));
    const LONG_PTR style = GetWindowLongPtrA(dialog, GWL_STYLE);
    for (LONG_PTR bit : {WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX})
      EXPECT_EQ(bit, style & bit);
    EXPECT_NE(0u, GetClassLongPtrA(dialog, GCLP_HICON));
    EXPECT_TRUE(HasDesignClientSize(dialog));
    RECT w = {};
    GetWindowRect(dialog, &w);
    EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) / 2, (w.left + w.right) / 2, 1);
    EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) / 2, (w.top + w.bottom) / 2, 1);

    EXPECT_EQ(Sorted(kAlwaysVisible), VisibleControls(dialog));
    for (int id : {kIdListBox1, kIdListBox2, kIdResponseList, kIdIDlist, kIdINTList, kIdDEMlist,
                   kIdLINTList, kIdLDEMList, kIdINT2List, kIdDEM2List, kIdPCI2List, kIdAllList}) {
      HWND list = Item(dialog, id);
      ASSERT_NE(nullptr, list) << id;
      EXPECT_TRUE(SameClass(ClassOf(list), "ListBox")) << id;
    }
    EXPECT_EQ(Item(dialog, kIdFirmware), GetParent(Item(dialog, kIdLINTList)));

    for (const TDesignedControl& c : kDesign) {
      SCOPED_TRACE(c.text);
      HWND hwnd = Item(dialog, c.id);
      ASSERT_NE(nullptr, hwnd) << c.id;
      EXPECT_TRUE(SameClass(ClassOf(hwnd), c.className)) << ClassOf(hwnd);
      // The scan's first step empties the transcript; on a busy machine it
      // may have run already.
      if (c.id == kIdMemo1) {
        const std::string text = Text(hwnd);
        EXPECT_TRUE(text == c.text || text.empty()) << text;
      } else if (c.id != kIdPanel1) {
        EXPECT_EQ(c.text, Text(hwnd));
      }
      EXPECT_EQ(c.parent == 0 ? dialog : Item(dialog, c.parent), GetParent(hwnd));
      const RECT r = PlaceInParent(hwnd);
      EXPECT_EQ(Scaled(c.left), r.left);
      EXPECT_EQ(Scaled(c.top), r.top);
      EXPECT_EQ(Scaled(c.width), r.right - r.left);
      if (c.height >= 0) {
        EXPECT_EQ(Scaled(c.height), r.bottom - r.top);
      }
    }
    // The status line fills its panel.
    HWND status = Item(dialog, kIdPanel14);
    EXPECT_EQ(Item(dialog, kIdPanel1), GetParent(status));
    RECT inner = {};
    GetClientRect(Item(dialog, kIdPanel1), &inner);
    const RECT statusPlace = PlaceInParent(status);
    EXPECT_TRUE(EqualRect(&inner, &statusPlace));
    EXPECT_EQ(RGB(0, 0, 255), StaticTextColour(status));
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), StaticTextColour(Item(dialog, kIdICtype)));

    HWND countries = Item(dialog, kIdComboBox1);
    const LONG_PTR comboStyle = GetWindowLongPtrA(countries, GWL_STYLE);
    EXPECT_EQ(CBS_DROPDOWN, comboStyle & 3);
    EXPECT_EQ(CBS_SORT, comboStyle & CBS_SORT);
    std::vector<std::string> want = kDesignCountries;
    std::vector<std::string> got = ComboItems(countries);
    auto caseless = [](const std::string& a, const std::string& b) {
      return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    };
    std::sort(want.begin(), want.end(), caseless);
    EXPECT_EQ(want, got);
    HWND ports = Item(dialog, kIdComPort);
    EXPECT_EQ(
        std::vector<std::string>({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}),
        ComboItems(ports));
    EXPECT_FALSE(IsWindowEnabled(ports));

    // Tab order: country box, OK, Cancel.
    EXPECT_EQ(Item(dialog, kIdUPGRADE), GetNextDlgTabItem(dialog, countries, FALSE));
    EXPECT_EQ(Item(dialog, kIdCancel), GetNextDlgTabItem(dialog, Item(dialog, kIdUPGRADE), FALSE));

    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Item(dialog, kIdICtype), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_STREQ("System", font.lfFaceName);
    EXPECT_EQ(-Scaled(13), font.lfHeight);

    // The satellite orbits.
    HWND orbiter = Item(dialog, kIdImage2);
    const RECT before = PlaceInParent(orbiter);
    EXPECT_EQ(Scaled(33), before.right - before.left);
    EXPECT_TRUE(Eventually(
        [&] {
          const RECT now = PlaceInParent(orbiter);
          return !EqualRect(&now, &before);
        },
        30000));

    EXPECT_FALSE(IsWindowEnabled(owner_));
    Click(Item(dialog, kIdCancel));
    EXPECT_TRUE(Closes(dialog));
  });
  EXPECT_EQ(1, result);
  EXPECT_TRUE(IsWindowEnabled(owner_));
  EXPECT_EQ(nullptr, FindWindowA(kSettingsWindowClass, nullptr));
}

TEST_F(SettingsWindowTest, ResizeIsUndoneAndTheWindowPulledBackOnScreen) {
  Open([&](HWND dialog) {
    SetWindowPos(dialog, nullptr, 0, 0, 700, 600, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(Eventually([&] { return HasDesignClientSize(dialog); }, 30000));

    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(dialog, nullptr, screenWidth - 50, screenHeight - 50, 300, 200,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RECT w = {};
    EXPECT_TRUE(Eventually(
        [&] {
          GetWindowRect(dialog, &w);
          return HasDesignClientSize(dialog) && w.right <= screenWidth && w.bottom <= screenHeight;
        },
        30000))
        << w.left << "," << w.top << " " << w.right << "," << w.bottom;

    ShowWindow(dialog, SW_MAXIMIZE);
    EXPECT_TRUE(
        Eventually([&] { return !IsZoomed(dialog) && HasDesignClientSize(dialog); }, 30000));
  });
}

// Every opening in one loading of the library starts afresh, and each way of
// closing ends the modal run.
TEST_F(SettingsWindowTest, ThreeOpeningsClosedByButtonCloseBoxAndEscape) {
  const auto closeBy = [](int way, HWND dialog) {
    switch (way) {
      case 0:
        Click(Item(dialog, kIdCancel));
        break;
      case 1:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
      default: {
        COMBOBOXINFO info = {};
        info.cbSize = sizeof info;
        GetComboBoxInfo(Item(dialog, kIdComboBox1), &info);
        PostMessageA(info.hwndItem, WM_KEYDOWN, VK_ESCAPE, 0);
        break;
      }
    }
  };
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    const LONG result = Open([&](HWND dialog) {
      EXPECT_TRUE(ShowsDetection(dialog)) << Status(dialog);
      EXPECT_EQ(kDesignCountries.size(), ComboItems(Item(dialog, kIdComboBox1)).size());
      EXPECT_EQ(Sorted(kAlwaysVisible), VisibleControls(dialog));
      closeBy(way, dialog);
      EXPECT_TRUE(Closes(dialog));
    });
    EXPECT_EQ(1, result);
    EXPECT_TRUE(IsWindowEnabled(owner_));
  }
}

TEST_F(SettingsWindowTest, TypingInTheCountryBoxOpensTheListAndIsDiscarded) {
  Open([&](HWND dialog) {
    HWND countries = Item(dialog, kIdComboBox1);
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(countries, &info));
    PostMessageA(info.hwndItem, WM_CHAR, 'x', 0);
    EXPECT_TRUE(
        Eventually([&] { return SendMessageA(countries, CB_GETDROPPEDSTATE, 0, 0) != 0; }, 30000));
    EXPECT_EQ("", Text(countries));
    SendMessageA(countries, CB_SHOWDROPDOWN, FALSE, 0);
  });
}

// The word DEBUG on the host's command line: this program runs itself again
// with it.
TEST_F(SettingsWindowTest, DebugWordShowsTheReplyPanelsAndTheTranscript) {
  EXPECT_EQ(0u, RunChildTest("DebugHost.DISABLED_ShowsPanels", "DEBUG"));
}

TEST(DebugHost, DISABLED_ShowsPanels) {
  TApplet applet;
  ASSERT_TRUE(applet.Loaded());
  applet.Open(nullptr, [&](HWND dialog) {
    std::vector<int> want = kAlwaysVisible;
    want.insert(want.end(), {kIdPanel7, kIdPanel8, kIdMemo1});
    EXPECT_EQ(Sorted(want), VisibleControls(dialog));
    EXPECT_EQ("Panel7", Text(Item(dialog, kIdPanel7)));
    EXPECT_EQ("Panel8", Text(Item(dialog, kIdPanel8)));
    HWND memo = Item(dialog, kIdMemo1);
    EXPECT_EQ(ES_MULTILINE, GetWindowLongPtrA(memo, GWL_STYLE) & ES_MULTILINE);
    EXPECT_EQ(0, GetWindowLongPtrA(memo, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL));
  });
}

// ---------------------------------------------------------------------------
// Platform services

class LocalMachineStringTest : public ::testing::Test {
 protected:
  static constexpr const char* kKey = "Software\\Ctyset2WindowTest";
  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    Set(key, "Text", REG_SZ, "120", 4);
    Set(key, "Unterminated", REG_SZ, "144", 3);
    Set(key, "Empty", REG_SZ, "", 1);
    Set(key, "Expand", REG_EXPAND_SZ, "120", 4);
    const DWORD number = 120;
    Set(key, "Number", REG_DWORD, &number, sizeof number);
    const std::string longText(5000, 'x');
    Set(key, "Long", REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey); }

  static void Set(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
  }
  static TRegRead Read(const std::string& key, const std::string& name, std::string& value) {
    value = "unchanged";
    return ReadLocalMachineString(key, name, value);
  }
};

TEST_F(LocalMachineStringTest, ReadsStringValuesOnly) {
  std::string value;
  EXPECT_EQ(TRegRead::Ok, Read(kKey, "Text", value));
  EXPECT_EQ("120", value);
  EXPECT_EQ(TRegRead::Ok, Read(std::string("\\") + kKey, "Text", value));
  EXPECT_EQ("120", value);
  EXPECT_EQ(TRegRead::Ok, Read(kKey, "Unterminated", value));
  EXPECT_EQ("144", value);
  EXPECT_EQ(TRegRead::Ok, Read(kKey, "Empty", value));
  EXPECT_EQ("", value);
  EXPECT_EQ(TRegRead::Ok, Read(kKey, "Long", value));
  EXPECT_EQ(std::string(5000, 'x'), value);
  EXPECT_EQ(TRegRead::NotText, Read(kKey, "Number", value));
  EXPECT_EQ(TRegRead::NotText, Read(kKey, "Expand", value));
  EXPECT_EQ(TRegRead::NoValue, Read(kKey, "Absent", value));
  EXPECT_EQ(TRegRead::NoKey, Read(std::string(kKey) + "\\Absent", "Text", value));
  EXPECT_EQ(TRegRead::NoKey, Read("\\Config\\0001\\Display\\SettingsAbsent", "DPILogicalX", value));
}

TEST(CommandLineWordsTest, SplitsAsThePlatformDoesAfterTheProgramName) {
  EXPECT_EQ(std::vector<std::string>({"DEBUG", "COM=2", "two words", "autooff"}),
            SplitCommandLineWords(L"\"C:\\Program Files\\control.exe\" DEBUG \"COM=2\" "
                                  L"\"two words\"   autooff"));
  EXPECT_EQ(std::vector<std::string>({"a\"b", ""}), SplitCommandLineWords(L"p a\\\"b \"\""));
  EXPECT_TRUE(SplitCommandLineWords(L"control.exe").empty());
  EXPECT_TRUE(SplitCommandLineWords(L"").empty());
  EXPECT_TRUE(SplitCommandLineWords(nullptr).empty());
}

TEST(SystemDirectoryTest, IsThePlatformsSystemDirectory) {
  char expected[MAX_PATH] = {};
  ASSERT_NE(0u, GetSystemDirectoryA(expected, sizeof expected));
  EXPECT_EQ(expected, SystemDirectoryPath());
}

}  // namespace
