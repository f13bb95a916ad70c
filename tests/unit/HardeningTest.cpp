// Hostile devices in virtual time: floods, and what the fuzz targets found.
#include "DialogFixture.h"

namespace {

// Answers the identification command with a flood, everything else as a
// modem of no known family.
class FloodDevice : public FakeModem {
 public:
  explicit FloodDevice(std::string piece) : piece_(std::move(piece)) {
    identification = {"NO SUCH FAMILY"};
  }
  std::string Answer(const std::string& line) override {
    if (line != "ATI5") return FakeModem::Answer(line);
    std::string flood;
    while (flood.size() < (1u << 20)) flood += piece_;
    return flood;
  }

 private:
  std::string piece_;
};

}  // namespace

// A megabyte of text without a blank, and one of bare line breaks, fill the
// transcript to its bound; the evaluation still walks it (in linear time: see
// bench/transcript.sh) and the scan goes on to the modem on COM2.
TEST_F(DialogTest, MegabyteFloodOnOnePortDoesNotStopTheScan) {
  for (const char* piece : {"x", "\r\n", "ERROR "}) {
    SCOPED_TRACE(piece);
    ResetDialogState();
    port.openings.clear();
    host.messages.clear();
    FloodDevice flood(piece);
    FakeModem modem;
    Keys(modem);
    port.Attach(1, flood);
    port.Attach(2, modem);
    Open();
    host.RunFor(20000);
    EXPECT_EQ(port.OpenedPorts(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(form->DetectionSucceeded());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(form->Panel7.Caption, "56K FAKEMODEM V1.0");
    CloseForm();
  }
}

// The window mirrors the transcript into its edit control whenever it
// changes. A flood in the small bursts a serial port delivers changes it only
// until it is full: a megabyte in 2 KiB bursts is 512 deliveries, of which
// only the first 33 or so may cost a mirror.
TEST_F(DialogTest, FloodChangesTheTranscriptOnlyUntilItIsFull) {
  Open();
  form->Memo1.Clear();
  const std::string burst(2048, '7');
  size_t changing = 0;  // deliveries after which the window would mirror
  for (int n = 0; n < 512; ++n) {
    const unsigned before = form->Memo1.Revision();
    Receive(burst);
    changing += form->Memo1.Revision() != before;
  }
  EXPECT_EQ(form->Memo1.Text().size(), TMemo::kMaxText);
  EXPECT_LE(changing, TMemo::kMaxText / burst.size() + 1);
}
