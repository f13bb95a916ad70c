// The country switch and the command script engine, after a detection on
// COM1 in virtual time.
#include "DialogFixture.h"

TEST_F(SwitchTest, ChosenCountryIsSetAndReported) {
  Detect();
  ASSERT_EQ(form->ComboBox1.Text(), "North America (USA)");
  Choose("Germany");
  PressOk();
  EXPECT_EQ(modem.heard, (std::vector<std::string>{"AT%T19,0,4", "AT&V5"}));
  EXPECT_EQ(modem.country, 4u);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, " Modem reset OK !!     ");
  EXPECT_EQ(host.messages[0].kind, TMsgKind::Information);
  EXPECT_EQ(Status(), "Modem reset OK!!");
  EXPECT_EQ(form->Panel7.Caption, "OK");
  EXPECT_EQ(form->Panel8.Caption, "COUNTRY: DE");
  EXPECT_TRUE(host.closed);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(st.ScriptLine, 0);
  // First step after the interval detection left; each step ends when its
  // "OK" is in.
  ASSERT_EQ(port.lines.size(), 2u);
  EXPECT_EQ(port.lines[0].at, okAt + TForm1::kEvaluationMs + Sending("AT%T19,0,4"));
  EXPECT_EQ(port.lines[1].at,
            port.lines[0].at + modem.replyDelay + TForm1::kMatchedMs + Sending("AT&V5"));
}

TEST_F(SwitchTest, CodeZeroIsSentAsZero) {
  Detect();
  Choose("Japan");
  PressOk();
  EXPECT_EQ(modem.heard.front(), "AT%T19,0,0");
  EXPECT_EQ(modem.country, 0u);
}

TEST_F(SwitchTest, StatusStepUsesAti9WhenDetectionDid) {
  modem.hasStatusV5 = false;
  Detect();
  ASSERT_EQ(st.UseAti9, 1);
  Choose("Germany");
  PressOk();
  EXPECT_EQ(modem.heard, (std::vector<std::string>{"AT%T19,0,4", "ATI9"}));
  EXPECT_EQ(form->Panel8.Caption, "COUNTRY: DE");
  EXPECT_EQ(host.messages.at(0).text, " Modem reset OK !!     ");
}

TEST_F(SwitchTest, RefusedCountryFailsAfterTenSeconds) {
  modem.countryReply = "ERROR";
  Detect();
  Choose("Germany");
  PressOk();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, " Modem Detect Error !!     ");
  EXPECT_EQ(host.messages[0].kind, TMsgKind::Error);
  EXPECT_EQ(host.messages[0].at, port.lines[0].at + TForm1::kStepReplyMs);
  EXPECT_EQ(Status(), "Detect ERROR.....");
  EXPECT_EQ(modem.heard.size(), 1u);  // the status command is never sent
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(host.closed);
  EXPECT_EQ(st.ScriptLine, 0);
  EXPECT_FALSE(st.ScriptAbort);
}

TEST_F(SwitchTest, OkActsOnlyAfterDetectionAndOnlyOnce) {
  port.Attach(1, modem);
  Open();
  form->UPGRADEClick();  // still detecting
  host.RunFor(8000);
  ASSERT_TRUE(form->DetectionSucceeded());
  EXPECT_EQ(port.openings.size(), 1u);
  Choose("Germany");
  form->UPGRADEClick();
  EXPECT_EQ(Status(), "Setting now please wait....");
  EXPECT_TRUE(form->Timer4.Enabled());
  form->UPGRADEClick();
  host.RunFor(70000);
  EXPECT_EQ(port.openings.size(), 2u);
  EXPECT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(modem.country, 4u);
}

TEST_F(SwitchTest, OkWithoutAChosenCountrySendsNothing) {
  modem.country = 0x77;  // unknown: the box shows "UnKnow"
  Detect();
  ASSERT_EQ(form->ComboBox1.Text(), "UnKnow");
  PressOk();
  EXPECT_TRUE(modem.heard.empty());
  EXPECT_EQ(port.openings.size(), 1u);
  EXPECT_EQ(Status(), "Please select your country and press [OK]....");
  EXPECT_FALSE(host.closed);
  Choose("Japan");  // the user can still choose and go on
  PressOk();
  EXPECT_EQ(modem.heard.front(), "AT%T19,0,0");
}

TEST_F(SwitchTest, TypingInTheCountryBoxOnlyOpensTheList) {
  Detect();
  std::string before = form->ComboBox1.Text();
  char key = 'G';
  form->ComboBox1KeyPress(key);
  EXPECT_EQ(key, '\0');
  EXPECT_EQ(host.dropDowns, 1);
  EXPECT_EQ(form->ComboBox1.Text(), before);
}

TEST_F(SwitchTest, GetCommandTakesOnlyClosedFields) {
  Detect();
  char command[80] = "PREV";
  char reply[80] = {};
  EXPECT_EQ(form->GetCommand("AT*NC22;1;OK;rest;more;", command, reply), 1);
  EXPECT_STREQ(command, "AT*NC22");
  EXPECT_STREQ(reply, "OK");
  char reply2[80] = {};
  form->GetCommand("ATX;7;OK", command, reply2);
  EXPECT_STREQ(command, "ATX");
  EXPECT_STREQ(reply2, "");
  form->GetCommand("", command, reply2);
  EXPECT_STREQ(command, "ATX");
  std::string longLine = std::string(75, 'C') + ";1;OK;";  // cut to 80: field 3 unclosed
  char reply3[80] = {};
  form->GetCommand(longLine.c_str(), command, reply3);
  EXPECT_EQ(std::string(command), std::string(75, 'C'));
  EXPECT_STREQ(reply3, "");
}

TEST_F(SwitchTest, StepsWithoutAnExpectedReplyCannotFail) {
  Detect();
  Choose("Germany");
  // "NO" lasts the full 10 s; DELAY sends nothing and lasts 1 s; SEND4 3 s
  // and SEND1 60 s, neither failing without a reply.
  modem.overrides["SEND4X"] = {{}, ""};
  modem.overrides["SEND1X"] = {{}, ""};
  modem.overrides["ATQ"] = {{}, ""};
  UseScript({"ATQ;1;NO;", "DELAY;1;NO;", "SEND4X;1;OK;", "SEND1X;1;OK;"});
  PressOk();
  EXPECT_EQ(modem.heard, (std::vector<std::string>{"ATQ", "SEND4X", "SEND1X"}));
  ASSERT_EQ(port.lines.size(), 3u);
  EXPECT_EQ(port.lines[1].at - port.lines[0].at,
            TForm1::kStepReplyMs + TForm1::kDelayStepMs + Sending("SEND4X"));
  EXPECT_EQ(port.lines[2].at - port.lines[1].at, TForm1::kSend4StepMs + Sending("SEND1X"));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, " Modem reset OK !!     ");
  EXPECT_EQ(host.messages[0].at, port.lines[2].at + TForm1::kSend1StepMs);
}

TEST_F(SwitchTest, NoReplyStepEndsEarlyWhenThePreviousTextComesAgain) {
  Detect();
  Choose("Germany");
  UseScript({"ATA;1;OK;", "ATB;1;NO;"});
  PressOk();
  ASSERT_EQ(port.lines.size(), 2u);
  // Both answered "OK": the second step ends 100 ms after its reply.
  EXPECT_EQ(host.messages.at(0).at, port.lines[1].at + modem.replyDelay + TForm1::kMatchedMs);
  EXPECT_EQ(host.messages.at(0).text, " Modem reset OK !!     ");
}

TEST_F(SwitchTest, DelayWithAReplyWaitsOneSecondForIt) {
  Detect();
  Choose("Germany");
  UseScript({"DELAY;1;OK;", "ATB;1;OK;"});
  PressOk();
  EXPECT_TRUE(modem.heard.empty());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, " Modem Detect Error !!     ");
  EXPECT_EQ(host.messages[0].at, okAt + TForm1::kEvaluationMs + TForm1::kDelayStepMs);
}

// An unclosed reply field leaves the expected reply empty; an empty line or
// an unclosed first field also sends the previous command again. Either way
// the step fails after 10 s although the modem answers "OK".
struct BrokenLine {
  const char* line;  // the script's second line, after "ATA;1;OK;"
  const char* sent = "";
  BrokenLine Sends(const char* command) const { return {line, command}; }
};

void PrintTo(const BrokenLine& row, std::ostream* os) {
  *os << '"' << row.line << "\" sends " << row.sent;
}

class BrokenLineTest : public SwitchTest, public ::testing::WithParamInterface<BrokenLine> {};

TEST_P(BrokenLineTest, FailsEvenWhenAnswered) {
  const BrokenLine& row = GetParam();
  Detect();
  Choose("Germany");
  UseScript({"ATA;1;OK;", row.line});
  PressOk();
  ASSERT_EQ(modem.heard.size(), 2u);
  EXPECT_EQ(modem.heard[1], row.sent);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, " Modem Detect Error !!     ");
  EXPECT_EQ(host.messages[0].at, port.lines[1].at + TForm1::kStepReplyMs);
}

INSTANTIATE_TEST_SUITE_P(Lines, BrokenLineTest,
                         ::testing::Values(BrokenLine{"ATB;1;OK"}.Sends("ATB"),
                                           BrokenLine{""}.Sends("ATA"),
                                           BrokenLine{"ATB"}.Sends("ATA")));

TEST_F(SwitchTest, OneLineScriptCompletesOnTheNextTick) {
  Detect();
  Choose("Germany");
  UseScript({"ATA;1;OK;"});
  PressOk();
  EXPECT_EQ(modem.heard, std::vector<std::string>{"ATA"});
  EXPECT_EQ(host.messages.at(0).text, " Modem reset OK !!     ");
  EXPECT_EQ(st.ScriptLine, 0);
  EXPECT_FALSE(st.ScriptMore);
}

TEST_F(SwitchTest, PortErrorOnOkIsRaisedToTheWindowAndOkCanBePressedAgain) {
  Detect();
  Choose("Germany");
  port.failing = {{1, FakePort::Worker::Write}};
  EXPECT_THROW(form->UPGRADEClick(), std::exception);
  EXPECT_FALSE(form->SwitchRunning());
  port.failing.clear();
  PressOk();
  EXPECT_EQ(modem.country, 4u);
  EXPECT_EQ(host.messages.at(0).text, " Modem reset OK !!     ");
}
