// libFuzzer target for the command script engine. GetCommand splits arbitrary
// script lines, checked against a plain reading of the line format; then the
// engine runs a script of arbitrary lines against a modem in virtual time and
// must end with its success or failure box, port closed, within the time its
// steps allow.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "tests/unit/DialogRig.h"

namespace {

using Ms = VirtualClock::Ms;

// Fields closed by ';' of the line cut to 80 characters (and at a zero byte).
std::vector<std::string> ClosedFields(const std::string& line) {
  std::string cut = line.substr(0, std::min(line.find('\0'), size_t{80}));
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t semi; (semi = cut.find(';', start)) != std::string::npos; start = semi + 1)
    fields.push_back(cut.substr(start, semi - start));
  return fields;
}

void CheckGetCommand(TForm1& form, FuzzedDataProvider& in) {
  const std::string line = in.ConsumeRandomLengthString(120);
  const std::string oldCommand = in.ConsumeRandomLengthString(79);
  const std::string oldReply = in.ConsumeRandomLengthString(79);
  char command[TDialogState::kTextSize];
  char reply[TDialogState::kTextSize];
  CopyText(command, oldCommand.c_str());
  CopyText(reply, oldReply.c_str());
  const int digit = form.GetCommand(line.c_str(), command, reply);

  const std::vector<std::string> fields = ClosedFields(line);
  auto expect = [&](size_t n, const std::string& old) {
    if (fields.size() < n) return old.substr(0, old.find('\0'));
    return fields[n - 1].substr(0, 79);
  };
  FUZZ_CHECK(std::memchr(command, 0, sizeof command) && std::memchr(reply, 0, sizeof reply));
  FUZZ_CHECK(expect(1, oldCommand) == command);
  FUZZ_CHECK(expect(3, oldReply) == reply);
  if (fields.size() >= 2 && !fields[1].empty())
    FUZZ_CHECK(digit == fields[1][0] - '0');
  else
    FUZZ_CHECK(digit == -1);
}

const char* const kLines[] = {"AT*NC22;1;OK;", "AT&V5;1;OK;",   "ATI3;1;OK;", "DELAY;1;NO;",
                              "SEND1AT;1;OK;", "SEND4AT;1;NO;", "ATZ;1;OK",   "AT;1;ERROR;"};

// How long a script may take: the first tick, then per line its longest step
// and the sending, and slack.
Ms Bound(const std::vector<std::string>& lines) {
  Ms bound = TForm1::kEvaluationMs + 1000;
  for (size_t i = 0; i < lines.size() || i == 0; ++i) bound += TForm1::kSend1StepMs + 200;
  return bound;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  DialogRig rig;
  rig.host.words.push_back("AUTOOFF");  // no detection: the script runs on its own
  rig.Open();
  rig.host.DestroyTimers();
  TForm1& form = *rig.form;

  const int splits = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < splits; ++i) CheckGetCommand(form, in);

  FakeModem modem;
  DialogRig::Keys(modem);
  modem.echo = in.ConsumeBool();
  modem.countryReply = in.ConsumeBool() ? "OK" : "NOK1";
  modem.replyDelay = in.ConsumeIntegralInRange<Ms>(0, 11000);
  rig.port.Attach(1, modem);
  rig.port.SetPort(tptOne);

  std::vector<std::string> lines;
  const int count = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < count; ++i)
    lines.push_back(in.ConsumeBool() ? kLines[in.ConsumeIntegralInRange(0, 7)]
                                     : in.ConsumeRandomLengthString(100));
  form.ListBox2.Items.Assign(lines);
  rig.st.UseAti9 = in.ConsumeBool();
  rig.st.DebugMode = in.ConsumeBool();
  // The country list of a detected FAKEMODEM, a country chosen or not.
  form.ChangeTo(TCountryTables::kLDEMList);
  form.Change_LFile("56K FAKEMODEM");
  if (in.ConsumeBool())
    form.ComboBox1.SetItemIndex(in.ConsumeIntegralInRange(0, form.ComboBox1.Items.Count() - 1));
  else
    form.ComboBox1.SetText(TForm1::kUnknownCountry);

  form.AttachTimers();
  form.Timer1.SetEnabled(false);
  form.CountryCode();
  const Ms start = rig.clock.Now();
  rig.host.RunUntil(start + Bound(lines));

  FUZZ_CHECK(rig.host.closed);
  FUZZ_CHECK(rig.host.messages.size() == 1);
  const FakeHost::Message& box = rig.host.messages[0];
  FUZZ_CHECK(box.text == TForm1::kResetOkBox || box.text == TForm1::kDetectErrorBox);
  FUZZ_CHECK(!rig.port.IsOpen());
  FUZZ_CHECK(rig.st.ScriptLine == 0);
  FUZZ_CHECK(std::strlen(rig.st.CurCommand) < TDialogState::kTextSize);
  return 0;
}
