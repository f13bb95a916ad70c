// What every TCommPort does when it opens, fails to open and closes. The unit
// tests' fake port runs these cases natively and TComm32 runs them under Wine
// against modemsim, so the fake cannot drift from the real component.
//
// A rig type R, default-constructible, provides:
//   TCommPort& Port();
//   void Attach(int com);            a modem that answers "AT" on COMn
//   void Refuse(TPortWorker which);  later openings cannot create that worker
//                                    thread (None: every worker again)
//   bool IsOpen();
//   bool Await(const std::function<bool()>& done);  lets the port work
//                                    until done() (true) or the rig gives up
//   bool AwaitUndelivered();         true once the port has received bytes
//                                    that it has not yet handed to
//                                    OnReceiveData (the owner does nothing
//                                    meanwhile)
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "comm32/CommPort.h"

enum class TPortWorker { None, Read, Write };

template <class Rig>
class PortContract : public ::testing::Test {
 protected:
  PortContract() {
    rig.Port().SetOnReceiveData([this](const void* buffer, std::uint16_t length) {
      received.append(static_cast<const char*>(buffer), length);
    });
  }
  bool Write(const std::string& text) {
    return rig.Port().WritePort(text.data(), static_cast<std::uint16_t>(text.size()));
  }
  // Sends command with a carriage return; true once "OK" came back.
  bool Answered(const std::string& command) {
    received.clear();
    return Write(command + "\r") &&
           rig.Await([this] { return received.find("\r\nOK\r\n") != std::string::npos; });
  }
  std::string received;  // outlives the rig and its port
  Rig rig;
};

TYPED_TEST_SUITE_P(PortContract);

TYPED_TEST_P(PortContract, APortWithoutADeviceDoesNotOpen) {
  TCommPort& port = this->rig.Port();
  for (TPort none : {tptNone, tptThree}) {
    port.SetPort(none);
    EXPECT_FALSE(port.OpenPort()) << "COM" << static_cast<int>(none);
    EXPECT_FALSE(this->rig.IsOpen());
    EXPECT_FALSE(this->Write("AT\r")) << "nothing to write to";
  }
  this->rig.Attach(3);
  EXPECT_TRUE(port.OpenPort());
  EXPECT_TRUE(this->Answered("AT"));
  port.ClosePort();
}

TYPED_TEST_P(PortContract, OpensOnceServesAndClosesForTheNextPort) {
  TCommPort& port = this->rig.Port();
  this->rig.Attach(1);
  this->rig.Attach(2);
  port.SetPort(tptOne);
  ASSERT_TRUE(port.OpenPort());
  EXPECT_FALSE(port.OpenPort()) << "already open";
  EXPECT_TRUE(this->Answered("AT")) << "the first opening goes on working";
  port.ClosePort();
  EXPECT_FALSE(this->rig.IsOpen());
  port.ClosePort();
  EXPECT_FALSE(this->Write("AT\r"));
  port.SetPort(tptTwo);
  ASSERT_TRUE(port.OpenPort());
  EXPECT_TRUE(this->Answered("ATZ"));
  port.ClosePort();
}

// A worker thread that cannot be created raises ECommsError with the text the
// user is shown, and the failed opening gives back everything it took.
TYPED_TEST_P(PortContract, AFailedOpeningLeavesNothingBehind) {
  TCommPort& port = this->rig.Port();
  this->rig.Attach(1);
  port.SetPort(tptOne);
  const struct {
    TPortWorker worker;
    const char* text;
  } cases[] = {{TPortWorker::Read, "Unable to create Read thread"},
               {TPortWorker::Write, "Unable to create Write thread"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    this->rig.Refuse(c.worker);
    try {
      port.OpenPort();
      ADD_FAILURE() << "no ECommsError";
    } catch (const ECommsError& error) {
      EXPECT_STREQ(error.what(), c.text);
    }
    EXPECT_FALSE(this->rig.IsOpen());
    EXPECT_FALSE(this->Write("AT\r"));
    this->rig.Refuse(TPortWorker::None);
    ASSERT_TRUE(port.OpenPort()) << "the failed opening kept the port";
    EXPECT_TRUE(this->Answered("AT"));
    port.ClosePort();
  }
}

// Bytes the port received before ClosePort still reach OnReceiveData, once
// for every delivery; those not handed out before the next OpenPort never
// do, so nothing of one opening reaches the next.
TYPED_TEST_P(PortContract, BytesReceivedBeforeClosingAreDeliveredUntilTheNextOpening) {
  TCommPort& port = this->rig.Port();
  this->rig.Attach(1);
  this->rig.Attach(2);
  port.SetPort(tptOne);
  ASSERT_TRUE(port.OpenPort());
  ASSERT_TRUE(this->Write("AT\r"));
  ASSERT_TRUE(this->rig.AwaitUndelivered());
  EXPECT_EQ(this->received, "");
  port.ClosePort();
  EXPECT_TRUE(this->rig.Await([this] {
    return this->received.find("\r\nOK\r\n") != std::string::npos;
  })) << "a late delivery is still a delivery";

  ASSERT_TRUE(port.OpenPort());
  ASSERT_TRUE(this->Write("ATZ\r"));
  ASSERT_TRUE(this->rig.AwaitUndelivered());
  port.ClosePort();
  port.SetPort(tptTwo);
  ASSERT_TRUE(port.OpenPort());
  EXPECT_TRUE(this->Answered("AT"));
  EXPECT_EQ(this->received.find("ATZ"), std::string::npos) << this->received;
  port.ClosePort();
}

REGISTER_TYPED_TEST_SUITE_P(PortContract, APortWithoutADeviceDoesNotOpen,
                            OpensOnceServesAndClosesForTheNextPort,
                            AFailedOpeningLeavesNothingBehind,
                            BytesReceivedBeforeClosingAreDeliveredUntilTheNextOpening);
