// A dialog on the virtual clock with a scripted port and an INI file.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "DialogRig.h"

class DialogTest : public ::testing::Test, public DialogRig {};

// WriteCommData sleeps 1 ms after each character: the time from a command's
// first character to its carriage return.
inline VirtualClock::Ms Sending(const std::string& command) { return command.size(); }

// The ladder a modem hears on a port just opened, and the time its sending
// takes.
inline const std::vector<std::string> kLadder = {"AT", "ATZ", "ATI5", "ATH3", "AT&V5"};
inline const VirtualClock::Ms kLadderSending = [] {
  VirtualClock::Ms sum = 0;
  for (const std::string& command : kLadder) sum += Sending(command);
  return sum;
}();
// From the opening of a port that hears the whole ladder to its evaluation.
inline const VirtualClock::Ms kLadderAndEvaluation =
    kLadder.size() * TForm1::kLadderStepMs + TForm1::kEvaluationMs + kLadderSending;

// The country switch after a detection: a FAKEMODEM set to the USA, on COM1
// unless the test attaches it elsewhere before Detect().
class SwitchTest : public DialogTest {
 protected:
  FakeModem modem;

  void SetUp() override {
    DialogTest::SetUp();
    Keys(modem);
    modem.country = 0xB5;
  }

  // Runs the scan to its end; forgets what was sent during it (keeping what
  // the modem heard in detectionHeard).
  void Detect(int modemPort = 1) {
    port.Attach(modemPort, modem);
    Open();
    host.RunFor(60000);
    ASSERT_TRUE(form->DetectionSucceeded());
    detectionHeard = modem.heard;
    modem.heard.clear();
    port.lines.clear();
  }
  void Choose(const std::string& country) {
    int index = form->ComboBox1.Items.IndexOf(country);
    ASSERT_GE(index, 0) << country;
    form->ComboBox1.SetItemIndex(index);
  }
  // Presses OK and runs until the dialog closes (or 100 s pass).
  void PressOk() {
    okAt = clock.Now();
    form->UPGRADEClick();
    host.RunFor(100000);
  }
  void UseScript(std::initializer_list<const char*> lines) {
    std::vector<std::string> items(lines.begin(), lines.end());
    form->ListBox2.Items.Assign(items);
  }

  VirtualClock::Ms okAt = 0;
  std::vector<std::string> detectionHeard;  // what the modem heard during Detect()
};
