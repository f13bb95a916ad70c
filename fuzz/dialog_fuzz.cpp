// libFuzzer target for the whole dialog in virtual time: detection over up to
// eight ports whose devices answer as the input says (modem replies, garbage,
// silence, split and late bursts, floods, unplugging), then the country switch, with
// message boxes that stay up for a while (their modal loop dispatches timers
// and deliveries meanwhile) and Cancel pressed at any time. Two openings per
// input share the dialog state, as in one loading of the library.
//
// Every opening must end in a defined outcome within a bounded virtual time:
// the country prompt (nothing running, port closed), "No modem detect ??",
// "Modem type can not detect ??", the switch's success or failure box, or
// Cancel; exactly one outcome box, and the port closed once the form is gone.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "tests/unit/DialogRig.h"

namespace {

using Ms = VirtualClock::Ms;
using TOutcome = TForm1::TOutcome;

constexpr Ms kMaxBox = 5000;         // longest a message box stays up
constexpr Ms kDetectBound = 120000;  // 8 ports of two ladder runs (13 s) at most, and slack
constexpr Ms kSwitchBound = 35000;   // three steps of 10 s (a setup step first), and slack
constexpr size_t kMaxBurst = 65535;

std::string Pick(FuzzedDataProvider& in, const std::vector<std::string>& options) {
  return options[in.ConsumeIntegralInRange<size_t>(0, options.size() - 1)];
}

// A modem whose every answer the input shapes.
class FuzzModem : public FakeModem {
 public:
  FuzzModem(FuzzedDataProvider& in, FakePort& port, VirtualClock& clock)
      : in_(in), port_(port), clock_(clock) {
    echo = in.ConsumeIntegralInRange(0, 5) != 5;
    identification = {Pick(in, {"56K FAKEMODEM V1.0", "OTHER 2", "UNKNOWN", "FAKEMODEM"})};
    if (in.ConsumeIntegralInRange(0, 7) == 7) identification = {in.ConsumeRandomLengthString(90)};
    probe = Pick(in, {"ERROR", "OK", "FW 2.07", ""});
    hasStatusV5 = in.ConsumeIntegralInRange(0, 3) != 3;
    hasStatusI9 = in.ConsumeIntegralInRange(0, 3) != 3;
    countryReply = Pick(in, {"OK", "OK", "OK", "ERROR", "NOK1", "OKAY"});
    DialogRig::Keys(*this);
    country = in.PickValueInArray({0xB5u, 0u, 4u, 0x77u});
  }

  std::string Answer(const std::string& line) override {
    std::string normal = FakeModem::Answer(line);
    const Ms now = clock_.Now();
    if (gone_) return std::string();
    if (in_.remaining_bytes() == 0) {
      Send(now + 250, normal);
      return std::string();
    }
    switch (in_.ConsumeIntegralInRange(0, 10)) {
      case 0:  // silence
        break;
      case 1:  // anything at all
        Send(now + in_.ConsumeIntegralInRange<Ms>(0, 3000), in_.ConsumeRandomLengthString(300));
        break;
      case 2: {  // the answer in pieces, each at its own time
        size_t at = 0;
        Ms when = now;
        while (at < normal.size()) {
          size_t n = in_.ConsumeIntegralInRange<size_t>(1, normal.size() - at);
          when += in_.ConsumeIntegralInRange<Ms>(0, 700);
          Send(when, normal.substr(at, n));
          at += n;
        }
        break;
      }
      case 3:  // late, up to past the evaluation and the step time-out
        Send(now + in_.ConsumeIntegralInRange<Ms>(0, 12000), normal);
        break;
      case 4:  // with line noise around it
        Send(now + 250,
             in_.ConsumeRandomLengthString(40) + normal + in_.ConsumeRandomLengthString(40));
        break;
      case 5:
        Send(now + 250, Frame(line, {{}, "ERROR"}, echo));
        break;
      case 6: {  // a flood of one repeated piece
        std::string piece = in_.ConsumeRandomLengthString(8);
        if (piece.empty()) piece = "\xff";
        size_t total = in_.ConsumeIntegralInRange<size_t>(0, 200000);
        std::string flood;
        while (flood.size() < total) flood += piece;
        for (size_t at = 0; at < flood.size(); at += kMaxBurst)
          Send(now + 250 + at / kMaxBurst, flood.substr(at, kMaxBurst));
        break;
      }
      case 8:  // unplugged: nothing more from it, ever
        gone_ = true;
        port_.Detach(port_.OpenNumber());
        break;
      case 7:  // twice
        Send(now + 250, normal);
        Send(now + in_.ConsumeIntegralInRange<Ms>(250, 3000), normal);
        break;
      default:
        Send(now + 250, normal);
        break;
    }
    return std::string();
  }

 private:
  void Send(Ms at, const std::string& bytes) {
    if (!bytes.empty() || in_.ConsumeBool()) port_.DeliverAt(at, bytes.substr(0, kMaxBurst));
  }

  bool gone_ = false;
  FuzzedDataProvider& in_;
  FakePort& port_;
  VirtualClock& clock_;
};

bool IsOutcome(const std::string& text) {
  return text == TForm1::kNoModem || text == TForm1::kUnknownModem || text == TForm1::kResetOkBox ||
         text == TForm1::kDetectErrorBox;
}

struct Session {
  DialogRig rig;
  FuzzedDataProvider& in;
  std::vector<std::unique_ptr<FakeDevice>> devices;
  Ms boxTime = 0;  // total time message boxes were up in this opening

  explicit Session(FuzzedDataProvider& input) : in(input) {
    // A message box runs its own modal loop: timers and deliveries go on.
    rig.host.onMessage = [this](const FakeHost::Message&) {
      Ms up = in.ConsumeIntegralInRange<Ms>(0, kMaxBox);
      boxTime += up;
      rig.clock.RunFor(up);
    };
  }

  void Wire() {
    for (int n = 1; n <= 8; ++n) {
      switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1:
          devices.emplace_back(new FuzzModem(in, rig.port, rig.clock));
          rig.port.Attach(n, *devices.back());
          break;
        case 2:
          devices.emplace_back(new SilentDevice);
          rig.port.Attach(n, *devices.back());
          break;
        case 3:
          rig.port.failing[n] = FakePort::Worker::Read;
          break;
        default:
          break;
      }
    }
  }

  // Runs until `bound` after now (plus the time boxes were up) or until the
  // dialog closes; Cancel is pressed at `cancelAt` if it is still open then.
  void Run(Ms bound, Ms cancelAt) {
    const Ms start = rig.clock.Now();
    boxTime = 0;
    if (cancelAt < bound) {
      rig.host.RunUntil(start + cancelAt);
      if (!rig.host.closed) rig.form->CancelClick();
    }
    Ms end;
    do {  // boxes may extend the bound while it runs
      end = start + bound + boxTime;
      rig.host.RunUntil(end);
    } while (!rig.host.closed && start + bound + boxTime > end);
  }

  size_t Outcomes(size_t from) const {
    size_t count = 0;
    for (size_t i = from; i < rig.host.messages.size(); ++i)
      count += IsOutcome(rig.host.messages[i].text);
    return count;
  }

  bool NothingRunning() const {
    TForm1& f = *rig.form;
    return !rig.host.Armed(f.Timer1) && !rig.host.Armed(f.Timer2) && !rig.host.Armed(f.Timer3) &&
           !rig.host.Armed(f.Timer4);
  }

  void OneOpening() {
    rig.host.closed = false;
    rig.host.words.clear();
    if (in.ConsumeIntegralInRange(0, 3) == 3)
      rig.host.words.push_back(
          Pick(in, {"AUTOOFF", "DEBUG", "COM=3", "com=8", "COM=0", "COM=x", "COM=99"}));
    const size_t firstMessage = rig.host.messages.size();
    rig.Open();

    Ms cancelAt = in.ConsumeBool() ? in.ConsumeIntegralInRange<Ms>(0, kDetectBound) : ~Ms(0);
    Run(kDetectBound, cancelAt);
    const bool cancelled = cancelAt < kDetectBound;
    if (rig.host.closed) {
      const std::vector<FakeHost::Message>& m = rig.host.messages;
      const size_t outcomes = Outcomes(firstMessage);
      FUZZ_CHECK(outcomes <= 1);
      if (outcomes == 0) {
        FUZZ_CHECK(cancelled);
        // Cancelled during the scan or at the prompt.
        FUZZ_CHECK(rig.form->Outcome() ==
                   (rig.form->DetectionSucceeded() ? TOutcome::Prompt : TOutcome::None));
      } else {
        FUZZ_CHECK(m.back().text == TForm1::kNoModem || m.back().text == TForm1::kUnknownModem);
        FUZZ_CHECK(m.back().kind == TMsgKind::Error);
        FUZZ_CHECK(
            rig.form->Outcome() ==
            (m.back().text == TForm1::kNoModem ? TOutcome::NoPort : TOutcome::UnknownFamily));
      }
    } else {
      // The country prompt, with nothing left running.
      FUZZ_CHECK(rig.form->DetectionSucceeded());
      FUZZ_CHECK(rig.form->Outcome() == TOutcome::Prompt && rig.form->ProbedPort() == 0);
      FUZZ_CHECK(rig.Status() == TForm1::kSelectCountry);
      FUZZ_CHECK(NothingRunning());
      FUZZ_CHECK(!rig.port.IsOpen());
      FUZZ_CHECK(Outcomes(firstMessage) == 0);
      Switch(firstMessage);
    }
    rig.CloseForm();
    FUZZ_CHECK(!rig.port.IsOpen());
  }

  void Switch(size_t firstMessage) {
    TComboBox& combo = rig.form->ComboBox1;
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0:
        break;  // whatever detection preselected
      case 1:
        combo.SetText(in.ConsumeRandomLengthString(20));
        break;
      default:
        if (combo.Items.Count() > 0)
          combo.SetItemIndex(in.ConsumeIntegralInRange(0, combo.Items.Count() - 1));
        break;
    }
    const bool named = combo.Items.IndexOf(combo.Text()) >= 0;
    const int presses = (in.ConsumeIntegralInRange(0, 2) + 1) % 3;  // one when input runs out
    for (int i = 0; i < presses; ++i) rig.form->UPGRADEClick();
    Ms cancelAt = in.ConsumeBool() ? in.ConsumeIntegralInRange<Ms>(0, kSwitchBound) : ~Ms(0);
    Run(kSwitchBound, cancelAt);
    if (presses == 0 || !named) {
      // Nothing started: still the prompt, unless cancelled.
      FUZZ_CHECK(!rig.form->SwitchRunning());
      FUZZ_CHECK(Outcomes(firstMessage) == 0);
      FUZZ_CHECK(rig.form->Outcome() == TOutcome::Prompt);
      FUZZ_CHECK(rig.host.closed == (cancelAt < kSwitchBound));
      if (!rig.host.closed) FUZZ_CHECK(NothingRunning() && !rig.port.IsOpen());
      return;
    }
    FUZZ_CHECK(rig.host.closed);
    const size_t outcomes = Outcomes(firstMessage);
    FUZZ_CHECK(outcomes <= 1);
    if (outcomes == 0) {
      FUZZ_CHECK(cancelAt < kSwitchBound);
    } else {
      const FakeHost::Message& last = rig.host.messages.back();
      FUZZ_CHECK(last.text == TForm1::kResetOkBox || last.text == TForm1::kDetectErrorBox);
      FUZZ_CHECK(last.kind ==
                 (last.text == TForm1::kResetOkBox ? TMsgKind::Information : TMsgKind::Error));
      FUZZ_CHECK(rig.form->Outcome() ==
                 (last.text == TForm1::kResetOkBox ? TOutcome::Switched : TOutcome::Failed));
      FUZZ_CHECK(!rig.port.IsOpen());
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Session session(in);
  session.Wire();
  session.OneOpening();
  if (in.ConsumeBool()) session.OneOpening();
  return 0;
}
