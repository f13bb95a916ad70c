// Command script engine, country switch and the wrappers around the country
// tables.
#include <cstring>
#include <vector>

#include "comm32/CommsLog.h"
#include "wfload/Form1.h"

namespace {
constexpr size_t kScriptLineMax = 80;
constexpr size_t kFieldMax = TDialogState::kTextSize - 1;

// The expected reply of a step that awaits none.
constexpr const char* kNoReply = "NO";

// Timer1's interval once the script runs (Timer2C sets it). Nothing enables
// Timer1 during the switch, so it shows only as the interval.
constexpr unsigned kScriptTimer1Ms = 6000;

// What a step does with its command.
enum class TScriptAction {
  Send,             // sends it as it stands
  CountryCommand,   // sends the chosen country's command instead (CheckCountry)
  ClearTranscript,  // empties Memo1, then sends it
  StatusCommand,    // sends "ATI9" instead when detection read the status from it
  Pause,            // sends nothing
};

struct TScriptKeyword {
  const char* Prefix;  // the command begins with it (case-sensitive)
  TScriptAction Action;
  unsigned WaitMs;  // Timer2: how long the step waits for its reply
  bool NeedsReply;  // false: the step cannot fail
};

// The script's keywords, tried in this order on the start of a step's
// command; the last row, with the empty prefix, is every other command.
constexpr TScriptKeyword kKeywords[] = {
    {"AT*NC", TScriptAction::CountryCommand, TForm1::kStepReplyMs, true},
    {"ATI3", TScriptAction::ClearTranscript, TForm1::kStepReplyMs, true},
    {"AT&V5", TScriptAction::StatusCommand, TForm1::kStepReplyMs, true},
    // A pause that expects a reply (not "NO") fails: it has sent nothing.
    {"DELAY", TScriptAction::Pause, TForm1::kDelayStepMs, true},
    {"SEND1", TScriptAction::Send, TForm1::kSend1StepMs, false},
    {"SEND4", TScriptAction::Send, TForm1::kSend4StepMs, false},
    {"", TScriptAction::Send, TForm1::kStepReplyMs, true},
};

constexpr size_t kKeywordRows = sizeof kKeywords / sizeof kKeywords[0];
static_assert(kKeywords[kKeywordRows - 1].Prefix[0] == '\0',
              "the last keyword row takes every command");

const TScriptKeyword& KeywordOf(const char (&command)[TDialogState::kTextSize]) {
  const TScriptKeyword* keyword = kKeywords;
  while (!StartsWith(command, keyword->Prefix)) ++keyword;
  return *keyword;
}

// Line `n` of `script`, made its selected item; "" (none selected) when it
// has no such line.
std::string SelectLine(TListBox& script, int n) {
  const bool inRange = n >= 0 && n < script.Items.Count();
  script.Items.ItemIndex = inRange ? n : -1;
  return inRange ? script.Items[n] : std::string();
}
}  // namespace

int TForm1::GetCommand(const char* Line, char (&Command)[TDialogState::kTextSize],
                       char (&Reply)[TDialogState::kTextSize]) {
  char line[kScriptLineMax + 1];
  CopyText(line, Line, kScriptLineMax);
  int digit = -1;
  int field = 1;
  const char* start = line;
  // A field counts only when a ';' closes it; fields after the third are
  // ignored.
  for (const char* semi = std::strchr(start, ';'); semi && field <= 3;
       semi = std::strchr(start, ';'), ++field) {
    std::string text(start, semi);
    if (field == 1) CopyText(Command, text, kFieldMax);
    if (field == 2 && !text.empty()) digit = text[0] - '0';
    if (field == 3) CopyText(Reply, text, kFieldMax);
    start = semi + 1;
  }
  return digit;
}

void TForm1::SendCMD() {
  Timer1.SetEnabled(false);
  Timer2.SetEnabled(false);
  TListBox& script = st_.ScriptSel == 0 ? ListBox1 : ListBox2;
  if (st_.DebugMode > 0) script.Visible = true;
  char expected[TDialogState::kTextSize] = {};
  GetCommand(SelectLine(script, st_.ScriptLine).c_str(), st_.CurCommand, expected);

  const TScriptKeyword& keyword = KeywordOf(st_.CurCommand);
  bool send = keyword.Action != TScriptAction::Pause;
  if (keyword.Action == TScriptAction::CountryCommand) {
    // CurCommand becomes the chosen country's command; it is empty, and not
    // sent, when the box names no country of the table.
    send = CheckCountry();
  }
  if (keyword.Action == TScriptAction::ClearTranscript) Memo1.Clear();
  if (keyword.Action == TScriptAction::StatusCommand && st_.UseAti9 > 0)
    CopyText(st_.CurCommand, "ATI9");
  if (send) WriteCommData(st_.CurCommand);

  if (st_.ScriptLine == script.Items.Count() - 1) {  // the last line
    st_.ScriptLine = -1;
    st_.ScriptMore = false;
  }
  Timer2.SetInterval(keyword.WaitMs);
  Timer3.SetInterval(kReplyCheckMs);
  if (std::strcmp(expected, kNoReply) == 0)
    st_.WaitMatched = true;
  else
    WaitString(expected);
  Timer2.SetEnabled(true);
  Timer3.SetEnabled(true);
  ++st_.ScriptLine;
}

void TForm1::CheckResponse() {
  Timer3.SetEnabled(false);
  for (int i = 0; i < ResponseList.Items.Count(); ++i) {
    ResponseList.Items.ItemIndex = i;
    if (SearchString(ResponseList.Items[i].c_str())) {
      Timer2.SetInterval(kReplyWordMs);
      break;
    }
  }
  Timer2.SetEnabled(true);
}

void TForm1::Timer2C() {
  Timer1.SetEnabled(false);
  Timer2.SetEnabled(false);
  Timer3.SetEnabled(false);
  Timer1.SetInterval(kScriptTimer1Ms);
  if (!KeywordOf(st_.CurCommand).NeedsReply) st_.WaitMatched = true;
  // The step is over: what it received is dropped.
  Comm1.PurgeInput();
  ClearBuffer();
  if (!st_.WaitMatched) {  // the awaited reply has not come
    FailScript();
    st_.ScriptLine = 0;
    return;
  }
  if (st_.ScriptMore) {
    SendCMD();
    return;
  }
  CompleteScript();
}

void TForm1::FailScript() {
  Panel14.Caption = kDetectError;
  ClosePort();
  Timer4.SetEnabled(false);
  Tell(TOutcome::Failed);
  host_.Close();
}

void TForm1::CompleteScript() {
  CopyText(st_.CurCommand, st_.Tables.CountryCmd);
  std::int32_t i = SearchVer(0, st_.CurCommand);
  Panel7.Caption = st_.ReplyBuf;
  SearchStatus(i + 1);
  Panel8.Caption = st_.ReplyBuf;
  // The listing tells which country the modem holds now. One that answered
  // "OK" but kept (or fell back to) another country of the table has not
  // switched; a listing that names none of them proves nothing either way.
  const int listed = ListedCountry(st_.ReplyBuf, sizeof st_.ReplyBuf);
  reported_ = listed >= 0 ? ComboBox1.Items[listed] : std::string();
  if (listed >= 0 && reported_ != ComboBox1.Text()) {
    const std::string line =
        "Country switch: modem reports " + reported_ + ", not " + ComboBox1.Text();
    comm32::CommsLog().WriteLine(line.c_str(), false);
    FailScript();
    return;
  }
  Cancel.Enabled = true;
  Timer4.SetEnabled(false);
  Panel14.Caption = kResetOk;
  Tell(TOutcome::Switched);
  ClosePort();
  host_.Repaint();
  host_.Close();
}

void TForm1::UPGRADEClick() {
  // OK acts once detection has found the modem, and only once.
  if (!DetectionSucceeded() || switching_) return;
  // CountryCmd and CurCommand become the chosen country's command, which the
  // script's AT*NC line sends; none when the box names no country.
  const bool countryChosen = CheckCountry();
  if (!countryChosen) {
    Panel14.Caption = kSelectCountry;
    return;
  }
  CountryCode();
  switching_ = true;
  Panel14.Caption = kSettingNow;
  Timer4.SetEnabled(true);
}

std::string TForm1::ModemSetup() const {
  if (!echoTurnedOn_ && !numericCodes_) return std::string();
  // "ATV1" is answered in the form it selects, "OK", as the step awaits.
  // The echo goes on again: the port was closed since detection, and a
  // modem that resets when DTR drops is back at its stored echo off.
  return std::string("AT") + (echoTurnedOn_ ? "E1" : "") + (numericCodes_ ? "V1" : "");
}

void TForm1::CountryCode() {
  // The port may take its time to open, as in the scan.
  opening_ = TOpening::Switch;
  Comm1.BeginOpenPort();
}

void TForm1::SwitchPortOpened(const std::string& error) {
  if (!error.empty()) {
    // The switch has not started: back to the choice, and the error goes to
    // the window like any other a handler raises.
    switching_ = false;
    StopAnimation();
    Panel14.Caption = kSelectCountry;
    throw ECommsError(error);
  }
  const std::string setup = ModemSetup();
  if (!setup.empty()) {
    TListBox& script = st_.ScriptSel == 0 ? ListBox1 : ListBox2;
    std::vector<std::string> lines = {setup + ";1;OK;"};
    lines.insert(lines.end(), script.Items.Items().begin(), script.Items.Items().end());
    script.Items.Assign(lines);
  }
  PortOpenedForInput();
  st_.WaitMatched = true;
  // The timers change roles: from here on Timer2 is the script's step timer
  // (Timer2C ends a step and sends the next; its first tick, after the
  // interval detection left, sends the first line) and Timer3 the reply-word
  // check (CheckResponse).
  Timer2.SetOnTimer("Timer2C", [this] { Timer2C(); });
  Timer2.SetEnabled(true);
  Timer3.SetOnTimer("CheckResponse", [this] { CheckResponse(); });
}

void TForm1::ChangeTo(unsigned Selector) {
  // In the order of TCountryTables::TListSelector.
  TListBox* lists[] = {&INTList,  &DEMlist, &PCI2List, &LINTList,
                       &LDEMList, &AllList, &INT2List, &DEM2List};
  static_assert(sizeof lists / sizeof lists[0] == TCountryTables::kBuiltInLists);
  if (Selector < TCountryTables::kBuiltInLists) IDlist = lists[Selector];
  ComboBox1.Items.Assign(IDlist->Items.Items());
  ComboBox1.SetItemIndex(-1);
}

bool TForm1::Change_LFile(const char* Ident) {
  std::vector<std::string> names;
  bool selected = st_.Tables.Change_LFile(Ident, host_.CountryIniFile(), names);
  if (Ident[0] == '\0') return selected;
  IDlist->Items.Assign(names);
  ComboBox1.Items.Assign(names);
  ComboBox1.SetItemIndex(-1);
  return selected;
}

std::int32_t TForm1::SearchStatus(std::int32_t Start) {
  return SearchVer(Start, st_.UseAti9 > 0 ? "ATI9" : "AT&V5");
}

int TForm1::ListedCountry(char* Status, size_t StatusSize) {
  std::string status(Status);
  int index = st_.Tables.ChangeDisplay(status, ComboBox1.Items.Items());
  size_t n = status.size() < StatusSize ? status.size() : StatusSize - 1;
  std::memcpy(Status, status.data(), n);
  Status[n] = '\0';
  return index;
}

void TForm1::ChangeDisplay(char* Status, size_t StatusSize) {
  const int index = ListedCountry(Status, StatusSize);
  if (index >= 0)
    ComboBox1.SetItemIndex(index);
  else
    ComboBox1.SetText(kUnknownCountry);
}

bool TForm1::CheckCountry() {
  bool found = st_.Tables.CheckCountry(ComboBox1.Text(), ComboBox1.Items.Count());
  CopyText(st_.CurCommand, st_.Tables.CountryCmd);
  return found;
}
