// libFuzzer target for the receive handling: arbitrary deliveries into
// Comm1ReceiveData, interleaved with the lookups the evaluation makes
// (SearchVer chains, SearchString), new wait texts and emptied transcripts.
// Every delivery is an exact-size heap block, so a read past BufferLength is
// caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "tests/unit/DialogRig.h"

namespace {

const char* const kLookups[] = {"ATI5", "ATH3", "AT&V5", "ATI9", "AT", "OK", "ERROR", ""};

struct Receiver {
  DialogRig rig;
  std::string history;  // bytes received since the wait text was armed

  TForm1& Form() { return *rig.form; }
  TDialogState& St() { return rig.st; }

  void CheckState() {
    const std::int32_t waitLength = static_cast<std::int32_t>(std::strlen(St().WaitText));
    FUZZ_CHECK(St().MatchPos >= 0 && St().MatchPos <= waitLength);
    FUZZ_CHECK(St().RxCount >= 0 && St().RxCount <= 399);
    FUZZ_CHECK(std::strlen(St().ReplyBuf) <= TDialogState::kMaxCopy);
    FUZZ_CHECK(Form().Memo1.Text().size() <= TMemo::kMaxText);
    // A completed match means the text really arrived, in one piece, ending
    // a line.
    if (St().WaitMatched && waitLength > 0) {
      const std::string text = St().WaitText;
      FUZZ_CHECK(history.find(text + "\r") != std::string::npos ||
                 history.find(text + "\n") != std::string::npos);
    }
  }

  void Deliver(const std::string& bytes) {
    const bool wasMatched = St().WaitMatched;
    const size_t linesBefore = static_cast<size_t>(Form().Memo1.LineCount());
    const size_t textBefore = Form().Memo1.Text().size();
    std::unique_ptr<char[]> block(new char[bytes.size() ? bytes.size() : 1]);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    Form().Comm1ReceiveData(bytes.empty() ? nullptr : block.get(),
                            static_cast<std::uint16_t>(bytes.size()));
    history += bytes;
    // The text up to the first zero byte, then a line break, as room allows.
    const std::string text = bytes.substr(0, bytes.find('\0')) + "\r\n";
    const size_t room = TMemo::kMaxText - textBefore;
    FUZZ_CHECK(Form().Memo1.Text().size() == textBefore + std::min(room, text.size()));
    if (room >= text.size())
      FUZZ_CHECK(static_cast<size_t>(Form().Memo1.LineCount()) >= linesBefore);
    if (!wasMatched && St().WaitMatched && !St().LadderBusy) {
      FUZZ_CHECK(!Form().Timer3.Enabled());
      FUZZ_CHECK(Form().Timer2.Interval() == 100);
    }
  }

  void Lookup(std::int32_t start, const char* text) {
    const std::int32_t count = Form().Memo1.LineCount();
    const std::string before = St().ReplyBuf;
    const std::int32_t found = Form().SearchVer(start, text);
    if (count < start) {
      FUZZ_CHECK(found == start && before == St().ReplyBuf);
      return;
    }
    FUZZ_CHECK(found >= (start < 0 ? 0 : start) && found <= count + 1);
    const std::string reply = St().ReplyBuf;
    if (found == count + 1) {
      FUZZ_CHECK(reply.empty());
      return;
    }
    FUZZ_CHECK(found < count);
    FUZZ_CHECK(reply == Form().Memo1.Line(found).substr(0, TDialogState::kMaxCopy));
    FUZZ_CHECK(!reply.empty() && reply.compare(0, 2, "AT") != 0 && reply.compare(0, 2, "AA") != 0);
    FUZZ_CHECK(reply.find_first_of("\r\n") == std::string::npos);
  }

  // The lookups of the evaluation, each starting after the previous reply.
  void Evaluation() {
    std::int32_t i = Form().SearchVer(0, "ATI5");
    std::int32_t j = Form().SearchVer(i + 1, "ATH3");
    std::int32_t k = Form().SearchVer(j + 1, "AT&V5");
    Lookup(k + 1, "ATI9");
  }

  void CheckLayout() {
    const int count = Form().Memo1.LineCount();
    for (int i = 0; i < count; ++i) {
      const std::string line = Form().Memo1.Line(i);
      FUZZ_CHECK(line.size() <= TMemo::kWrapChars + 1);
      FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    }
    FUZZ_CHECK(Form().Memo1.Line(count).empty() && Form().Memo1.Line(-1).empty());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Receiver r;
  r.rig.Open();
  r.rig.host.DestroyTimers();  // handlers are not under test here
  r.St().LadderBusy = in.ConsumeBool();
  r.St().RxCount = in.ConsumeIntegralInRange<std::int32_t>(0, 399);
  r.St().LastMatch = in.ConsumeIntegral<std::uint16_t>();
  r.Form().WaitString(in.ConsumeBool() ? "ERROR" : "OK");

  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
      case 0:
      case 1:
      case 2:
        r.Deliver(in.ConsumeRandomLengthString(4096));
        break;
      case 3: {
        std::string text = in.ConsumeRandomLengthString(100);
        r.Form().WaitString(text.c_str());
        r.history.clear();
        break;
      }
      case 4: {
        const char* text = kLookups[in.ConsumeIntegralInRange<size_t>(0, 7)];
        r.Lookup(in.ConsumeIntegralInRange<std::int32_t>(-2, 60), text);
        break;
      }
      case 5:
        r.Evaluation();
        r.Form().SearchString(in.ConsumeBool() ? "OK" : "ERROR");
        break;
      case 6:
        r.Form().Memo1.Clear();
        r.Form().ClearBuffer();
        break;
      default:
        r.St().LadderBusy = in.ConsumeBool();
        r.CheckLayout();
        break;
    }
    r.CheckState();
  }
  r.CheckLayout();
  return 0;
}
