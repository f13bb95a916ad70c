// The transcript, the wait-text matcher and the reply lookup.
#include <cstring>

#include "DialogFixture.h"

class MatcherTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open();
    form->WaitString("OK");
  }
};

// "OK" completes only as a whole line: its first byte is the first received
// or follows a CR or LF, and a CR or LF follows it, in one delivery or
// spread over several. A repeated, stray or zero byte breaks it.
TEST_F(MatcherTest, WaitTextCompletesOnlyAsAWholeLine) {
  const struct {
    std::vector<std::string> deliveries;
    bool matched;
  } cases[] = {
      {{"OK\r"}, true},           {{"O", "K\n"}, true},
      {{"\r\nOK", "\r\n"}, true}, {{"AT%T19,0,4\rOK\r"}, true},
      {{"\r\nOK"}, false},        {{"\r\nOOK\r\n"}, false},
      {{"\r\nOxK\r\n"}, false},   {{std::string("\r\nO\0K\r\n", 7)}, false},
      {{"\r\nNOK1\r\n"}, false},  {{"\r\nN", "OK1\r\n"}, false},
      {{"\r\nOKAY\r\n"}, false},  {{"\r\nOK \r\n"}, false},
      {{"xOK\r"}, false},
  };
  for (const auto& c : cases) {
    st.LineStart = true;  // as on a port just opened
    form->WaitString("OK");
    for (const std::string& delivery : c.deliveries) Receive(delivery);
    EXPECT_EQ(st.WaitMatched, c.matched) << ::testing::PrintToString(c.deliveries);
  }
}

TEST_F(MatcherTest, MatchStraddlingTheCounterWrapBreaks) {
  st.RxCount = 399;  // "O" is stamped 399, "K" 0
  Receive("OK\r");
  EXPECT_FALSE(st.WaitMatched);
  EXPECT_EQ(st.RxCount, 2);
  st.RxCount = 398;
  Receive("OK\r");
  EXPECT_TRUE(st.WaitMatched);
}

TEST_F(MatcherTest, EmptyWaitTextNeverCompletes) {
  form->WaitString("");
  Receive(std::string("\r\nOK\r\n\0\0", 8));
  EXPECT_FALSE(st.WaitMatched);
}

TEST_F(MatcherTest, OverlongWaitTextIsCutAndStillBounded) {
  std::string longText(300, 'A');
  form->WaitString(longText.c_str());
  EXPECT_EQ(std::strlen(st.WaitText), 79u);
  Receive(std::string(400, 'A'));
  EXPECT_FALSE(st.WaitMatched);
  EXPECT_LE(st.MatchPos, 79);
  Receive("\r" + std::string(79, 'A') + "\r");
  EXPECT_TRUE(st.WaitMatched);
}

TEST_F(MatcherTest, CompletionOutsideTheLadderBringsTheStepForward) {
  form->Timer3.SetEnabled(true);
  st.LadderBusy = true;
  Receive("OK\r\n");
  EXPECT_TRUE(form->Timer3.Enabled());
  EXPECT_EQ(form->Timer2.Interval(), TForm1::kEvaluationMs);

  form->WaitString("OK");
  st.LadderBusy = false;
  Receive("OK\r\n");
  EXPECT_FALSE(form->Timer3.Enabled());
  EXPECT_EQ(form->Timer2.Interval(), TForm1::kMatchedMs);
}

TEST_F(DialogTest, TranscriptTakesEachDeliveryUpToItsZeroByteOnItsOwnLine) {
  Open();
  EXPECT_EQ(form->Memo1.LineCount(), 1);  // "Memo1" until the first probe
  form->Memo1.Clear();
  Receive(std::string("AB\0CD", 5));
  Receive("");
  Receive("EF");
  EXPECT_EQ(form->Memo1.Text(), "AB\r\n\r\nEF\r\n");
  EXPECT_EQ(form->Memo1.LineCount(), 3);
  EXPECT_EQ(form->Memo1.Line(0), "AB");
  EXPECT_EQ(form->Memo1.Line(1), "");
  EXPECT_EQ(form->Memo1.Line(2), "EF");
}

TEST(MemoTest, LinesBreakAtEveryLineEndAndWrapAtABlank) {
  TMemo memo("Memo1", {}, "", false);
  memo.SetText("A\rB\nC\r\nD\r\r\nE");
  EXPECT_EQ(memo.LineCount(), 6);
  EXPECT_EQ(memo.Line(3), "D");
  EXPECT_EQ(memo.Line(4), "");

  // Short replies stay whole; a long line is cut at the width, or after the
  // last blank that fits.
  std::string word(TMemo::kWrapChars, 'x');
  memo.SetText(word + "\r\n" + word + "yz\r\nMODEL 123456789 REVISION 7 FAKEMODEM\r\n");
  ASSERT_EQ(memo.LineCount(), 5);
  EXPECT_EQ(memo.Line(0), word);
  EXPECT_EQ(memo.Line(1), word);
  EXPECT_EQ(memo.Line(2), "yz");
  EXPECT_EQ(memo.Line(3), "MODEL 123456789 REVISION 7 ");
  EXPECT_EQ(memo.Line(4), "FAKEMODEM");
  EXPECT_EQ(memo.Line(5), "");
  EXPECT_EQ(memo.Line(-1), "");

  memo.Caption = "written\r\ndirectly";  // as the window takes a typed text back
  EXPECT_EQ(memo.LineCount(), 2);
  EXPECT_EQ(memo.Line(1), "directly");
}

TEST(MemoTest, TextIsBounded) {
  TMemo memo("Memo1", {}, "", false);
  std::string block(TMemo::kMaxText - 3, 'a');
  memo.Append(block.data(), block.size());
  memo.Append("bcdef", 5);
  const unsigned revision = memo.Revision();
  memo.Append("g", 1);
  EXPECT_EQ(memo.Text().size(), TMemo::kMaxText);
  EXPECT_EQ(memo.Text().substr(memo.Text().size() - 4), "abcd");
  EXPECT_EQ(memo.Revision(), revision);  // nothing for the window to mirror
}

class SearchVerTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open();
    form->Memo1.Clear();
  }
  std::string Reply() const { return st.ReplyBuf; }
};

TEST_F(SearchVerTest, FindsTheFirstLineAfterTheEchoAndChains) {
  Receive("ATI5\r\r\n56K FAKEMODEM V1.0\r\n\r\nOK\r\n");
  Receive("ATH3\r\r\nERROR\r\n");
  int i = form->SearchVer(0, "ATI5");
  EXPECT_EQ(Reply(), "56K FAKEMODEM V1.0");
  int j = form->SearchVer(i + 1, "ATH3");
  EXPECT_EQ(Reply(), "ERROR");
  EXPECT_GT(j, i);
}

TEST_F(SearchVerTest, EchoLinesAndAnswerLinesAreSkipped) {
  Receive("ATZ\r\r\nOK\r\n");
  Receive("AT&V5\r\r\nAT&V5 LISTING\r\nAAB\r\n\r\nCOUNTRY: DE\r\n");
  form->SearchVer(0, "AT&V5");
  EXPECT_EQ(Reply(), "COUNTRY: DE");
}

TEST_F(SearchVerTest, StartBeyondTheLinesLeavesTheReplyAlone) {
  Receive("ATI5\r\r\nX\r\n");
  std::strcpy(st.ReplyBuf, "kept");
  int lines = form->Memo1.LineCount();
  EXPECT_EQ(form->SearchVer(lines + 1, "ATI5"), lines + 1);
  EXPECT_EQ(Reply(), "kept");
}

TEST_F(SearchVerTest, MissingEchoEmptiesTheReply) {
  Receive("\r\n56K FAKEMODEM V1.0\r\n\r\nOK\r\n");
  std::strcpy(st.ReplyBuf, "old");
  int lines = form->Memo1.LineCount();
  EXPECT_EQ(form->SearchVer(0, "ATI5"), lines + 1);
  EXPECT_EQ(Reply(), "");
}

TEST_F(SearchVerTest, WrappedReplyYieldsOnlyItsFirstLine) {
  Receive("ATI5\r\r\nMODEL 123456789 REVISION 7 FAKEMODEM\r\n");
  form->SearchVer(0, "ATI5");
  EXPECT_EQ(Reply(), "MODEL 123456789 REVISION 7 ");
}

TEST_F(DialogTest, SearchStringLooksOnlyInTheReply) {
  Open();
  std::strcpy(st.ReplyBuf, "NO DIAL TONE");
  EXPECT_TRUE(form->SearchString("DIAL"));
  form->ClearBuffer();
  EXPECT_FALSE(form->SearchString("DIAL"));
  EXPECT_EQ(st.RxCount, 0);
}
