// Modem detection in virtual time: the port scan, the command ladder, the
// evaluation and the end of the scan.
#include "DialogFixture.h"

#include <set>

namespace {
// A modem on COM1 whose identification names no family the INI file holds
// where the dialog can find it.
class UnknownModemTest : public DialogTest {
 protected:
  FakeModem modem;

  void Scan(const char* identification) {
    modem.identification = {identification};
    port.Attach(1, modem);
    Open();
    host.RunFor(20000);
  }
};
}  // namespace

TEST_F(DialogTest, NoPortCostsHalfASecondEachThenNoModem) {
  Open();
  host.RunFor(10000);
  ASSERT_EQ(port.openings.size(), 8u);
  for (size_t n = 0; n < 8; ++n) {
    EXPECT_EQ(port.openings[n].port, static_cast<int>(n + 1));
    EXPECT_EQ(port.openings[n].at, TForm1::kPortStepMs * (n + 1));
  }
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "No modem detect ??");
  EXPECT_EQ(host.messages[0].kind, TMsgKind::Error);
  EXPECT_EQ(host.messages[0].at, 9 * TForm1::kPortStepMs);
  EXPECT_TRUE(host.closed);
  EXPECT_FALSE(form->Timer4.Enabled());
}

TEST_F(UnknownModemTest, OpenedPortHearsTheLadderAndCostsItsFullTime) {
  Scan("NO SUCH FAMILY");
  EXPECT_EQ(port.LinesOn(1), kLadder);
  ASSERT_EQ(port.lines.size(), kLadder.size());
  for (size_t n = 1; n < port.lines.size(); ++n)  // a ladder step apart, after sending
    EXPECT_EQ(port.lines[n].at - port.lines[n - 1].at, TForm1::kLadderStepMs + Sending(kLadder[n]));
  ASSERT_GE(port.openings.size(), 2u);
  EXPECT_EQ(port.openings[1].at - port.openings[0].at, kLadderAndEvaluation + TForm1::kPortStepMs);
  EXPECT_EQ(form->ComPort.Text(), "COM1");
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "Modem type can not detect ??");
  EXPECT_TRUE(host.closed);
}

TEST_F(DialogTest, ModemOnCom2EndsTheScanWithItsCountryPreselected) {
  FakeModem modem;
  Keys(modem);
  modem.country = 4;
  port.Attach(2, modem);
  Open();
  host.RunFor(20000);
  EXPECT_EQ(port.OpenedPorts(), std::vector<int>{2});
  EXPECT_EQ(port.openings.size(), 2u);  // COM1 tried, COM3 .. COM8 never
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(host.closed);
  EXPECT_TRUE(form->DetectionSucceeded());
  EXPECT_EQ(Status(), "Please select your country and press [OK]....");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Port(), tptTwo);
  EXPECT_EQ(st.CurPort, 9);
  for (TTimer* t : {&form->Timer1, &form->Timer2, &form->Timer3, &form->Timer4})
    EXPECT_FALSE(host.Armed(*t)) << t->Name;
  EXPECT_EQ(form->Image2.Bounds.Left, 8);
  EXPECT_EQ(form->Image2.Bounds.Top, 80);
  EXPECT_EQ(form->ComboBox1.Items.Items(),
            (std::vector<std::string>{"Germany", "Japan", "North America (USA)"}));
  // The family's countries, in file order, fill LDEMList, the hidden list
  // detection makes the current one.
  EXPECT_EQ(form->LDEMList.Items.Items(),
            (std::vector<std::string>{"North America (USA)", "Japan", "Germany"}));
  EXPECT_EQ(form->ComboBox1.Text(), "Germany");
  EXPECT_EQ(form->Panel7.Caption, "56K FAKEMODEM V1.0");
  EXPECT_EQ(form->Panel8.Caption, "ERROR");
  EXPECT_STREQ(st.WaitText, "ERROR");
  EXPECT_STREQ(st.CurCommand, "AT&V5");
  EXPECT_EQ(form->Memo1.LineCount(), 0);
  EXPECT_EQ(st.UseAti9, 0);
}

TEST_F(DialogTest, UnknownCurrentCountryShowsUnKnowAndStillSucceeds) {
  FakeModem modem;
  modem.country = 0x77;
  port.Attach(1, modem);
  Open();
  host.RunFor(10000);
  EXPECT_TRUE(form->DetectionSucceeded());
  EXPECT_EQ(form->ComboBox1.Text(), "UnKnow");
}

TEST_F(DialogTest, AutoOffEndsTheScanAtItsFirstStep) {
  FakeModem modem;
  port.Attach(1, modem);
  host.words = {"AUTOOFF", "COM=1"};
  Open();
  host.RunFor(10000);
  EXPECT_TRUE(port.openings.empty());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "No modem detect ??");
  EXPECT_EQ(host.messages[0].at, TForm1::kPortStepMs);
  EXPECT_TRUE(host.closed);
}

TEST_F(DialogTest, ComWordBeginsTheScanAtThatPort) {
  FakeModem modem;
  Keys(modem);
  port.Attach(1, modem);  // never reached
  port.Attach(5, modem);
  host.words = {"COM=5"};
  Open();
  host.RunFor(20000);
  ASSERT_FALSE(port.openings.empty());
  EXPECT_EQ(port.openings[0].port, 5);
  EXPECT_EQ(port.openings[0].at, TForm1::kPortStepMs);
  EXPECT_EQ(port.OpenedPorts(), std::vector<int>{5});
  EXPECT_TRUE(form->DetectionSucceeded());
}

TEST_F(DialogTest, ProbeAnsweredWithOkOrNoEchoIsNoRecognition) {
  FakeModem shortProbe;
  shortProbe.probe = "OK";
  FakeModem noEcho;  // its echo cannot be turned on
  noEcho.echo = false;
  noEcho.overrides["ATE1"] = {{}, "ERROR"};
  port.Attach(1, shortProbe);
  port.Attach(2, noEcho);
  Open();
  host.RunFor(30000);
  EXPECT_EQ(port.OpenedPorts(), (std::vector<int>{1, 2}));
  EXPECT_EQ(port.openings.size(), 8u);  // went on to COM8
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "Modem type can not detect ??");
  EXPECT_FALSE(form->DetectionSucceeded());
}

TEST_F(DialogTest, ErrorToStatusCommandLeadsToAti9) {
  FakeModem modem;
  Keys(modem);
  modem.country = 0xB5;
  modem.hasStatusV5 = false;  // AT&V5 answered ERROR within 250 ms
  port.Attach(1, modem);
  Open();
  host.RunFor(10000);
  EXPECT_EQ(port.LinesOn(1).back(), "ATI9");
  EXPECT_EQ(port.lines.back().at - port.lines[port.lines.size() - 2].at,
            TForm1::kLadderStepMs + Sending("ATI9"));
  EXPECT_EQ(st.UseAti9, 1);
  EXPECT_TRUE(form->DetectionSucceeded());
  EXPECT_EQ(form->ComboBox1.Text(), "North America (USA)");
}

TEST_F(DialogTest, ErrorToAti9BringsTheEvaluationForward) {
  FakeModem modem;
  modem.identification = {"NO SUCH FAMILY"};
  modem.hasStatusV5 = false;
  modem.hasStatusI9 = false;
  port.Attach(1, modem);
  Open();
  host.RunFor(10000);
  ASSERT_EQ(port.LinesOn(1).back(), "ATI9");
  VirtualClock::Ms errorAt = port.lines.back().at + modem.replyDelay;
  // Evaluated once the "ERROR" is in, the next port step after that.
  ASSERT_GE(port.openings.size(), 2u);
  EXPECT_EQ(port.openings[1].at, errorAt + TForm1::kMatchedMs + TForm1::kPortStepMs);
}

// An "ERROR" before the status command neither stops the ladder nor arms
// "ATI9", also after a port whose status command armed "ERROR".
TEST_F(DialogTest, ErrorAnsweringAtOnALaterPortDoesNotStopTheScan) {
  FakeModem first;
  first.identification = {"NO SUCH FAMILY"};
  FakeModem modem;
  Keys(modem);
  modem.overrides["AT"] = {{}, "ERROR"};
  port.Attach(1, first);
  port.Attach(2, modem);
  Open();
  host.RunFor(30000);
  EXPECT_EQ(port.LinesOn(2), kLadder);
  EXPECT_TRUE(form->DetectionSucceeded());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(DialogTest, PortThatRaisesIsReportedAndTheScanGoesOn) {
  FakeModem modem;
  Keys(modem);
  SilentDevice first;
  port.Attach(1, first);
  port.failing = {{1, FakePort::Worker::Read}};
  port.Attach(2, modem);
  Open();
  host.RunFor(20000);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages[0].text, "Unable to create Read thread");
  EXPECT_EQ(host.messages[0].kind, TMsgKind::Error);
  EXPECT_FALSE(host.closed);
  ASSERT_GE(port.openings.size(), 2u);
  EXPECT_EQ(port.openings[1].at, 1000u);
  EXPECT_TRUE(form->DetectionSucceeded());
}

TEST_F(UnknownModemTest, SectionNameBeyondTheWrapIsNotFound) {
  Scan("MODEL 123456789 REVISION 7 FAKEMODEM");
  EXPECT_FALSE(form->DetectionSucceeded());
  EXPECT_EQ(form->Panel7.Caption, "MODEL 123456789 REVISION 7 ");
}

namespace {
std::vector<int> TriedPorts(const FakePort& port) {
  std::vector<int> tried;
  for (const FakePort::Opening& o : port.openings) tried.push_back(o.port);
  return tried;
}
}  // namespace

// Past COM8 the scan walks the ports the system lists, in ascending order,
// each probed as COM1 .. COM8 are; an unlisted port is never tried, and the
// modem ends the scan as on COM1 .. COM8.
TEST_F(SwitchTest, ListedPortsAboveCom8AreWalkedAfterCom8AndTheModemIsSwitched) {
  FakeModem device;
  device.identification = {"NO SUCH FAMILY"};
  port.Attach(11, device);
  port.Attach(12, modem);  // not listed
  port.Attach(16, modem);  // listed, after the modem
  modem.country = 4;
  host.serialPorts = {16, 3, 15, 11, 257, 0, -1};
  port.Attach(15, modem);
  Open();
  host.RunUntil(9 * TForm1::kPortStepMs + 1);
  EXPECT_EQ(Status(), "Detecting COM11...");
  EXPECT_EQ(form->ProbedPort(), 11);
  EXPECT_EQ(form->ComPort.Text(), "COM11");
  host.RunFor(60000);
  ASSERT_TRUE(form->DetectionSucceeded());
  EXPECT_EQ(form->ProbedPort(), 0);  // the status line asks for a country
  EXPECT_EQ(TriedPorts(port), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 11, 15}));
  EXPECT_EQ(port.openings[9].at - port.openings[8].at, kLadderAndEvaluation + TForm1::kPortStepMs);
  EXPECT_EQ(form->ComboBox1.Text(), "Germany");
  EXPECT_EQ(form->ComPort.Text(), "COM15");
  EXPECT_EQ(port.Port(), static_cast<TPort>(15));
  EXPECT_TRUE(host.messages.empty());
  port.lines.clear();
  Choose("Japan");
  PressOk();
  EXPECT_EQ(modem.country, 0u);
  ASSERT_FALSE(port.lines.empty());
  EXPECT_EQ(port.lines[0].port, 15);
  EXPECT_EQ(host.messages.at(0).text, " Modem reset OK !!     ");
}

TEST_F(DialogTest, ListedPortsCostHalfASecondEachAndUnlistedOnesNothing) {
  host.serialPorts = {15, 11};
  Open();
  host.RunFor(20000);
  EXPECT_EQ(TriedPorts(port), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 11, 15}));
  EXPECT_EQ(port.openings.back().at, 10 * TForm1::kPortStepMs);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "No modem detect ??");
  EXPECT_EQ(host.messages[0].at, 11 * TForm1::kPortStepMs);
}

// COM=n begins the scan at port n, also above COM8; AUTOOFF still ends it
// at its first step, listed ports or not.
TEST_F(DialogTest, ScanStartsAtTheComWordAlsoAboveCom8) {
  struct Row {
    std::vector<std::string> words;
    std::vector<int> tried;
  };
  const Row rows[] = {{{"COM=12"}, {12, 15}},
                      {{"COM=13"}, {15}},
                      {{"COM=7"}, {7, 8, 12, 15}},
                      {{"AUTOOFF", "COM=12"}, {}}};
  for (const Row& row : rows) {
    port.openings.clear();
    host.messages.clear();
    host.closed = false;
    host.serialPorts = {15, 12};
    host.words = row.words;
    Open();
    host.RunFor(20000);
    EXPECT_EQ(TriedPorts(port), row.tried) << row.words.back();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "No modem detect ??");
    CloseForm();
  }
}

// A port another program holds is passed over like one that does not open,
// and the failure names it on a line of its own.
TEST_F(DialogTest, HeldPortsAreNamedAfterTheFailure) {
  struct Row {
    std::set<int> held;
    bool unknownDevice;  // on COM5
    const char* box;     // "" for none: the modem on COM6 is found
    TForm1::TOutcome outcome;
  };
  using TOutcome = TForm1::TOutcome;
  const Row rows[] = {
      {{3}, false, "No modem detect ??\nCOM3 is in use by another program.", TOutcome::NoPort},
      {{3, 12},
       true,
       "Modem type can not detect ??\nCOM3 and COM12 are in use by other programs.",
       TOutcome::UnknownFamily},
      {{2, 3, 4},
       false,
       "No modem detect ??\nCOM2, COM3 and COM4 are in use by other programs.",
       TOutcome::NoPort},
      {{}, false, "No modem detect ??", TOutcome::NoPort},
      {{3}, true, "", TOutcome::Prompt},
  };
  for (const Row& row : rows) {
    ResetDialogState();
    FakePort held(clock);
    FakeModem device;
    device.identification = {"NO SUCH FAMILY"};
    FakeModem modem;
    Keys(modem);
    if (row.unknownDevice) held.Attach(5, device);
    if (*row.box == '\0') held.Attach(6, modem);
    held.held = row.held;
    host.serialPorts = {12};
    host.messages.clear();
    host.closed = false;
    const VirtualClock::Ms start = clock.Now();
    TForm1 form(host, held);
    form.AttachTimers();
    TOutcome told = TOutcome::None;  // as the box shows
    host.onMessage = [&](const FakeHost::Message&) { told = form.Outcome(); };
    host.RunFor(40000);
    EXPECT_EQ(form.Outcome(), row.outcome);
    if (*row.box == '\0') {
      EXPECT_TRUE(host.messages.empty());
      EXPECT_TRUE(form.DetectionSucceeded());
    } else {
      ASSERT_EQ(host.messages.size(), 1u);
      EXPECT_EQ(host.messages[0].text, row.box);
      EXPECT_EQ(told, row.outcome);
    }
    EXPECT_EQ(held.openings.at(2).at - start, 3 * TForm1::kPortStepMs);  // a held port: one step
    host.DestroyTimers();
    host.onMessage = nullptr;
  }
}

// A device slow to open: the dialog runs on meanwhile (the animation, no
// port step), the scan goes on when the opening ends, and an opening that
// takes longer than kPortOpenLimitMs counts as a port that cannot be opened.
TEST_F(DialogTest, SlowOpeningsHoldTheScanButNotTheDialog) {
  FakeModem modem;
  Keys(modem);
  port.Attach(2, modem);
  port.openTakes[2] = 3000;
  Open();
  host.RunUntil(2500);
  EXPECT_TRUE(port.OpenPending());
  EXPECT_FALSE(host.Armed(form->Timer1));
  EXPECT_TRUE(host.Armed(form->Timer4));
  const TBounds before = form->Image2.Bounds;
  host.RunFor(100);
  EXPECT_TRUE(form->Image2.Bounds.Left != before.Left || form->Image2.Bounds.Top != before.Top);
  host.RunFor(60000);
  EXPECT_TRUE(form->DetectionSucceeded());
  ASSERT_EQ(port.openings.size(), 2u);
  EXPECT_EQ(port.openings[1].at, 2 * TForm1::kPortStepMs + port.openTakes[2]);

  CloseForm();
  ResetDialogState();
  port.openings.clear();
  port.openTakes[2] = 20000;
  port.Attach(3, modem);
  const VirtualClock::Ms start = clock.Now();
  Open();
  host.RunFor(60000);
  EXPECT_EQ(TriedPorts(port), (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(port.openings[1].opened);
  EXPECT_EQ(port.openings[1].at - start, 2 * TForm1::kPortStepMs + comm32::kPortOpenLimitMs);
  EXPECT_EQ(port.openings[2].at - start, 3 * TForm1::kPortStepMs + comm32::kPortOpenLimitMs);
  EXPECT_TRUE(form->DetectionSucceeded());
}

TEST_F(DialogTest, CancelDuringASlowOpeningAbandonsIt) {
  port.openTakes[2] = 20000;
  Open();
  host.RunUntil(2000);
  ASSERT_TRUE(port.OpenPending());
  form->CancelClick();
  EXPECT_TRUE(host.closed);
  CloseForm();
  EXPECT_FALSE(port.OpenPending());
  EXPECT_EQ(port.abandonedOpens, 1);
  host.closed = false;
  host.RunFor(30000);
  EXPECT_EQ(port.openings.size(), 1u);  // COM1 only; COM2's never ended
}

// OK opens the port the same way: the script starts once it is open.
TEST_F(SwitchTest, OkWaitsForASlowOpening) {
  Detect(2);
  Choose("Japan");
  port.openTakes[2] = 3000;
  PressOk();
  ASSERT_FALSE(port.lines.empty());
  EXPECT_GE(port.lines[0].at, okAt + 3000);
  EXPECT_EQ(modem.country, 0u);
  EXPECT_EQ(host.messages.at(0).text, " Modem reset OK !!     ");
}
