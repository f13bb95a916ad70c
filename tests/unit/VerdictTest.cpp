// What the dialog tells the user, against what the modem really did: scans
// with other devices ahead of the modem, and the modem's answer to the
// country command.
#include <memory>

#include "DialogFixture.h"

namespace {

enum class Ahead {
  ErrorToStatus,  // unknown family, answers "ERROR" to "AT&V5" and "ATI9"
  LateError,      // the same, answering only after its port was closed
  Silent,
  UnknownFamily,
  EchoOff,  // of the known family, but its echo cannot be turned on: not recognised
};

enum class Listing {
  Both,         // "AT&V5" and "ATI9" list the country
  V5Only,       // "ATI9" answered "ERROR"
  I9Only,       // "AT&V5" answered "ERROR"
  V5WithErrors  // "AT&V5" lists a line "ERRORS: 0"; "ATI9" answered "ERROR"
};

struct ScanRow {
  const char* name;
  std::vector<Ahead> ahead;  // on COM1, COM2, ...; the modem follows them
  Listing listing;
};

std::unique_ptr<FakeDevice> MakeDevice(Ahead kind) {
  if (kind == Ahead::Silent) return std::make_unique<SilentDevice>();
  auto device = std::make_unique<FakeModem>();
  device->identification = {"ACME 9600 VOICE"};
  switch (kind) {
    case Ahead::LateError:
      device->replyDelay = 3400;  // "AT&V5" answered after the next port step
      [[fallthrough]];
    case Ahead::ErrorToStatus:
      device->hasStatusV5 = false;
      device->hasStatusI9 = false;
      break;
    case Ahead::EchoOff:
      device->identification = {"56K FAKEMODEM V1.0"};
      device->echo = false;
      device->overrides["ATE1"] = {{}, "ERROR"};
      break;
    default:
      break;
  }
  return device;
}

void PrintTo(const ScanRow& row, std::ostream* os) { *os << row.name; }

class ScanVerdictTest : public SwitchTest, public ::testing::WithParamInterface<ScanRow> {};

}  // namespace

// Every port is probed from the same start, whatever the ports before it
// answered: the modem's country is read with the command it lists it for,
// OK sends that command, and the verdict is what the modem did. A component
// that still hands over bytes after its port was closed changes nothing.
TEST_P(ScanVerdictTest, ModemBehindOtherDevicesIsSwitchedAndTheVerdictIsTrue) {
  const ScanRow& row = GetParam();
  port.deliversAfterClose = true;
  std::vector<std::unique_ptr<FakeDevice>> devices;
  for (Ahead kind : row.ahead) {
    devices.push_back(MakeDevice(kind));
    port.Attach(static_cast<int>(devices.size()), *devices.back());
  }
  modem.hasStatusV5 = row.listing != Listing::I9Only;
  modem.hasStatusI9 = row.listing == Listing::Both || row.listing == Listing::I9Only;
  if (row.listing == Listing::V5WithErrors) modem.statusExtra = {"ERRORS: 0"};
  const int modemPort = static_cast<int>(row.ahead.size()) + 1;

  Detect(modemPort);
  std::vector<int> probed;
  for (int n = 1; n <= modemPort; ++n) probed.push_back(n);
  EXPECT_EQ(port.OpenedPorts(), probed);
  EXPECT_EQ(form->ComboBox1.Text(), "North America (USA)");

  Choose("Germany");
  PressOk();
  const char* status = row.listing == Listing::I9Only ? "ATI9" : "AT&V5";
  EXPECT_EQ(modem.heard, (std::vector<std::string>{"AT%T19,0,4", status}));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text == TForm1::kResetOkBox, modem.country == 4);
  EXPECT_EQ(host.messages[0].text, TForm1::kResetOkBox);
  EXPECT_EQ(modem.country, 4u);
  // The first step comes after the full evaluation interval, as after a
  // lone modem.
  ASSERT_FALSE(port.lines.empty());
  EXPECT_EQ(port.lines[0].at, okAt + 2000 + 10);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, ScanVerdictTest,
    ::testing::Values(
        ScanRow{"LoneModem", {}, Listing::Both},
        ScanRow{"ErrorAheadOfModemWithoutAti9", {Ahead::ErrorToStatus}, Listing::V5Only},
        ScanRow{"ErrorAheadOfModemWithBoth", {Ahead::ErrorToStatus}, Listing::Both},
        ScanRow{"ErrorAheadOfAti9Modem", {Ahead::ErrorToStatus}, Listing::I9Only},
        ScanRow{"LateErrorAheadOfModemWithoutAti9", {Ahead::LateError}, Listing::V5Only},
        ScanRow{"SilentAndError", {Ahead::Silent, Ahead::ErrorToStatus}, Listing::V5Only},
        ScanRow{"UnknownAndEchoOff", {Ahead::UnknownFamily, Ahead::EchoOff}, Listing::Both},
        ScanRow{"ErrorSilentUnknown",
                {Ahead::ErrorToStatus, Ahead::Silent, Ahead::UnknownFamily},
                Listing::V5Only},
        ScanRow{"EchoOffLateErrorSilent",
                {Ahead::EchoOff, Ahead::LateError, Ahead::Silent},
                Listing::I9Only},
        ScanRow{"ErrorsLineInTheListing", {}, Listing::V5WithErrors},
        ScanRow{"UnknownAheadOfErrorsLine", {Ahead::UnknownFamily}, Listing::V5WithErrors}),
    [](const ::testing::TestParamInfo<ScanRow>& info) { return std::string(info.param.name); });

// Whatever a closed port still hands over is dropped: it is in the transcript
// neither of its own port after the evaluation nor of the next port.
TEST_F(SwitchTest, BytesOfAClosedPortReachNoTranscript) {
  port.deliversAfterClose = true;
  std::unique_ptr<FakeDevice> late = MakeDevice(Ahead::LateError);
  port.Attach(1, *late);
  port.Attach(2, modem);
  Open();
  // COM1 opens at 500 and is evaluated 6018 ms later; "AT&V5" went out at
  // 500 + 3218, its "ERROR" is due 3400 ms after that.
  host.RunUntil(500 + 6018);
  EXPECT_EQ(form->Memo1.Text().find("AT&V5"), std::string::npos);
  host.RunUntil(500 + 6518 + 100);  // COM2 open, its "AT" not yet answered
  ASSERT_EQ(port.OpenedPorts(), (std::vector<int>{1, 2}));
  EXPECT_EQ(form->Memo1.Text(), "");
  EXPECT_FALSE(st.WaitMatched);
}

namespace {

struct AnswerRow {
  const char* name;
  const char* word;                 // the modem's result word; "OK" sets the country
  std::vector<std::string> bursts;  // the answer as delivered, when not plainly framed
};

void PrintTo(const AnswerRow& row, std::ostream* os) { *os << row.name; }

class CountryAnswerTest : public SwitchTest, public ::testing::WithParamInterface<AnswerRow> {};

}  // namespace

// "OK" counts only as a whole reply line: the modem's other reply words and
// longer words containing "OK" fail the switch after 10 s, as does an
// "ERROR"; "OK" split over two deliveries, or right after the echo's
// carriage return, succeeds at the usual time.
TEST_P(CountryAnswerTest, VerdictIsWhatTheModemDid) {
  const AnswerRow& row = GetParam();
  modem.countryReply = row.word;
  modem.countryBursts = row.bursts;
  Detect();
  Choose("Germany");
  PressOk();
  const bool accepted = modem.country == 4;
  ASSERT_EQ(accepted, std::string(row.word) == "OK");
  ASSERT_EQ(host.messages.size(), 1u);
  const FakeHost::Message& told = host.messages[0];
  ASSERT_FALSE(port.lines.empty());
  if (accepted) {
    EXPECT_EQ(told.text, TForm1::kResetOkBox);
    EXPECT_EQ(modem.heard, (std::vector<std::string>{"AT%T19,0,4", "AT&V5"}));
    // The step ends 100 ms after the delivery that completed the line.
    const size_t bursts = row.bursts.empty() ? 1 : row.bursts.size();
    ASSERT_EQ(port.lines.size(), 2u);
    EXPECT_EQ(port.lines[1].at, port.lines[0].at + 250 + 300 * (bursts - 1) + 100 + 5);
  } else {
    EXPECT_EQ(told.text, TForm1::kDetectErrorBox);
    EXPECT_EQ(modem.heard, std::vector<std::string>{"AT%T19,0,4"});
    EXPECT_EQ(told.at, port.lines[0].at + 10000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Words, CountryAnswerTest,
    ::testing::Values(AnswerRow{"OK", "OK", {}}, AnswerRow{"ERROR", "ERROR", {}},
                      AnswerRow{"NOK1", "NOK1", {}}, AnswerRow{"NOK2", "NOK2", {}},
                      AnswerRow{"NOK3", "NOK3", {}}, AnswerRow{"NOK4", "NOK4", {}},
                      AnswerRow{"NoDialTone", "NO DIAL TONE", {}}, AnswerRow{"BUSY", "BUSY", {}},
                      AnswerRow{"RING", "RING", {}}, AnswerRow{"VCON", "VCON", {}},
                      AnswerRow{"NOK", "NOK", {}}, AnswerRow{"OKAY", "OKAY", {}},
                      AnswerRow{"BROKEN", "BROKEN", {}}, AnswerRow{"ERRORS", "ERRORS", {}},
                      AnswerRow{"NOERROR", "NOERROR", {}},
                      AnswerRow{"OkSplit", "OK", {"AT%T19,0,4\r\r\nO", "K\r\n"}},
                      AnswerRow{"OkThenLineEnd", "OK", {"AT%T19,0,4\r\r\nOK", "\r\n"}},
                      AnswerRow{"OkAfterEchoCr", "OK", {"AT%T19,0,4\rOK\r"}},
                      AnswerRow{"Nok1Split", "NOK1", {"AT%T19,0,4\r\r\nN", "OK1\r\n"}}),
    [](const ::testing::TestParamInfo<AnswerRow>& info) { return std::string(info.param.name); });
