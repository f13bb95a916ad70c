// The regional settings dialog: its controls (as models), its handlers and
// the steps of detection, the command scripts and the country switch. The
// dialog state itself is unit-level (see DialogState.h): it outlives the form.
//
// The window creates the form (which runs FormCreate), calls AttachTimers()
// once its timers can run, routes events to the handlers and mirrors the
// control models into the real controls after every handler. Handlers report
// errors only as std::exception subclasses (ECommsError, std::bad_alloc);
// the window catches them and shows a standard error box.
//
// Design names (controls, timers, handlers, state): docs/GLOSSARY.md.
//
// Phases (Detection.cpp, then Script.cpp):
//
//   scan        Timer1 (500 ms) Timer1Timer: close the last port, probe the
//      |          next COMn (ProbePort, which begins the opening; the
//      |          dialog runs on until PortOpenDone); a port that does not
//      |          open: Timer1 again; past COM8 the ports above it that the
//      |          system lists (IFormHost::SerialPorts), then EndScan
//      v  port open, "AT" sent
//   ladder      Timer3 (kLadderStepMs, 800 ms a step) Timer3Timer walks the
//      |          ladder table (kLadder, Detection.cpp) by LadderStep:
//      |          Reset ATZ, Identification ATI5, Probe ATH3, Status AT&V5
//      |          (awaits "ERROR"), AlternativeStatus ATI9 if "ERROR" came
//      v
//   evaluation  Timer2 (kEvaluationMs; 100 ms once a match completes)
//      |          Timer2Timer: family from the ATI5 reply, country from
//      |          AT&V5 or ATI9; close the port, Timer1 again (a known
//      |          modem makes that tick the last). A port that answered
//      |          without an echo of ATI5 has its echo turned on and hears
//      |          the ladder once more (ATE1 in place of ATZ) first.
//      v
//   EndScan     no port or unknown modem: error box, close; otherwise the
//      |          prompt (kSelectCountry) until OK
//      v  OK: UPGRADEClick, CountryCode reopens the port; once it is open
//      |      (SwitchPortOpened) Timer2 is rebound to Timer2C and Timer3 to
//      |      CheckResponse (a modem whose echo was off, or which answers
//      |      with numeric codes, gets a first line ATE1 / ATV1 / ATE1V1)
//   script      Timer2C sends the next line of ListBox2 (SendCMD; Timer2
//      |          10 s, DELAY 1 s, SEND4 3 s, SEND1 60 s); Timer3 (600 ms)
//      |          CheckResponse cuts the wait to 300 ms on a ResponseList
//      |          reply, the awaited reply to 100 ms
//      v
//   verdict     awaited reply missing, or the status listing names
//                 another country of the table: kDetectErrorBox; script
//                 done: kResetOkBox; either way the dialog closes
//
//   Timer4 (15 ms) Timer4Timer moves Image2 on its orbit meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm32/CommPort.h"
#include "wfload/Controls.h"
#include "wfload/DialogState.h"
#include "wfload/FormHost.h"

class TForm1 {
 public:
  // Creating the form configures Comm1 and runs FormCreate.
  TForm1(IFormHost& host, TCommPort& comm);
  ~TForm1();  // runs FormDestroy
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Window, designed at 96 dpi.
  static constexpr const char* kCaption = "Modem Regional Settings 2.3";
  static constexpr int kDesignWidth = 379;
  static constexpr int kDesignHeight = 287;
  // Timer1 during detection: from one port to the next.
  static constexpr unsigned kPortStepMs = 500;
  // Timer3 during detection: from one ladder step to the next.
  static constexpr unsigned kLadderStepMs = 800;
  // Timer2 during detection: from the ladder's end to the evaluation.
  static constexpr unsigned kEvaluationMs = 2000;
  // Timer2 once the awaited reply is in (detection and switch alike).
  static constexpr unsigned kMatchedMs = 100;
  // Timer2 during the switch: how long a script step waits for its reply
  // (the keyword table in Script.cpp gives each step its wait).
  static constexpr unsigned kStepReplyMs = 10000;  // a command
  static constexpr unsigned kDelayStepMs = 1000;   // DELAY
  static constexpr unsigned kSend4StepMs = 3000;   // SEND4
  static constexpr unsigned kSend1StepMs = 60000;  // SEND1
  // Timer3 during the switch: from sending to the reply-word check.
  static constexpr unsigned kReplyCheckMs = 600;
  // Timer2 once the reply-word check has found a word.
  static constexpr unsigned kReplyWordMs = 300;

  // Status and message texts.
  static constexpr const char* kDetectingModem = "Detecting Modem Now....";
  // The status line while port n is probed (printf format, n as %d).
  static constexpr const char* kDetectingFormat = "Detecting COM%d...";
  static constexpr const char* kSelectCountry = "Please select your country and press [OK]....";
  static constexpr const char* kNoModem = "No modem detect ??";
  static constexpr const char* kUnknownModem = "Modem type can not detect ??";
  // Added to those two on a line of their own after the names of the ports
  // that another program held ("COM3 is in use by another program.").
  static constexpr const char* kHeldByOne = " is in use by another program.";
  static constexpr const char* kHeldByOthers = " are in use by other programs.";
  static constexpr const char* kSettingNow = "Setting now please wait....";
  static constexpr const char* kDetectError = "Detect ERROR.....";
  static constexpr const char* kDetectErrorBox = " Modem Detect Error !!     ";
  static constexpr const char* kResetOk = "Modem reset OK!!";
  static constexpr const char* kResetOkBox = " Modem reset OK !!     ";
  static constexpr const char* kUnknownCountry = "UnKnow";

  // Controls under their design names. Children of Firmware are relative
  // to it, in design pixels. Image2's place is set at run time: on its orbit
  // (Image2OnOrbit) it includes DpiShift, the orbit's own allowance for large
  // display fonts; parked it does not.
  TControl Firmware;
  TControl ICtype;
  TComboBox ComboBox1;
  TControl Image1;
  TControl Image2;
  bool Image2OnOrbit = false;
  TControl UPGRADE;
  TControl Cancel;
  TControl Panel1;
  TControl Panel14;  // the status line
  TControl Panel7;
  TControl Panel8;
  TControl Label1;
  TComboBox ComPort;
  TMemo Memo1;        // the transcript
  TListBox ListBox1;  // the command scripts, shown in debug mode
  TListBox ListBox2;
  TListBox ResponseList;
  TListBox IDlistBox;  // the hidden list box named IDlist
  TListBox INTList, DEMlist, PCI2List, LINTList, LDEMList, AllList, INT2List, DEM2List;
  TListBox* IDlist;  // the current country list

  TTimer Timer1;
  TTimer Timer2;
  TTimer Timer3;
  TTimer Timer4;

  TCommPort& Comm1;

  // Attaches the four timers to the host; those enabled start counting.
  void AttachTimers();
  // Disarms them and lets go of the host; call before the form goes.
  void DetachTimers();

  // Creation, size, destruction.
  void FormCreate();
  void FormDestroy();
  void FormResize();
  void GetParamStr();
  // A string value under HKEY_LOCAL_MACHINE; "96" when the key cannot be
  // opened or the value is absent or not text.
  std::string RegReadStr(const std::string& Key, const std::string& Name);

  // User input.
  void CancelClick();
  void UPGRADEClick();
  void Memo1KeyPress(char& Key);  // sends the byte; the model takes it, Key is consumed
  void Memo1Enter() {}
  void ComboBox1KeyPress(char& Key);  // opens the list; Key becomes 0

  // Received data, the transcript and the wait-text matcher.
  void Comm1ReceiveData(const void* Buffer, std::uint16_t BufferLength);
  void WaitString(const char* Text);
  void ClearBuffer();
  bool SearchString(const char* Text) const;
  std::int32_t SearchVer(std::int32_t Start, const char* Text);
  void WriteCommData(const char* Text);

  // Timers: animation and detection.
  void Timer4Timer();
  void Timer1Timer();
  void Timer3Timer();
  void Timer2Timer();

  // Command script engine.
  int GetCommand(const char* Line, char (&Command)[TDialogState::kTextSize],
                 char (&Reply)[TDialogState::kTextSize]);
  void SendCMD();
  void CheckResponse();
  void Timer2C();

  // Country switch and tables.
  void CountryCode();
  void ChangeTo(unsigned Selector);
  bool Change_LFile(const char* Ident);
  void ChangeDisplay(char* Status, size_t StatusSize);
  // The status reply: the line after the echo of the status command ("ATI9"
  // when UseAti9, else "AT&V5"), searched from line Start; as SearchVer.
  std::int32_t SearchStatus(std::int32_t Start);
  // The country a status reply names: the index in ComboBox1 of the first
  // table entry whose key occurs in Status (case-insensitively), or -1.
  // Status is left in upper case.
  int ListedCountry(char* Status, size_t StatusSize);
  // Builds the country command for ComboBox1's text into CountryCmd and
  // CurCommand (replacing what CurCommand held); false when the text names no
  // country, and both are then empty.
  bool CheckCountry();

  // The country switch has started.
  bool SwitchRunning() const { return switching_; }
  // The country the modem's status listing named after the switch; empty
  // before, and when the listing named no country of the table.
  const std::string& ReportedCountry() const { return reported_; }

  // What the dialog has told the user, for hosts that do not read the
  // screen. Each is set where its status text or box is.
  enum class TOutcome {
    None,           // the scan is under way
    NoPort,         // kNoModem: no port has opened since loading
    UnknownFamily,  // kUnknownModem: no port held a modem of a known family
    Prompt,         // the modem's countries are offered (kSelectCountry)
    Switched,       // kResetOkBox
    Failed,         // kDetectErrorBox: a step or the read-back failed
  };
  TOutcome Outcome() const { return outcome_; }
  // Detection has ended with a recognised modem (OK may start the switch):
  // the prompt, and every outcome of a switch, come only after it.
  bool DetectionSucceeded() const {
    return outcome_ == TOutcome::Prompt || outcome_ == TOutcome::Switched ||
           outcome_ == TOutcome::Failed;
  }
  // The port the status line says is probed (kDetectingFormat); 0 when it
  // names none.
  int ProbedPort() const { return probedPort_; }
  // The country table of the modem's family.
  const TCountryTables& Tables() const { return st_.Tables; }
  // `text` with the ports of this scan that another program held, on a
  // line of its own (kHeldByOne, kHeldByOthers).
  std::string WithHeldPorts(const char* text) const;

 private:
  void EndScan();
  void ProbePort();
  void ShowDetecting();
  int NextListedPort(int from);
  // The end of an opening begun by ProbePort or CountryCode.
  void PortOpenDone(bool opened, const std::string& error);
  // The rest of CountryCode once the port is open (or an ECommsError text).
  void SwitchPortOpened(const std::string& error);
  void ForgetEarlierPorts();
  // Closes Comm1; what it still hands over afterwards is dropped.
  void ClosePort();
  // A port was opened: its bytes count again, the first beginning a line.
  void PortOpenedForInput();
  void CompleteMatch();
  void AnswerTimeout();
  void CompleteScript();
  // Sets the outcome and shows its box (Prompt has none).
  void Tell(TOutcome outcome);
  // The end of a run that failed: the status, the port, the error box.
  void FailScript();
  // The ladder once more on the port just evaluated.
  void RunLadderAgain();
  // Sent before the script for a modem that needs it ("" for none).
  std::string ModemSetup() const;
  void StopAnimation();
  void UpdateImage2Position();

  IFormHost& host_;
  TDialogState& st_;
  bool switching_ = false;
  // Set from the moment the dialog closes its port (or tries another) until
  // a port is open again: a delivery then belongs to a port it is done with.
  bool inputClosed_ = false;
  // How the modem on the port being probed answers, when not as expected:
  // its echo had to be turned on (the ladder ran again on its port), or its
  // result codes are numeric. The switch sets both right first.
  bool echoTurnedOn_ = false;
  bool numericCodes_ = false;
  std::string reported_;
  TOutcome outcome_ = TOutcome::None;
  int probedPort_ = 0;
  // The next port step ends the scan (AUTOOFF, or the modem is known).
  bool scanEnds_ = false;
  // What an opening under way is for.
  enum class TOpening { None, Probe, Switch };
  TOpening opening_ = TOpening::None;
  // Ports of this scan that another program held.
  std::vector<int> heldPorts_;
};
