// TForm1: creation, size, destruction, parameters, the transcript with the
// wait-text matcher, the reply lookup, sending and the busy animation.
#include "wfload/Form1.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

TStringList ListOf(const std::vector<std::string>& items, bool sorted = false) {
  TStringList list(sorted);
  list.Assign(items);
  return list;
}

TListBox BuiltIn(unsigned selector) {
  return TListBox(TCountryTables::BuiltInListName(selector),
                  ListOf(TCountryTables::BuiltInList(selector)));
}

std::array<TTimer*, 4> TimersOf(TForm1& form) {
  return {&form.Timer1, &form.Timer2, &form.Timer3, &form.Timer4};
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) !=
        std::toupper(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

// A whole text of decimal digits (optionally with a sign and surrounding
// blanks) that fits 32 bits; false for anything else.
bool ParseInt(const std::string& text, std::int32_t& value) {
  size_t i = text.find_first_not_of(' ');
  size_t end = text.find_last_not_of(' ');
  if (i == std::string::npos) return false;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  if (i > end) return false;
  std::int64_t v = 0;
  for (; i <= end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

// Nearest integer, halves to even.
long RoundHalfEven(double x) {
  double f = std::floor(x);
  double diff = x - f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
  return static_cast<long>(f);
}

constexpr std::int32_t kRxWrap = 399;

}  // namespace

TForm1::TForm1(IFormHost& host, TCommPort& comm)
    : Firmware("Firmware", {0, 0, 369, 257}, "", true),
      ICtype("ICtype", {10, 16, 71, 16}, "COUNTRY:", true),
      ComboBox1("ComboBox1", {8, 36, 345, 24},
                ListOf({"Australia",   "Austria",     "Belginum",
                        "Canada",      "China",       "Czechoslovkia",
                        "Denmark",     "Finland",     "France",
                        "Germany",     "HongKong",    "Indonesia",
                        "Ireland",     "Italy",       "Japan",
                        "Korea",       "Luxembourg",  "Malaysia",
                        "Netherlands", "NewZealand",  "North America (USA)",
                        "Norway",      "Portland",    "Portugal",
                        "Singapore",   "SouthAfrica", "Spain",
                        "Sweden",      "Switzerland", "Taiwan",
                        "U.K"},
                       true)),
      Image1("Image1", {32, 86, 137, 121}, "", true),
      Image2("Image2", {8, 80, 33, 33}, "", true),
      UPGRADE("UPGRADE", {200, 88, 89, 33}, "OK", true),
      Cancel("Cancel", {200, 144, 89, 33}, "Cancel", true),
      Panel1("Panel1", {2, 225, 365, 30}, "", true),
      Panel14("Panel14", {0, 0, 365, 30}, "", true),
      Panel7("Panel7", {8, 72, 161, 25}, "Panel7", false),
      Panel8("Panel8", {160, 72, 177, 25}, "Panel8", false),
      Label1("Label1", {10, 24, 76, 16}, "COM PORT:", false),
      ComPort("ComPort", {26, 36, 95, 24},
              ListOf({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"})),
      Memo1("Memo1", {64, 104, 201, 121}, "Memo1", false),
      ListBox1("ListBox1", ListOf({"AT*NC22;1;OK;", "AT&V5;1;OK;"})),
      ListBox2("ListBox2", ListOf({"AT*NC22;1;OK;", "AT&V5;1;OK;"})),
      ResponseList("ResponseList", ListOf({"OK", "ERROR", "NOK1", "NOK2", "NOK3", "NOK4",
                                           "NO DIAL TONE", "BUSY", "RING", "VCON"})),
      IDlistBox("IDlist", TStringList()),
      INTList(BuiltIn(TCountryTables::kINTList)),
      DEMlist(BuiltIn(TCountryTables::kDEMlist)),
      PCI2List(BuiltIn(TCountryTables::kPCI2List)),
      LINTList(BuiltIn(TCountryTables::kLINTList)),
      LDEMList(BuiltIn(TCountryTables::kLDEMList)),
      AllList(BuiltIn(TCountryTables::kAllList)),
      INT2List(BuiltIn(TCountryTables::kINT2List)),
      DEM2List(BuiltIn(TCountryTables::kDEM2List)),
      IDlist(&IDlistBox),
      Timer1("Timer1", kPortStepMs, true, "Timer1Timer", [this] { Timer1Timer(); }),
      Timer2("Timer2", kEvaluationMs, false, "Timer2Timer", [this] { Timer2Timer(); }),
      Timer3("Timer3", kLadderStepMs, false, "Timer3Timer", [this] { Timer3Timer(); }),
      Timer4("Timer4", 15, true, "Timer4Timer", [this] { Timer4Timer(); }),
      Comm1(comm),
      host_(host),
      st_(DialogState()) {
  // Where debug mode shows a script list: below Cancel, right of Memo1.
  ListBox1.Bounds = ListBox2.Bounds = {268, 184, 97, 38};
  ComPort.Visible = false;
  ComPort.Enabled = false;
  ComPort.SetText("COM1");
  Comm1.SetBaudRate(tbr115200);
  Comm1.SetXonLim(0);
  Comm1.SetXoffLim(0);
  Comm1.SetFlags(TFlags());
  Comm1.SetOnReceiveData(
      [this](const void* buffer, std::uint16_t length) { Comm1ReceiveData(buffer, length); });
  Comm1.SetOnOpenDone(
      [this](bool opened, const std::string& error) { PortOpenDone(opened, error); });
  FormCreate();
}

TForm1::~TForm1() {
  Comm1.SetOnReceiveData(nullptr);
  Comm1.SetOnOpenDone(nullptr);
  // A port that raises on closing (its comms log cannot be closed) must not
  // take the process down: the component's own destructor closes it again.
  try {
    // An opening still under way is abandoned; its device, should it still
    // open, is closed again.
    if (Comm1.OpenPending()) Comm1.ClosePort();
    FormDestroy();
  } catch (...) {
  }
}

void TForm1::AttachTimers() {
  for (TTimer* timer : TimersOf(*this)) timer->Attach(&host_);
}

void TForm1::DetachTimers() {
  for (TTimer* timer : TimersOf(*this)) {
    host_.DisarmTimer(*timer);
    timer->Attach(nullptr);
  }
}

void TForm1::FormCreate() {
  st_.StartPort = 0;
  st_.AnimAngle = 30.0;
  st_.LadderStep = TLadderStep::Reset;

  std::int32_t dpi = 96;
  if (!ParseInt(RegReadStr("\\Config\\0001\\Display\\Settings", "DPILogicalX"), dpi)) dpi = 96;
  st_.DpiShift = static_cast<std::int32_t>((static_cast<std::int64_t>(dpi) - 96) / 3);

  std::memset(st_.ReplyBuf, 0, sizeof st_.ReplyBuf);
  std::memset(st_.WaitText, 0, sizeof st_.WaitText);
  std::memset(st_.CurCommand, 0, sizeof st_.CurCommand);

  st_.ScriptSel = 1;
  st_.ModemKnown = false;
  st_.ScriptLine = 0;
  st_.DebugMode = 0;
  st_.CurPort = st_.StartPort;

  GetParamStr();

  Panel7.Visible = st_.DebugMode > 0;
  Panel8.Visible = st_.DebugMode > 0;
  st_.WaitMatched = false;
  st_.ScriptMore = true;
  st_.ScriptAbort = false;
  st_.DlgHeight = host_.ScaleToDisplay(Firmware.Bounds.Height);
  st_.DlgWidth = host_.ScaleToDisplay(Firmware.Bounds.Width);
  if (st_.DebugMode > 0) Memo1.Visible = true;
  Panel14.Caption = kDetectingModem;
}

void TForm1::GetParamStr() {
  bool autoOff = false;
  for (const std::string& word : host_.CommandLineWords()) {
    CopyText(st_.ReplyBuf, word);
    const char* text = st_.ReplyBuf;
    if (EqualsIgnoringCase(text, "AUTOOFF")) {
      st_.CurPort = 8;
      autoOff = true;
      scanEnds_ = true;
    }
    if (EqualsIgnoringCase(text, "DEBUG")) st_.DebugMode = 1;
    if (std::strlen(text) >= 4 && EqualsIgnoringCase(std::string(text, 4).c_str(), "COM=")) {
      // Only a port number 1 to 256 in plain digits counts.
      std::string value = std::strchr(text, '=') + 1;
      std::int32_t port = 0;
      if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos &&
          ParseInt(value, port) && port >= 1 && port <= kHighestPort)
        st_.StartPort = port;
    }
  }
  // The scan begins at the named port (its first step probes COM StartPort).
  if (!autoOff && st_.StartPort >= 1) st_.CurPort = st_.StartPort - 1;
}

std::string TForm1::RegReadStr(const std::string& Key, const std::string& Name) {
  std::string value;
  if (host_.ReadRegistryString(Key, Name, value) != TRegRead::Ok) return "96";
  return value;
}

void TForm1::FormDestroy() {
  std::memset(st_.ReplyBuf, 0, sizeof st_.ReplyBuf);
  std::memset(st_.WaitText, 0, sizeof st_.WaitText);
  std::memset(st_.CurCommand, 0, sizeof st_.CurCommand);
  if (st_.PortOpened) ClosePort();
}

void TForm1::ClosePort() {
  inputClosed_ = true;
  Comm1.ClosePort();
}

void TForm1::PortOpenedForInput() {
  inputClosed_ = false;
  st_.LineStart = true;
}

void TForm1::FormResize() {
  host_.SetClientSize(st_.DlgWidth, st_.DlgHeight);
  int screenWidth = 0, screenHeight = 0, left = 0, top = 0;
  host_.GetScreenSize(screenWidth, screenHeight);
  host_.GetWindowPos(left, top);
  int newLeft = left, newTop = top;
  int below = top + st_.DlgHeight + 40 - screenHeight;
  if (below > 0) newTop = top - (below + 60);
  int right = left + st_.DlgWidth + 10 - screenWidth;
  if (right > 0) newLeft = left - (right + 10);
  if (newLeft != left || newTop != top) host_.MoveWindowTo(newLeft, newTop);
}

void TForm1::CancelClick() { host_.Close(); }

void TForm1::Memo1KeyPress(char& Key) {
  Comm1.WritePort(&Key, 1);
  Memo1.Append(&Key, 1);
  Key = '\0';
}

void TForm1::ComboBox1KeyPress(char& Key) {
  host_.ShowDropDown();
  Key = '\0';
}

void TForm1::Comm1ReceiveData(const void* Buffer, std::uint16_t BufferLength) {
  if (inputClosed_) return;  // from a port the dialog is done with
  const char* bytes = static_cast<const char*>(Buffer);
  // The text up to the first zero byte, never beyond the delivery.
  const void* zero = bytes ? std::memchr(bytes, 0, BufferLength) : nullptr;
  size_t textLength = !bytes ? 0 : zero ? static_cast<const char*>(zero) - bytes : BufferLength;
  if (textLength) Memo1.Append(bytes, textLength);
  Memo1.Append("\r\n", 2);
  if (!bytes) return;

  // WaitText counts only as a whole line: its first byte begins a line and a
  // CR or LF follows its last. MatchPos equal to its length means the text
  // is in and the line end is awaited.
  const std::int32_t waitLength = static_cast<std::int32_t>(std::strlen(st_.WaitText));
  for (std::uint16_t n = 0; n < BufferLength; ++n) {
    const char b = bytes[n];
    const bool lineEnd = b == '\r' || b == '\n';
    if (waitLength > 0 && st_.MatchPos == waitLength) {
      st_.MatchPos = 0;
      if (lineEnd) CompleteMatch();
    } else if (b != '\0' && st_.MatchPos >= 0 && st_.MatchPos < waitLength &&
               b == st_.WaitText[st_.MatchPos] && (st_.MatchPos > 0 || st_.LineStart)) {
      if (st_.RxCount - st_.LastMatch == 1 || st_.MatchPos <= 0)
        ++st_.MatchPos;
      else
        st_.MatchPos = 0;
      st_.LastMatch = static_cast<std::uint16_t>(st_.RxCount);
    } else {
      st_.MatchPos = 0;
    }
    st_.LineStart = lineEnd;
    if (++st_.RxCount > kRxWrap) st_.RxCount = 0;
  }
}

void TForm1::CompleteMatch() {
  st_.WaitMatched = true;
  if (!st_.LadderBusy) {
    Timer3.SetEnabled(false);
    Timer2.SetInterval(kMatchedMs);
  }
}

void TForm1::WaitString(const char* Text) {
  CopyText(st_.WaitText, Text);
  st_.MatchPos = 0;
  st_.WaitMatched = false;
}

void TForm1::ClearBuffer() {
  std::memset(st_.ReplyBuf, 0, 11);
  st_.RxCount = 0;
}

bool TForm1::SearchString(const char* Text) const {
  return std::strstr(st_.ReplyBuf, Text) != nullptr;
}

std::int32_t TForm1::SearchVer(std::int32_t Start, const char* Text) {
  const std::vector<std::string_view> lines = Memo1.Lines();
  const std::int32_t count = static_cast<std::int32_t>(lines.size());
  if (count < Start) return Start;
  bool seen = false;
  for (std::int32_t i = Start < 0 ? 0 : Start; i <= count; ++i) {
    CopyText(st_.ReplyBuf, i < count ? lines[static_cast<size_t>(i)] : std::string_view());
    if (std::strstr(st_.ReplyBuf, Text)) seen = true;
    if (seen && st_.ReplyBuf[0] != '\0' && !StartsWith(st_.ReplyBuf, "AT") &&
        !StartsWith(st_.ReplyBuf, "AA"))
      return i;
  }
  return count + 1;
}

void TForm1::WriteCommData(const char* Text) {
  for (const char* p = Text; *p; ++p) {
    Comm1.WritePort(p, 1);
    host_.Sleep(1);
  }
  const char cr = '\r';
  Comm1.WritePort(&cr, 1);
}

void TForm1::Timer4Timer() {
  st_.AnimAngle += 5;
  if (st_.AnimAngle > 355) st_.AnimAngle = 0;
  UpdateImage2Position();
}

void TForm1::UpdateImage2Position() {
  const double pi = 3.14159265358979323846;
  double r = st_.AnimAngle * (1.0 / 360.0) * pi * 2;
  Image2.Bounds.Top =
      static_cast<int>(RoundHalfEven(74 - 70 * std::sin(r)) + 2L * st_.DpiShift + 52);
  Image2.Bounds.Left = static_cast<int>(RoundHalfEven(70 - 70 * std::cos(r)) + st_.DpiShift);
  Image2OnOrbit = true;
}

void TForm1::StopAnimation() {
  Timer4.SetEnabled(false);
  Image2.Bounds.Top = 80;
  Image2.Bounds.Left = 8;
  Image2OnOrbit = false;
}
