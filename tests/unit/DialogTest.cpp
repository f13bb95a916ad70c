// Creation, parameters, display scaling, size keeping, animation, timers,
// sending, and the state carried from one opening to the next.
#include <cstring>

#include "DialogFixture.h"

TEST_F(DialogTest, CreationShowsTheDetectingStateWithTimersRunning) {
  Open();
  EXPECT_EQ(Status(), "Detecting Modem Now....");
  EXPECT_TRUE(host.Armed(form->Timer1));
  EXPECT_TRUE(host.Armed(form->Timer4));
  EXPECT_FALSE(host.Armed(form->Timer2));
  EXPECT_FALSE(host.Armed(form->Timer3));
  // The window takes them off before the form goes: none counts any more,
  // also once enabled again.
  form->DetachTimers();
  form->Timer2.SetEnabled(true);
  for (TTimer* t : {&form->Timer1, &form->Timer2, &form->Timer3, &form->Timer4})
    EXPECT_FALSE(host.Armed(*t)) << t->Name;
  EXPECT_FALSE(form->Panel7.Visible);
  EXPECT_FALSE(form->Memo1.Visible);
  EXPECT_EQ(port.BaudRate(), tbr115200);
  EXPECT_TRUE(port.Flags().Empty());
  EXPECT_EQ(host.registryKey, "\\Config\\0001\\Display\\Settings");
  EXPECT_EQ(host.registryName, "DPILogicalX");
}

TEST_F(DialogTest, ParameterWordsIgnoreCase) {
  host.words = {"debug", "com=2"};
  Open();
  EXPECT_EQ(st.DebugMode, 1);
  EXPECT_TRUE(form->Panel7.Visible);
  EXPECT_TRUE(form->Panel8.Visible);
  EXPECT_TRUE(form->Memo1.Visible);
  EXPECT_EQ(st.StartPort, 2);
  CloseForm();

  host.words = {"Debug"};
  Open();
  EXPECT_EQ(st.DebugMode, 1);
  EXPECT_EQ(st.StartPort, 0);
}

TEST_F(DialogTest, ComWordOutsideOneTo256IsIgnored) {
  for (const char* word : {"COM=0", "COM=257", "COM=", "COM=x", "COM=2x", "COM=-1", "COM= 2",
                           "COM=99999999999999999999"}) {
    host.words = {"COM=3", word};
    Open();
    EXPECT_EQ(st.StartPort, 3) << word;
    CloseForm();
  }
  for (int port : {9, 12, 256}) {
    host.words = {"COM=3", "COM=" + std::to_string(port)};
    Open();
    EXPECT_EQ(st.StartPort, port);
    CloseForm();
  }
}

TEST_F(DialogTest, OverlongParameterWordStaysInsideItsBuffer) {
  host.words = {std::string(5000, 'D'), "COM=" + std::string(200, '1')};
  Open();
  EXPECT_EQ(std::strlen(st.ReplyBuf), 80u);
  EXPECT_EQ(st.StartPort, 0);
}

TEST_F(DialogTest, DisplayScalingMovesTheAnimation) {
  const std::pair<const char*, int> cases[] = {{"120", 8}, {"144", 16}, {"95", 0}, {"90", -2},
                                               {"96", 0},  {"abc", 0},  {"", 0},   {"12x", 0}};
  for (const auto& [value, shift] : cases) {
    host.registryValue = value;
    Open();
    EXPECT_EQ(st.DpiShift, shift) << value;
    CloseForm();
  }
}

TEST_F(DialogTest, UnreadableDisplaySettingCountsAs96) {
  for (TRegRead result : {TRegRead::NoKey, TRegRead::NoValue, TRegRead::NotText}) {
    host.registryResult = result;
    host.registryValue = "144";
    Open();
    EXPECT_EQ(st.DpiShift, 0);
    CloseForm();
  }
}

TEST_F(DialogTest, ResizeKeepsTheClientSizeAndPullsTheWindowOnScreen) {
  Open();
  host.screenWidth = 800;
  host.screenHeight = 600;
  // Exactly 40 px above the bottom and 10 px left of the right edge: stays.
  host.windowTop = 600 - 257 - 40;
  host.windowLeft = 800 - 369 - 10;
  form->FormResize();
  EXPECT_EQ(host.clientWidth, 369);
  EXPECT_EQ(host.clientHeight, 257);
  EXPECT_EQ(host.windowTop, 303);
  EXPECT_EQ(host.windowLeft, 421);
  // One pixel closer: moved by the shortfall plus 60 (up) and plus 10 (left).
  host.windowTop = 304;
  host.windowLeft = 422;
  form->FormResize();
  EXPECT_EQ(host.windowTop, 304 - 61);
  EXPECT_EQ(host.windowLeft, 422 - 11);
}

TEST_F(DialogTest, ImageOrbitsFiveDegreesATick) {
  host.registryValue = "120";  // DpiShift 8
  Open();
  // 30 degrees at creation: 12 ticks reach 90, 30 more 240, 24 more wrap to 0.
  host.RunFor(12 * 15);
  EXPECT_EQ(st.AnimAngle, 90.0);
  EXPECT_EQ(form->Image2.Bounds.Top, 4 + 16 + 52);
  EXPECT_EQ(form->Image2.Bounds.Left, 70 + 8);
  host.RunFor(30 * 15);
  EXPECT_EQ(st.AnimAngle, 240.0);
  EXPECT_EQ(form->Image2.Bounds.Top, 135 + 16 + 52);  // 74 + 60.62
  EXPECT_EQ(form->Image2.Bounds.Left, 105 + 8);       // 70 + 35
  st.AnimAngle = 355;
  form->Timer4Timer();
  EXPECT_EQ(st.AnimAngle, 0.0);
  EXPECT_EQ(form->Image2.Bounds.Top, 74 + 16 + 52);
  EXPECT_EQ(form->Image2.Bounds.Left, 0 + 8);
}

TEST_F(DialogTest, TimerCountRestartsOnlyOnARealChange) {
  Open();
  host.RunFor(10);
  TTimer& t = form->Timer2;
  t.SetInterval(300);  // disabled: nothing counts
  EXPECT_FALSE(host.Armed(t));
  t.SetEnabled(true);
  EXPECT_EQ(clock.DueTime(&t), 310u);
  clock.Advance(100);
  t.SetInterval(300);  // same value: count goes on
  t.SetEnabled(true);
  EXPECT_EQ(clock.DueTime(&t), 310u);
  t.SetInterval(250);  // new value: count starts afresh
  EXPECT_EQ(clock.DueTime(&t), 360u);
  clock.Advance(50);
  t.SetOnTimer("Timer2C", [] {});  // re-bound handler: afresh
  EXPECT_EQ(clock.DueTime(&t), 410u);
}

TEST_F(DialogTest, CommandLineGoesOutOneByteAMillisecondThenCR) {
  FakeModem modem;
  port.Attach(1, modem);
  Open();
  port.SetPort(tptOne);
  ASSERT_TRUE(port.OpenPort());
  VirtualClock::Ms start = clock.Now();
  form->WriteCommData("ATI5");
  EXPECT_EQ(clock.Now() - start, 4u);
  form->WriteCommData("");
  ASSERT_EQ(port.lines.size(), 2u);
  EXPECT_EQ(port.lines[0].text, "ATI5");
  EXPECT_EQ(port.lines[1].text, "");

  char key = 'x';
  form->Memo1KeyPress(key);
  EXPECT_EQ(port.partial, "x");
}

TEST_F(DialogTest, CancelClosesAndDestroyClosesAnOpenedPortWithoutRaising) {
  FakeModem modem;
  port.Attach(1, modem);
  Open();
  host.RunFor(600);  // COM1 opened
  ASSERT_TRUE(port.IsOpen());
  form->CancelClick();
  EXPECT_TRUE(host.closed);
  // The close can raise (a comms log that cannot be closed): the destruction
  // still ends normally, the port closed.
  port.closeThrows = true;
  EXPECT_EXIT(
      {
        CloseForm();
        std::exit(port.IsOpen() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
  port.closeThrows = false;  // this process destroys the form too
  CloseForm();
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(DialogTest, SecondOpeningStartsFromWhatTheFirstLeft) {
  SilentDevice device;
  port.Attach(1, device);
  Open();
  host.RunFor(600);  // COM1 opened, ladder running
  form->WaitString("OK");
  Receive("\rO");
  ASSERT_EQ(st.MatchPos, 1);
  form->CancelClick();
  CloseForm();

  host.closed = false;
  host.words = {"AUTOOFF"};
  Open();
  // Zeroed again: the text blocks. Kept: the port flag and the matcher.
  EXPECT_EQ(st.WaitText[0], '\0');
  EXPECT_TRUE(st.PortOpened);
  EXPECT_EQ(st.MatchPos, 1);
  EXPECT_EQ(st.RxCount, 2);
  EXPECT_TRUE(st.LadderBusy);
  host.RunFor(600);
  // Some port was opened since loading, so the message is not "No modem".
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "Modem type can not detect ??");
}
