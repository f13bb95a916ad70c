// The whole applet under Wine: ctyset2.cpl in this process, its real window,
// the real serial component and the modem simulator on the COM ports.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "OwnerWindow.h"
#include "ProcessProbe.h"
#include "WineTest.h"
#include "wfload/win/ControlIds.h"

namespace {

using namespace dialogtest;

const char kSelectCountry[] = "Please select your country and press [OK]....";
const char kSettingNow[] = "Setting now please wait....";

bool WaitForStatus(HWND dialog, const std::string& text, DWORD timeoutMs) {
  return Eventually([&] { return Status(dialog) == text; }, timeoutMs);
}

// Waits for the prompt, picks Japan and presses OK: true once the switch
// shows it runs (within timeoutMs).
bool StartSwitchToJapan(HWND dialog, DWORD timeoutMs) {
  if (!WaitForStatus(dialog, kSelectCountry, 40000) || !Choose(Item(dialog, kIdComboBox1), "Japan"))
    return false;
  Click(Item(dialog, kIdUPGRADE));
  return WaitForStatus(dialog, kSettingNow, timeoutMs);
}

// The dialog shows this message box next (answered with OK) and then closes.
void ExpectFinalMessage(HWND dialog, const char* caption, const char* text, DWORD timeoutMs) {
  HWND box = WaitForMessageBox(dialog, timeoutMs);
  ASSERT_NE(nullptr, box) << "no message box; status " << Status(dialog);
  EXPECT_EQ(caption, MessageBoxCaption(box));
  EXPECT_EQ(text, MessageBoxText(box));
  PressOk(box);
  EXPECT_TRUE(Closes(dialog));
}

class EndToEndTest : public OwnerWindowTest {
 protected:
  // Opens the dialog with the library loaded for this opening only.
  // Also checks that the dialog leaves no port open behind.
  void Open(const std::function<void(HWND)>& script) {
    TApplet applet;
    ASSERT_TRUE(applet.Loaded());
    // The serial component runs two threads while a port is open.
    const std::size_t threads = winetest::ThreadCount();
    EXPECT_EQ(1, OwnerWindowTest::Open(applet, script));
    // Wine's own helper threads of the comm-event waits end a moment later.
    EXPECT_TRUE(Eventually([&] { return winetest::ThreadCount() == threads; }, 30000))
        << "threads of the serial component still run";
  }
};

TEST_F(EndToEndTest, NoPortShowsNoModemAndCloses) {
  Open([&](HWND dialog) { ExpectFinalMessage(dialog, "Error", "No modem detect ??", 30000); });
}

// COM1: a device of no known family that answers "ERROR" to both status
// commands; COM2: the modem, which lists its country only for "AT&V5" (it
// answers "ERROR" to "ATI9"). What COM1 answered changes nothing about COM2:
// its country is read from "AT&V5", OK asks for it with "AT&V5" again, and
// the dialog reports the switch the modem made.
TEST_F(EndToEndTest, ModemOnCom2BehindAnotherDeviceIsSwitchedToTheChosenCountry) {
  winetest::SimModem device(1, "--ident \"ACME 9600 Voice\" --error-avv5 --error-ati9");
  winetest::SimModem modem(2, "--country B5 --error-ati9");
  Open([&](HWND dialog) {
    ASSERT_TRUE(WaitForStatus(dialog, kSelectCountry, 60000)) << Status(dialog);
    HWND countries = Item(dialog, kIdComboBox1);
    EXPECT_EQ("North America (USA)", Text(countries));
    const std::vector<std::string> items = ComboItems(countries);
    EXPECT_NE(items.end(), std::find(items.begin(), items.end(), "Germany"));
    EXPECT_EQ(items.end(), std::find(items.begin(), items.end(), "Belginum"));
    EXPECT_EQ("COM2", Text(Item(dialog, kIdComPort)));

    // The user picks Germany (T.35 code 04) and presses OK.
    ASSERT_TRUE(Choose(countries, "Germany"));
    EXPECT_EQ("Germany", Text(countries));
    Click(Item(dialog, kIdUPGRADE));
    ExpectFinalMessage(dialog, "Information", " Modem reset OK !!     ", 40000);
  });
  EXPECT_EQ(0x04, modem.CountryCode());
  EXPECT_EQ((std::vector<std::string>{"AT", "ATZ", "ATI5", "ATH3", "AT&V5", "ATI9"}),
            device.Commands());
  EXPECT_EQ((std::vector<std::string>{"AT", "ATZ", "ATI5", "ATH3", "AT&V5", "AT%T19,0,4", "AT&V5"}),
            modem.Commands());
}

TEST_F(EndToEndTest, UnknownFamilyShowsModemTypeNotDetected) {
  winetest::SimModem modem(1, "--ident \"ACME 9600 Voice\"");
  Open([&](HWND dialog) {
    ExpectFinalMessage(dialog, "Error", "Modem type can not detect ??", 40000);
  });
}

// "NOK1" is a refusal, although it contains "OK".
TEST_F(EndToEndTest, RefusedCountryCommandFailsAfterTenSeconds) {
  winetest::SimModem modem(1, "--country B5 --country-reply NOK1");
  Open([&](HWND dialog) {
    ASSERT_TRUE(StartSwitchToJapan(dialog, 30000)) << Status(dialog);
    const ULONGLONG pressed = GetTickCount64();
    HWND box = WaitForMessageBox(dialog, 40000);
    ASSERT_NE(nullptr, box);
    const ULONGLONG waited = GetTickCount64() - pressed;
    EXPECT_GE(waited, 9500u);
    EXPECT_LE(waited, 25000u);
    EXPECT_EQ("Error", MessageBoxCaption(box));
    EXPECT_EQ(" Modem Detect Error !!     ", MessageBoxText(box));
    EXPECT_EQ("Detect ERROR.....", Status(dialog));
    PressOk(box);
    EXPECT_TRUE(Closes(dialog));
  });
  EXPECT_EQ(0xB5, modem.CountryCode());
}

// Modems that do not answer as most do. One that answers "OK" to the
// country command but keeps its country fails the switch (its listing names
// the USA still); one whose stored profile has the echo off is found with the
// echo turned on; one with numeric result codes is switched with verbose
// ones. Each verdict is what the modem holds afterwards.
struct ProfileRow {
  const char* name;
  const char* options;
  int country;  // the modem's country afterwards
  std::vector<std::string> commands;
};

void PrintTo(const ProfileRow& row, std::ostream* os) { *os << row.name; }

class ModemProfileTest : public EndToEndTest, public ::testing::WithParamInterface<ProfileRow> {};

TEST_P(ModemProfileTest, VerdictIsWhatTheModemHolds) {
  const ProfileRow& row = GetParam();
  winetest::SimModem modem(1, std::string("--country B5 ") + row.options);
  Open([&](HWND dialog) {
    ASSERT_TRUE(WaitForStatus(dialog, kSelectCountry, 60000)) << Status(dialog);
    EXPECT_EQ("North America (USA)", Text(Item(dialog, kIdComboBox1)));
    ASSERT_TRUE(StartSwitchToJapan(dialog, 10000)) << Status(dialog);
    const bool switched = row.country == 0x00;
    ExpectFinalMessage(dialog, switched ? "Information" : "Error",
                       switched ? " Modem reset OK !!     " : " Modem Detect Error !!     ", 40000);
  });
  EXPECT_EQ(row.country, modem.CountryCode());
  EXPECT_EQ(row.commands, modem.Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ModemProfileTest,
    ::testing::Values(ProfileRow{"KeepsItsCountry",
                                 "--keep-country",
                                 0xB5,
                                 {"AT", "ATZ", "ATI5", "ATH3", "AT&V5", "AT%T19,0,0", "AT&V5"}},
                      ProfileRow{"EchoOff",
                                 "--stored-echo-off",
                                 0x00,
                                 {"AT", "ATZ", "ATI5", "ATH3", "AT&V5", "ATE1", "ATI5", "ATH3",
                                  "AT&V5", "ATE1", "AT%T19,0,0", "AT&V5"}},
                      ProfileRow{
                          "NumericCodes",
                          "--numeric-codes",
                          0x00,
                          {"AT", "ATZ", "ATI5", "ATH3", "AT&V5", "ATV1", "AT%T19,0,0", "AT&V5"}}),
    [](const ::testing::TestParamInfo<ProfileRow>& info) { return std::string(info.param.name); });

TEST_F(EndToEndTest, CancelDuringDetectionClosesThePort) {
  winetest::SimModem modem(1);
  Open([&](HWND dialog) {
    ASSERT_TRUE(Eventually([&] { return modem.Commands().size() >= 2; }, 60000));
    Click(Item(dialog, kIdCancel));
    EXPECT_TRUE(Closes(dialog));
  });
}

TEST_F(EndToEndTest, CancelDuringTheSwitchClosesThePort) {
  winetest::SimModem modem(1, "--country B5");
  Open([&](HWND dialog) {
    // The switch has the port open while its status shows (its first
    // script step is 2 s away, and the whole switch takes seconds).
    ASSERT_TRUE(StartSwitchToJapan(dialog, 10000)) << Status(dialog);
    Click(Item(dialog, kIdCancel));
    EXPECT_TRUE(Closes(dialog));
    EXPECT_EQ(nullptr, WaitForMessageBox(dialog, 0));
  });
}

}  // namespace

// Ports above COM8 (a USB or Bluetooth modem gets the next free number):
// the scan walks those Windows lists once COM1..COM8 are done.
namespace {

// Time from the dialog showing to the prompt for a country.
ULONGLONG PromptAfter(HWND dialog, ULONGLONG shown) {
  if (!WaitForStatus(dialog, kSelectCountry, 90000)) return 0;
  return GetTickCount64() - shown;
}

// The "Detecting COMn..." texts of the status line, in order, until a message
// box shows or the prompt comes.
std::vector<std::string> PortsProbed(HWND dialog) {
  std::vector<std::string> seen;
  Eventually(
      [&] {
        const std::string status = Status(dialog);
        if (status.rfind("Detecting COM", 0) == 0 && (seen.empty() || seen.back() != status))
          seen.push_back(status);
        return WaitForMessageBox(dialog, 0) != nullptr || status == kSelectCountry;
      },
      90000);
  return seen;
}

}  // namespace

// COM1..COM8 hold no device; the modem is on COM12. Found, its country
// preselected, switched; its prompt comes the eight half seconds of COM1..COM8
// later than the prompt of a modem on COM1 (a modem on COM8: seven).
TEST_F(EndToEndTest, ModemOnCom12IsFoundAfterCom1ToCom8AndSwitched) {
  ULONGLONG onCom1 = 0, onCom8 = 0;
  for (const auto& [com, prompt] : {std::pair<int, ULONGLONG*>{1, &onCom1}, {8, &onCom8}}) {
    winetest::SimModem modem(com, "--country B5");
    Open([&, prompt = prompt](HWND dialog) { *prompt = PromptAfter(dialog, GetTickCount64()); });
  }
  winetest::ListedPort listed(12);
  winetest::SimModem modem(12, "--country B5");
  ULONGLONG onCom12 = 0;
  Open([&](HWND dialog) {
    onCom12 = PromptAfter(dialog, GetTickCount64());
    ASSERT_NE(0u, onCom12) << Status(dialog);
    HWND countries = Item(dialog, kIdComboBox1);
    EXPECT_EQ("North America (USA)", Text(countries));
    EXPECT_EQ("COM12", Text(Item(dialog, kIdComPort)));
    ASSERT_TRUE(Choose(countries, "Japan"));
    Click(Item(dialog, kIdUPGRADE));
    ExpectFinalMessage(dialog, "Information", " Modem reset OK !!     ", 40000);
  });
  EXPECT_EQ(0x00, modem.CountryCode());
  std::printf("prompt after: modem on COM1 %llu ms, COM8 %llu ms, COM12 %llu ms\n",
              static_cast<unsigned long long>(onCom1), static_cast<unsigned long long>(onCom8),
              static_cast<unsigned long long>(onCom12));
  ASSERT_NE(0u, onCom1);
  EXPECT_GE(onCom8, onCom1 + 7 * 500 - 400);
  EXPECT_LE(onCom8, onCom1 + 7 * 500 + 3000);
  EXPECT_GE(onCom12, onCom1 + 8 * 500 - 400);
  EXPECT_LE(onCom12, onCom1 + 8 * 500 + 3000);
}

// An AT device of no known family on COM10 and the modem on COM15: COM10 is
// probed with the whole ladder, then the modem is found and switched.
TEST_F(EndToEndTest, ModemOnCom15BehindAnUnknownDeviceOnCom10IsSwitched) {
  winetest::ListedPort ten(10), fifteen(15);
  winetest::SimModem device(10, "--ident \"ACME 9600 Voice\"");
  winetest::SimModem modem(15, "--country B5");
  Open([&](HWND dialog) {
    ASSERT_TRUE(WaitForStatus(dialog, kSelectCountry, 90000)) << Status(dialog);
    EXPECT_EQ("North America (USA)", Text(Item(dialog, kIdComboBox1)));
    EXPECT_EQ("COM15", Text(Item(dialog, kIdComPort)));
    ASSERT_TRUE(Choose(Item(dialog, kIdComboBox1), "Germany"));
    Click(Item(dialog, kIdUPGRADE));
    ExpectFinalMessage(dialog, "Information", " Modem reset OK !!     ", 40000);
  });
  EXPECT_EQ(0x04, modem.CountryCode());
  EXPECT_EQ((std::vector<std::string>{"AT", "ATZ", "ATI5", "ATH3", "AT&V5"}), device.Commands());
}

// COM11 and COM15 listed, nothing behind any port: the dialog probes
// COM1..COM8, then COM11 and COM15, and nothing else.
TEST_F(EndToEndTest, OnlyListedPortsAboveCom8AreProbed) {
  winetest::ListedPort eleven(11), fifteen(15);
  Open([&](HWND dialog) {
    std::vector<std::string> expected;
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 11, 15, 16})
      expected.push_back("Detecting COM" + std::to_string(n) + "...");
    EXPECT_EQ(expected, PortsProbed(dialog));
    ExpectFinalMessage(dialog, "Error", "No modem detect ??", 30000);
  });
}

// COM=12 on the host's command line: the scan begins at COM12.
TEST_F(EndToEndTest, ComWordStartsTheScanAtCom12) {
  winetest::ListedPort listed(12);
  winetest::SimModem device(1, "--ident \"ACME 9600 Voice\"");
  winetest::SimModem modem(12, "--country B5");
  EXPECT_EQ(0u, RunChildTest("EndToEndTest.DISABLED_ScanStartsAtCom12", "COM=12"));
  EXPECT_TRUE(device.Commands().empty());
}

TEST_F(EndToEndTest, DISABLED_ScanStartsAtCom12) {
  Open([&](HWND dialog) {
    const std::vector<std::string> probed = PortsProbed(dialog);
    ASSERT_FALSE(probed.empty());
    EXPECT_EQ("Detecting COM12...", probed.front());
    EXPECT_EQ(kSelectCountry, Status(dialog));
    EXPECT_EQ("COM12", Text(Item(dialog, kIdComPort)));
  });
}
