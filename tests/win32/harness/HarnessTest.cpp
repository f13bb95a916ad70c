// The Wine test environment: COM ports lead into the build tree only, and the
// simulator helper serves a port.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "WineTest.h"
#include "wfload/win/HostServices.h"

namespace {

std::string PortsValue(int com) {
  char value[MAX_PATH] = {};
  DWORD size = sizeof value;
  const std::string name = "COM" + std::to_string(com);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", name.c_str(), RRF_RT_REG_SZ,
                   nullptr, value, &size) != ERROR_SUCCESS)
    return "";
  return value;
}

HANDLE OpenCom(int com) {
  const std::string name = "\\\\.\\COM" + std::to_string(com);
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

TEST(WineHarness, PortsMapIntoTheBuildTree) {
  for (int com = 1; com <= 16; ++com)
    EXPECT_EQ(winetest::PortLink(com), PortsValue(com)) << "COM" << com;
}

// Windows lists its serial ports in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// ("\Device\Serial<n-1>" = "COMn"). Wine's device manager fills it from
// Software\Wine\Ports and then the machine's own devices; the harness leaves
// COM1..COM8 there, so no scan reaches a device of the machine. A test lists
// more (winetest::ListedPort), and the list is read as the dialog reads it.
TEST(WineHarness, SerialPortsListedAreCom1ToCom8) {
  std::vector<std::pair<std::string, std::string>> values;
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                         KEY_READ, &key));
  for (DWORD i = 0;; ++i) {
    char name[256];
    char data[64] = {};
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &dataSize) != ERROR_SUCCESS)
      break;
    values.emplace_back(name, data);
  }
  RegCloseKey(key);
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
    return std::stoi(a.second.substr(3)) < std::stoi(b.second.substr(3));
  });
  std::string listed;
  for (const auto& [name, data] : values) listed += name + "=" + data + " ";
  std::printf("SERIALCOMM: %s\n", listed.c_str());
  ASSERT_EQ(values.size(), 8u) << listed;
  for (int com = 1; com <= 8; ++com) {
    EXPECT_EQ(values[com - 1].first, "\\Device\\Serial" + std::to_string(com - 1));
    EXPECT_EQ(values[com - 1].second, "COM" + std::to_string(com));
  }
  EXPECT_EQ(ListedSerialPorts(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  {
    winetest::ListedPort twelve(12);
    std::vector<int> ports = ListedSerialPorts();
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 12}));
  }
  EXPECT_EQ(ListedSerialPorts().size(), 8u);
}

// Without a simulator behind it a port is no serial device. Wine then still
// opens the port's (driverless) device object, but every comm call fails.
void ExpectNoSerialDevice(int com) {
  HANDLE h = OpenCom(com);
  if (h == INVALID_HANDLE_VALUE) return;
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  EXPECT_NE(static_cast<DWORD>(FILE_TYPE_CHAR), GetFileType(h)) << "COM" << com;
  EXPECT_FALSE(GetCommState(h, &dcb)) << "COM" << com;
  CloseHandle(h);
}

TEST(WineHarness, PortWithoutSimulatorIsNoSerialDevice) {
  for (int com = 1; com <= 8; ++com) ExpectNoSerialDevice(com);
}

// The sample INI file sits in the system directory this flavour sees
// (system32 for x86_64, syswow64 for i686).
TEST(WineHarness, IniFileInTheSystemDirectory) {
  const std::string sample = winetest::ReadUnixFile(winetest::SourceDir() + "/data/Ctyset2.ini");
  if (sample.empty()) GTEST_SKIP() << "no data/Ctyset2.ini";
  char dir[MAX_PATH] = {};
  ASSERT_NE(0u, GetSystemDirectoryA(dir, sizeof dir));
  std::ifstream in(std::string(dir) + "\\Ctyset2.ini", std::ios::binary);
  std::ostringstream installed;
  installed << in.rdbuf();
  EXPECT_EQ(sample, installed.str());
}

TEST(WineHarness, SimulatedModemAnswersOnItsPort) {
#ifndef CTYSET2_HAVE_MODEMSIM
  GTEST_SKIP() << "tools/modemsim is not part of this tree yet";
#endif
  {
    winetest::SimModem modem(5);
    HANDLE h = OpenCom(5);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_CHAR), GetFileType(h));
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutConstant = 500;
    SetCommTimeouts(h, &timeouts);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "AT\r", 3, &written, nullptr));
    std::string reply;
    winetest::WaitUntil(
        [&] {
          char buf[64];
          DWORD got = 0;
          if (ReadFile(h, buf, sizeof buf, &got, nullptr)) reply.append(buf, got);
          return reply.find("OK\r\n") != std::string::npos;
        },
        60000);
    CloseHandle(h);
    EXPECT_NE(std::string::npos, reply.find("OK\r\n")) << reply;
    ASSERT_FALSE(modem.Commands().empty()) << modem.Log();
    EXPECT_EQ("AT", modem.Commands().front());
  }
  // Stopped with the object: the port is gone again.
  ExpectNoSerialDevice(5);
}

}  // namespace
