// Modem detection: the port step, the command ladder and the evaluation.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "wfload/Form1.h"

namespace {
// COM1 .. COM8 are always tried; above them only the ports the system lists.
constexpr int kLastPort = 8;

// Sent by the port step as soon as a port opens, before the ladder's first
// tick.
constexpr const char* kPortOpenedCommand = "AT";

// When a ladder step sends its command.
enum class TLadderSend { Always, AfterMatch };

// Where the evaluation reads the modem's country from (UseAti9), as a step
// that has sent its command leaves it.
enum class TStatusFrom { Unchanged, AtV5, Ati9 };

struct TLadderRung {
  TLadderStep Step;
  const char* Command;
  // Sent instead when the ladder runs a second time on the same port.
  const char* Again;
  // Set as WaitText before sending (CurCommand becomes Command); the match
  // itself is left as it stands. Null: neither changes.
  const char* Awaits;
  TLadderSend Send;
  TStatusFrom Status;
};

// The command ladder, one rung a tick of Timer3. After the last rung the
// ladder is over and Timer2 evaluates the replies.
constexpr TLadderRung kLadder[] = {
    // The second run is for a modem whose echo is off: a reset would bring
    // its stored profile back, echo off included, so the echo is turned on
    // instead.
    {TLadderStep::Reset, "ATZ", "ATE1", nullptr, TLadderSend::Always, TStatusFrom::Unchanged},
    {TLadderStep::Identification, "ATI5", nullptr, nullptr, TLadderSend::Always,
     TStatusFrom::Unchanged},
    {TLadderStep::Probe, "ATH3", nullptr, nullptr, TLadderSend::Always, TStatusFrom::Unchanged},
    {TLadderStep::Status, "AT&V5", nullptr, "ERROR", TLadderSend::Always, TStatusFrom::AtV5},
    // Only once "ERROR" has been seen, the status is read from "ATI9".
    {TLadderStep::AlternativeStatus, "ATI9", nullptr, nullptr, TLadderSend::AfterMatch,
     TStatusFrom::Ati9},
};

constexpr size_t kLadderRungs = sizeof kLadder / sizeof kLadder[0];

constexpr bool RungsInStepOrder() {
  for (size_t n = 0; n < kLadderRungs; ++n)
    if (kLadder[n].Step != static_cast<TLadderStep>(n)) return false;
  return true;
}
static_assert(RungsInStepOrder(), "the ladder's rungs are indexed by their step");

const TLadderRung& RungOf(TLadderStep step) {
  const auto n = static_cast<size_t>(step);
  return kLadder[n < kLadderRungs ? n : kLadderRungs - 1];
}

// The echo of the identification command, as the identification lookup
// finds it.
constexpr const char* kIdentification = "ATI5";

// Numeric result codes for "OK" and "ERROR", each a line of its own.
bool IsNumericCode(std::string_view line) { return line == "0" || line == "4"; }

// How a device has answered on this port so far.
struct TAnswers {
  bool Verbose = false;       // a reply word on a line of its own
  bool Numeric = false;       // a numeric result code on a line of its own
  bool Echoed = false;        // the identification command's echo
  bool NumericError = false;  // "4" after the status command's echo
};

TAnswers AnswersIn(const TMemo& transcript, const TStringList& replyWords) {
  const char* status = RungOf(TLadderStep::Status).Command;
  TAnswers answers;
  bool afterStatus = false;
  for (std::string_view line : transcript.Lines()) {
    for (const std::string& word : replyWords.Items())
      answers.Verbose = answers.Verbose || line == word;
    answers.Numeric = answers.Numeric || IsNumericCode(line);
    answers.Echoed = answers.Echoed || line.find(kIdentification) != std::string_view::npos;
    afterStatus = afterStatus || line.find(status) != std::string_view::npos;
    answers.NumericError = answers.NumericError || (afterStatus && line == "4");
  }
  return answers;
}
}  // namespace

void TForm1::Timer1Timer() {
  Memo1.Clear();
  Timer1.SetEnabled(false);
  if (st_.PortOpened) ClosePort();
  ++st_.CurPort;
  ShowDetecting();
  if (st_.CurPort > kLastPort) {
    const int next = scanEnds_ ? 0 : NextListedPort(st_.CurPort);
    if (next == 0) {
      EndScan();
      return;
    }
    st_.CurPort = next;
    ShowDetecting();
  }
  ProbePort();
}

void TForm1::ShowDetecting() {
  char status[TDialogState::kTextSize];
  std::snprintf(status, sizeof status, kDetectingFormat, static_cast<int>(st_.CurPort));
  Panel14.Caption = status;
  probedPort_ = st_.CurPort;
}

// The lowest port above COM8 that the system lists, from `from` on; 0 when
// there is none.
int TForm1::NextListedPort(int from) {
  int next = 0;
  for (int n : host_.SerialPorts()) {
    if (n > kLastPort && n <= kHighestPort && n >= from && (next == 0 || n < next)) next = n;
  }
  return next;
}

void TForm1::ProbePort() {
  Comm1.SetPort(static_cast<TPort>(st_.CurPort));
  st_.LadderStep = TLadderStep::Reset;
  echoTurnedOn_ = false;
  numericCodes_ = false;
  inputClosed_ = true;
  // The device may take seconds to open (a Bluetooth port connects first);
  // the dialog runs on meanwhile and goes on in PortOpenDone.
  opening_ = TOpening::Probe;
  Comm1.BeginOpenPort();
}

void TForm1::PortOpenDone(bool opened, const std::string& error) {
  const TOpening opening = opening_;
  opening_ = TOpening::None;
  if (opening == TOpening::Switch) return SwitchPortOpened(error);
  if (opening != TOpening::Probe) return;
  if (!error.empty()) {
    // The port could not be served (the failed opening has given it back):
    // say so and go on with the next one.
    host_.ShowMessage(error, TMsgKind::Error);
  }
  if (!opened) {
    if (Comm1.PortHeld()) heldPorts_.push_back(st_.CurPort);
    Timer1.SetEnabled(true);
    return;
  }
  char name[TDialogState::kTextSize];
  std::snprintf(name, sizeof name, "COM%d", static_cast<int>(st_.CurPort));
  ComPort.SetText(name);
  st_.PortOpened = true;
  ForgetEarlierPorts();
  PortOpenedForInput();
  // From here until the ladder's last step a completed match must not stop
  // the ladder: the window before its first tick counts as part of it.
  st_.LadderBusy = true;
  WriteCommData(kPortOpenedCommand);
  Timer3.SetEnabled(true);
}

// Every port is probed from the state the first one starts from: what an
// earlier port answered (an "ERROR" that armed "ATI9" or brought its
// evaluation forward) says nothing about this one.
void TForm1::ForgetEarlierPorts() {
  CopyText(st_.WaitText, "");
  st_.MatchPos = 0;
  st_.LastMatch = 0;
  st_.RxCount = 0;
  st_.WaitMatched = false;
  st_.UseAti9 = 0;
  Timer2.SetInterval(kEvaluationMs);
}

void TForm1::EndScan() {
  if (st_.PortOpened && st_.ModemKnown) {
    Tell(TOutcome::Prompt);
  } else {
    Timer4.SetEnabled(false);
    Tell(st_.PortOpened ? TOutcome::UnknownFamily : TOutcome::NoPort);
    host_.Close();
  }
  StopAnimation();
  probedPort_ = 0;
  Panel14.Caption = kSelectCountry;
}

void TForm1::Tell(TOutcome outcome) {
  outcome_ = outcome;
  switch (outcome) {
    case TOutcome::NoPort:
      return host_.ShowMessage(WithHeldPorts(kNoModem), TMsgKind::Error);
    case TOutcome::UnknownFamily:
      return host_.ShowMessage(WithHeldPorts(kUnknownModem), TMsgKind::Error);
    case TOutcome::Switched:
      return host_.ShowMessage(kResetOkBox, TMsgKind::Information);
    case TOutcome::Failed:
      return host_.ShowMessage(kDetectErrorBox, TMsgKind::Error);
    case TOutcome::None:
    case TOutcome::Prompt:
      return;
  }
}

// A port held by another program was passed over: the failure says so on a
// line of its own, since the modem may be behind it.
std::string TForm1::WithHeldPorts(const char* text) const {
  std::string out = text;
  if (heldPorts_.empty()) return out;
  out += '\n';
  for (size_t n = 0; n < heldPorts_.size(); ++n) {
    if (n > 0) out += n + 1 == heldPorts_.size() ? " and " : ", ";
    out += "COM" + std::to_string(heldPorts_[n]);
  }
  out += heldPorts_.size() == 1 ? kHeldByOne : kHeldByOthers;
  return out;
}

void TForm1::Timer3Timer() {
  Timer3.SetEnabled(false);
  Timer3.SetInterval(kLadderStepMs);
  Timer1.SetEnabled(false);
  st_.LadderBusy = true;
  const TLadderRung& rung = RungOf(st_.LadderStep);
  if (rung.Awaits != nullptr) {
    CopyText(st_.WaitText, rung.Awaits);
    CopyText(st_.CurCommand, rung.Command);
  }
  bool send = rung.Send == TLadderSend::Always || st_.WaitMatched;
  if (!send) {
    // A modem with numeric codes refuses with "4", which the wait for
    // "ERROR" does not see.
    const TAnswers answers = AnswersIn(Memo1, ResponseList.Items);
    send = answers.NumericError && !answers.Verbose;
  }
  if (send) {
    WriteCommData(echoTurnedOn_ && rung.Again != nullptr ? rung.Again : rung.Command);
    if (rung.Status != TStatusFrom::Unchanged)
      st_.UseAti9 = rung.Status == TStatusFrom::Ati9 ? 1 : 0;
  }
  if (&rung != &kLadder[kLadderRungs - 1]) {
    st_.LadderStep = static_cast<TLadderStep>(static_cast<size_t>(rung.Step) + 1);
    Timer3.SetEnabled(true);
    return;
  }
  Timer2.SetEnabled(true);
  st_.LadderBusy = false;
}

void TForm1::Timer2Timer() {
  Timer2.SetEnabled(false);
  // A device that answered, but without an echo.
  const TAnswers answers = AnswersIn(Memo1, ResponseList.Items);
  if ((answers.Verbose || answers.Numeric) && !answers.Echoed && !echoTurnedOn_) {
    echoTurnedOn_ = true;
    RunLadderAgain();
    return;
  }
  numericCodes_ = answers.Numeric && !answers.Verbose;
  std::int32_t i = SearchVer(0, kIdentification);
  Panel7.Caption = st_.ReplyBuf;
  ChangeTo(TCountryTables::kLDEMList);
  st_.ModemKnown = Change_LFile(st_.ReplyBuf);
  std::int32_t j = SearchVer(i + 1, "ATH3");
  if (std::strlen(st_.ReplyBuf) < 3) st_.ModemKnown = false;
  Panel8.Caption = st_.ReplyBuf;
  if (st_.ModemKnown) {
    SearchStatus(j + 1);
    ChangeDisplay(st_.ReplyBuf, sizeof st_.ReplyBuf);
    st_.CurPort = kLastPort;
    scanEnds_ = true;
  }
  host_.Repaint();
  Timer1.SetEnabled(true);
  // Done with this port. Closing it here rather than at the next port step
  // lets whatever it still hands over arrive (and be dropped) before that
  // step: WM_TIMER is low-priority, retrieved only when no other message is
  // queued ("WM_TIMER message", Microsoft Learn), so nothing of this port
  // reaches the next one.
  ClosePort();
}

// A device that answered without echo is a modem whose echo is off (its
// stored profile has it so): the port hears the ladder again from its first
// rung, which turns the echo on, as if it had just been opened.
void TForm1::RunLadderAgain() {
  Memo1.Clear();
  ForgetEarlierPorts();
  st_.LadderStep = TLadderStep::Reset;
  st_.LadderBusy = true;
  Timer3.SetEnabled(true);
}
