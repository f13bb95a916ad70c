// A dialog on the virtual clock with a scripted port and an INI file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "FakeHost.h"
#include "FakePort.h"
#include "wfload/DialogState.h"
#include "wfload/Form1.h"

class DialogTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  FakeHost host{clock};
  FakePort port{clock};
  std::unique_ptr<TForm1> form;
  TDialogState& st = DialogState();

  // A family FAKEMODEM with three countries; code 0 is Japan.
  static constexpr const char* kIni =
      "; modem families\r\n"
      "[FAKEMODEM]\r\n"
      "US:0xB5 North America (USA)\r\n"
      "JP:0x00 Japan\r\n"
      "DE:0x04 Germany\r\n"
      "[OTHER]\r\n"
      "FR:0x3D France\r\n";

  void SetUp() override {
    ResetDialogState();
    char dir[] = "/tmp/ctyset2-core-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    tempDir_ = dir;
    host.systemDirectory = tempDir_ + "/sys";
    WriteIni(kIni);
  }
  void TearDown() override {
    CloseForm();
    std::remove((host.systemDirectory + "\\Ctyset2.ini").c_str());
    rmdir(tempDir_.c_str());
  }

  void WriteIni(const std::string& text) {
    std::ofstream(host.systemDirectory + "\\Ctyset2.ini", std::ios::binary) << text;
  }

  void Open() {
    form.reset(new TForm1(host, port));
    form->AttachTimers();
  }
  // Ends the modal run: the window and its timers go, then the form.
  void CloseForm() {
    host.DestroyTimers();
    form.reset();
  }

  // The three countries of FAKEMODEM as the modem names them.
  static void Keys(FakeModem& modem) { modem.countryKeys = {{0xB5, "US"}, {0, "JP"}, {4, "DE"}}; }

  // A delivery as the serial component makes it.
  void Receive(const std::string& bytes) { port.DeliverNow(bytes); }

  std::string Status() const { return form->Panel14.Caption; }

 private:
  std::string tempDir_;
};
