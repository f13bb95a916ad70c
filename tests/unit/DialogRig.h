// A dialog on the virtual clock with a scripted port and an INI file in a
// private temporary directory. No test framework: the unit tests wrap it in a
// fixture (DialogFixture.h) and the fuzz targets use it directly.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "FakeHost.h"
#include "FakePort.h"
#include "wfload/DialogState.h"
#include "wfload/Form1.h"

class DialogRig {
 public:
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

  // Starts from the state right after loading the library, with kIni as the
  // INI file.
  DialogRig() {
    ResetDialogState();
    char dir[] = "/tmp/ctyset2-core-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    tempDir_ = dir;
    host.systemDirectory = tempDir_ + "/sys";
    WriteIni(kIni);
  }
  ~DialogRig() {
    CloseForm();
    std::remove(IniPath().c_str());
    rmdir(tempDir_.c_str());
  }
  DialogRig(const DialogRig&) = delete;
  DialogRig& operator=(const DialogRig&) = delete;

  std::string IniPath() const { return host.systemDirectory + "\\Ctyset2.ini"; }
  void WriteIni(const std::string& text) const {
    std::ofstream(IniPath(), std::ios::binary) << text;
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
