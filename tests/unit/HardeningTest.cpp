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
