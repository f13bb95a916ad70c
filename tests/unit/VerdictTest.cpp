// What the dialog tells the user, against what the modem really did: scans
// with other devices ahead of the modem, and the modem's answer to the
// country command.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "DialogFixture.h"
#include "comm32/CommsLog.h"

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
  Listing listing;
  std::vector<Ahead> ahead = {};  // on COM1, COM2, ...; the modem follows them
  ScanRow Behind(std::vector<Ahead> devices) const { return {name, listing, std::move(devices)}; }
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
  EXPECT_EQ(port.lines[0].at, okAt + TForm1::kEvaluationMs + Sending("AT%T19,0,4"));
}

INSTANTIATE_TEST_SUITE_P(
    Scans, ScanVerdictTest,
    ::testing::Values(
        ScanRow{"LoneModem", Listing::Both},
        ScanRow{"ErrorAheadOfModemWithoutAti9", Listing::V5Only}.Behind({Ahead::ErrorToStatus}),
        ScanRow{"ErrorAheadOfModemWithBoth", Listing::Both}.Behind({Ahead::ErrorToStatus}),
        ScanRow{"ErrorAheadOfAti9Modem", Listing::I9Only}.Behind({Ahead::ErrorToStatus}),
        ScanRow{"LateErrorAheadOfModemWithoutAti9", Listing::V5Only}.Behind({Ahead::LateError}),
        ScanRow{"SilentAndError", Listing::V5Only}.Behind({Ahead::Silent, Ahead::ErrorToStatus}),
        ScanRow{"UnknownAndEchoOff", Listing::Both}.Behind({Ahead::UnknownFamily, Ahead::EchoOff}),
        ScanRow{"ErrorSilentUnknown", Listing::V5Only}.Behind({Ahead::ErrorToStatus, Ahead::Silent,
                                                               Ahead::UnknownFamily}),
        ScanRow{"EchoOffLateErrorSilent", Listing::I9Only}.Behind({Ahead::EchoOff, Ahead::LateError,
                                                                   Ahead::Silent}),
        ScanRow{"ErrorsLineInTheListing", Listing::V5WithErrors},
        ScanRow{"UnknownAheadOfErrorsLine", Listing::V5WithErrors}.Behind({Ahead::UnknownFamily})),
    [](const ::testing::TestParamInfo<ScanRow>& info) { return std::string(info.param.name); });

// Whatever a closed port still hands over is dropped: it is in the transcript
// neither of its own port after the evaluation nor of the next port.
TEST_F(SwitchTest, BytesOfAClosedPortReachNoTranscript) {
  port.deliversAfterClose = true;
  std::unique_ptr<FakeDevice> late = MakeDevice(Ahead::LateError);
  port.Attach(1, *late);
  port.Attach(2, modem);
  Open();
  // COM1 opens after one port step and is evaluated after the ladder and
  // the evaluation interval; "AT&V5" went out after four ladder steps, its
  // "ERROR" is due 3400 ms after that.
  const VirtualClock::Ms evaluated = TForm1::kPortStepMs + kLadderAndEvaluation;
  host.RunUntil(evaluated);
  EXPECT_EQ(form->Memo1.Text().find("AT&V5"), std::string::npos);
  host.RunUntil(evaluated + TForm1::kPortStepMs + 100);  // COM2 open, its "AT" not yet answered
  ASSERT_EQ(port.OpenedPorts(), (std::vector<int>{1, 2}));
  EXPECT_EQ(form->Memo1.Text(), "");
  EXPECT_FALSE(st.WaitMatched);
}

namespace {

struct AnswerRow {
  const char* name;
  const char* word;                      // the modem's result word; "OK" sets the country
  std::vector<std::string> bursts = {};  // the answer as delivered, when not plainly framed
  bool keeps = false;                    // answers "OK" but keeps its country
  bool ati9 = false;          // lists its country for "ATI9" only ("AT&V5" answers "ERROR")
  bool unlisted = false;      // its listing shows the new country by no key of the table
  bool echoOff = false;       // its stored profile: echo off
  bool numeric = false;       // its stored profile: numeric result codes
  bool setupRefused = false;  // answers "ERROR" to what sets its echo and codes right

  AnswerRow Named(const char* rowName) const {
    AnswerRow row = *this;
    row.name = rowName;
    return row;
  }
  AnswerRow InBursts(std::vector<std::string> delivered) const {
    AnswerRow row = *this;
    row.bursts = std::move(delivered);
    return row;
  }
  AnswerRow Keeps() const { return With(&AnswerRow::keeps); }
  AnswerRow ListsForAti9() const { return With(&AnswerRow::ati9); }
  AnswerRow Unlisted() const { return With(&AnswerRow::unlisted); }
  AnswerRow EchoOff() const { return With(&AnswerRow::echoOff); }
  AnswerRow Numeric() const { return With(&AnswerRow::numeric); }
  AnswerRow RefusesSetup() const { return With(&AnswerRow::setupRefused); }
  AnswerRow With(bool AnswerRow::*flag) const {
    AnswerRow row = *this;
    row.*flag = true;
    return row;
  }
};

// A modem that answers the country command with `word`; the row is named
// after it.
AnswerRow Says(const char* word) { return AnswerRow{word, word}; }

void PrintTo(const AnswerRow& row, std::ostream* os) { *os << row.name; }

class CountryAnswerTest : public SwitchTest, public ::testing::WithParamInterface<AnswerRow> {};

// The comms log as the dialog leaves it, written while `run` runs.
std::string CommsLogOf(const std::function<void()>& run) {
  char path[] = "/tmp/ctyset2-commslog-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return "(no log)";
  close(fd);
  comm32::CommsLog().SetName(path);
  comm32::CommsLog().Open(path);
  run();
  comm32::CommsLog().Close();
  comm32::CommsLog().SetName("");
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path);
  return text;
}

}  // namespace

// "OK" counts only as a whole reply line: the modem's other reply words and
// longer words containing "OK" fail the switch after 10 s, as does an
// "ERROR"; "OK" split over two deliveries, or right after the echo's
// carriage return, succeeds at the usual time. A modem that answers "OK" but
// lists another country of the table afterwards has not switched: the
// verdict comes when its listing is in, and the comms log names the country
// it reported. A modem whose echo is off is found with the echo turned on;
// one that answers with numeric codes is switched with verbose ones.
TEST_P(CountryAnswerTest, VerdictIsWhatTheModemDid) {
  const AnswerRow& row = GetParam();
  modem.countryReply = row.word;
  modem.countryBursts = row.bursts;
  modem.keepsCountry = row.keeps;
  modem.hasStatusV5 = !row.ati9;
  if (row.unlisted) modem.countryKeys.erase(4);
  modem.echo = !row.echoOff;
  modem.numeric = row.numeric;
  // A lone "4" would be too short a probe reply.
  if (row.numeric) modem.overrides["ATH3"] = {{"FW 2.07"}, "OK"};
  const std::string setup = std::string(row.echoOff || row.numeric ? "AT" : "") +
                            (row.echoOff ? "E1" : "") + (row.numeric ? "V1" : "");
  if (row.setupRefused) modem.overrides[setup] = {{}, "ERROR"};
  const std::string status = row.ati9 ? "ATI9" : "AT&V5";

  Detect();
  std::vector<std::string> ladder = kLadder;
  if (row.ati9) ladder.push_back("ATI9");
  if (row.echoOff) {  // once more, the echo turned on in place of the reset
    const std::vector<std::string> again(ladder.begin() + 2, ladder.end());
    ladder.push_back("ATE1");
    ladder.insert(ladder.end(), again.begin(), again.end());
  }
  EXPECT_EQ(detectionHeard, ladder);
  EXPECT_EQ(form->ComboBox1.Text(), "North America (USA)");

  Choose("Germany");
  TForm1::TOutcome outcome = TForm1::TOutcome::None;  // as the box shows
  host.onMessage = [&](const FakeHost::Message&) { outcome = form->Outcome(); };
  const std::string log = CommsLogOf([&] { PressOk(); });
  const bool accepted = modem.country == 4;
  const bool answeredOk = std::string(row.word) == "OK" && !row.setupRefused;
  ASSERT_EQ(accepted, answeredOk && !row.keeps);
  ASSERT_EQ(host.messages.size(), 1u);
  const FakeHost::Message& told = host.messages[0];
  EXPECT_EQ(told.text == TForm1::kResetOkBox, accepted);
  EXPECT_EQ(outcome, accepted ? TForm1::TOutcome::Switched : TForm1::TOutcome::Failed);
  // Either way the modem was recognised; the switch's end does not undo that.
  EXPECT_TRUE(form->DetectionSucceeded());
  EXPECT_EQ(Status(), accepted ? "Modem reset OK!!" : "Detect ERROR.....");

  std::vector<std::string> heard;
  if (!setup.empty()) heard.push_back(setup);
  if (!row.setupRefused) heard.push_back("AT%T19,0,4");
  if (answeredOk) heard.push_back(status);
  EXPECT_EQ(modem.heard, heard);
  EXPECT_EQ(log.find("modem reports North America (USA), not Germany") != std::string::npos,
            row.keeps);

  // The country command's line; each step ends 100 ms after the delivery
  // that completed its "OK", or fails 10 s after its command.
  const size_t country = setup.empty() ? 0 : 1;
  ASSERT_EQ(port.lines.size(), heard.size());
  if (row.setupRefused) {
    EXPECT_EQ(told.at, port.lines[0].at + TForm1::kStepReplyMs);
  } else if (!answeredOk) {
    EXPECT_EQ(told.at, port.lines[country].at + TForm1::kStepReplyMs);
  } else {
    const size_t bursts = row.bursts.empty() ? 1 : row.bursts.size();
    EXPECT_EQ(port.lines[country + 1].at, port.lines[country].at + modem.replyDelay +
                                              modem.burstGap * (bursts - 1) + TForm1::kMatchedMs +
                                              Sending(status));
    EXPECT_EQ(told.at, port.lines[country + 1].at + modem.replyDelay + TForm1::kMatchedMs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Words, CountryAnswerTest,
    ::testing::Values(
        Says("OK"), Says("ERROR"), Says("NOK1"), Says("NOK2"), Says("NOK3"), Says("NOK4"),
        Says("NO DIAL TONE").Named("NoDialTone"), Says("BUSY"), Says("RING"), Says("VCON"),
        Says("NOK"), Says("OKAY"), Says("BROKEN"), Says("ERRORS"), Says("NOERROR"),
        Says("OK").Named("OkSplit").InBursts({"AT%T19,0,4\r\r\nO", "K\r\n"}),
        Says("OK").Named("OkThenLineEnd").InBursts({"AT%T19,0,4\r\r\nOK", "\r\n"}),
        Says("OK").Named("OkAfterEchoCr").InBursts({"AT%T19,0,4\rOK\r"}),
        Says("NOK1").Named("Nok1Split").InBursts({"AT%T19,0,4\r\r\nN", "OK1\r\n"}),
        Says("OK").Named("KeptListedByAtV5").Keeps(),
        Says("OK").Named("KeptListedByAti9").Keeps().ListsForAti9(),
        Says("OK").Named("ChosenListedByAti9").ListsForAti9(),
        Says("OK").Named("ListingNamesNoCountry").Unlisted(), Says("OK").Named("EchoOff").EchoOff(),
        Says("OK").Named("EchoOffKept").Keeps().EchoOff(),
        Says("OK").Named("EchoOffAti9").ListsForAti9().EchoOff(),
        Says("OK").Named("Numeric").Numeric(), Says("ERROR").Named("NumericRefused").Numeric(),
        Says("OK").Named("NumericKept").Keeps().Numeric(),
        Says("OK").Named("NumericKeptAti9").Keeps().ListsForAti9().Numeric(),
        Says("OK").Named("NumericAti9").ListsForAti9().Numeric(),
        Says("OK").Named("NumericAnswersFourToV1").Numeric().RefusesSetup(),
        Says("OK").Named("EchoOffNumeric").EchoOff().Numeric()),
    [](const ::testing::TestParamInfo<AnswerRow>& info) { return std::string(info.param.name); });

// The read-back looks at every country of the box, the first one included: a
// modem that holds the first country and keeps it is told the switch failed.
TEST_F(SwitchTest, AKeptFirstCountryOfTheBoxIsAFailure) {
  modem.country = 4;
  modem.keepsCountry = true;
  Detect();
  ASSERT_EQ(form->ComboBox1.Items.IndexOf("Germany"), 0);
  EXPECT_EQ(form->ComboBox1.Text(), "Germany");
  Choose("Japan");
  PressOk();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, TForm1::kDetectErrorBox);
  EXPECT_EQ(modem.country, 4u);
}
