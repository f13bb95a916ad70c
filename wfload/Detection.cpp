// Modem detection: the port step, the command ladder and the evaluation.
#include <cstdio>
#include <cstring>

#include "wfload/Form1.h"

namespace {
constexpr int kLastPort = 8;
}

void TForm1::Timer1Timer() {
  Memo1.Clear();
  Timer1.SetEnabled(false);
  if (st_.PortOpened) ClosePort();
  ++st_.CurPort;
  char status[40];
  std::snprintf(status, sizeof status, "Detecting COM%d...", static_cast<int>(st_.CurPort));
  Panel14.Caption = status;
  if (st_.CurPort > kLastPort) {
    EndScan();
    return;
  }
  ProbePort();
}

void TForm1::ProbePort() {
  Comm1.SetPort(static_cast<TPort>(st_.CurPort));
  st_.LadderStep = 0;
  inputClosed_ = true;
  bool opened = false;
  try {
    opened = Comm1.OpenPort();
  } catch (const ECommsError& error) {
    // The port could not be served (the failed opening has given it back):
    // say so and go on with the next one.
    host_.ShowMessage(error.what(), TMsgKind::Error);
  }
  if (!opened) {
    Timer1.SetEnabled(true);
    return;
  }
  char name[8];
  std::snprintf(name, sizeof name, "COM%d", static_cast<int>(st_.CurPort));
  ComPort.SetText(name);
  st_.PortOpened = true;
  ForgetEarlierPorts();
  PortOpenedForInput();
  // From here until the ladder's last step a completed match must not stop
  // the ladder: the window before its first tick counts as part of it.
  st_.LadderBusy = true;
  WriteCommData("AT");
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
  if (!st_.PortOpened) {
    Timer4.SetEnabled(false);
    host_.ShowMessage(kNoModem, TMsgKind::Error);
    host_.Close();
  } else if (!st_.ModemKnown) {
    Timer4.SetEnabled(false);
    host_.ShowMessage(kUnknownModem, TMsgKind::Error);
    host_.Close();
  } else {
    detected_ = true;
  }
  StopAnimation();
  Panel14.Caption = kSelectCountry;
}

void TForm1::Timer3Timer() {
  Timer3.SetEnabled(false);
  Timer3.SetInterval(800);
  Timer1.SetEnabled(false);
  st_.LadderBusy = true;
  switch (st_.LadderStep) {
    case 0:
      WriteCommData("ATZ");
      break;
    case 1:
      WriteCommData("ATI5");
      break;
    case 2:
      WriteCommData("ATH3");
      break;
    case 3:
      CopyText(st_.WaitText, "ERROR");
      CopyText(st_.CurCommand, "AT&V5");
      WriteCommData("AT&V5");
      st_.UseAti9 = 0;
      break;
    default:
      break;
  }
  if (st_.LadderStep != 4) {
    ++st_.LadderStep;
    Timer3.SetEnabled(true);
    return;
  }
  if (st_.WaitMatched) {
    WriteCommData("ATI9");
    st_.UseAti9 = 1;
  }
  Timer2.SetEnabled(true);
  st_.LadderBusy = false;
}

void TForm1::Timer2Timer() {
  Timer2.SetEnabled(false);
  std::int32_t i = SearchVer(0, "ATI5");
  Panel7.Caption = st_.ReplyBuf;
  ChangeTo(4);
  st_.ModemKnown = Change_LFile(st_.ReplyBuf);
  std::int32_t j = SearchVer(i + 1, "ATH3");
  if (std::strlen(st_.ReplyBuf) < 3) st_.ModemKnown = false;
  Panel8.Caption = st_.ReplyBuf;
  if (st_.ModemKnown) {
    std::int32_t k = SearchVer(j + 1, "AT&V5");
    if (st_.UseAti9 > 0) SearchVer(k + 1, "ATI9");
    ChangeDisplay(st_.ReplyBuf, sizeof st_.ReplyBuf);
    st_.CurPort = kLastPort;
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
