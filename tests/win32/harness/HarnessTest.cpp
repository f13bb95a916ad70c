// The Wine test environment: COM ports lead into the build tree only, and the
// simulator helper serves a port.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "WineTest.h"

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
  for (int com = 1; com <= 8; ++com)
    EXPECT_EQ(winetest::PortLink(com), PortsValue(com)) << "COM" << com;
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
