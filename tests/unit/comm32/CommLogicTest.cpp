#include "comm32/CommLogic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace comm32 {
namespace {

TEST(DcbFlagWord, ControlGroupsDefaultToEnableAndDisableWins) {
  EXPECT_EQ(DcbFlagWord(TFlags{}), 0x1010u);
  EXPECT_EQ(DcbFlagWord(TFlags(TCommPort::kDeclaredFlagsWord)), 0x202Cu);
  EXPECT_EQ(DcbFlagWord({tfcDtrDisable, tfcDtrFlow}), 0x1000u);
  EXPECT_EQ(DcbFlagWord({tfcDtrFlow}), 0x1020u);
  EXPECT_EQ(DcbFlagWord({tfcRtsDisable, tfcRtsFlow, tfcRtsTog}), 0x0010u);
  EXPECT_EQ(DcbFlagWord({tfcRtsFlow, tfcRtsTog}), 0x2010u);
  EXPECT_EQ(DcbFlagWord({tfcRtsTog}), 0x3010u);
}

TEST(DcbFlagWord, EachSingleFlagSetsItsOwnBitOnly) {
  const std::pair<TFlag, std::uint32_t> singles[] = {
      {tfcBinary, 0x1},   {tfcParity, 0x2},     {tfcCtsFlow, 0x4},      {tfcDsrFlow, 0x8},
      {tfcDsrSens, 0x40}, {tfcTXCntXoff, 0x80}, {tfcOutX, 0x100},       {tfcInX, 0x200},
      {tfcPeChar, 0x400}, {tfcNull, 0x800},     {tfcAbortOnErr, 0x4000}};
  for (const auto& s : singles) {
    EXPECT_EQ(DcbFlagWord({s.first}), 0x1010u | s.second) << int(s.first);
  }
  EXPECT_EQ(DcbFlagWord(TFlags(0xFFFF)), 0x4FCFu);
}

TEST(CommEventMask, MapsEveryEventToItsBit) {
  const std::uint32_t expected[] = {0x40,  0x08, 0x10,  0x80, 0x800, 0x1000, 0x200,
                                    0x100, 0x20, 0x400, 0x01, 0x02,  0x04};
  for (unsigned i = 0; i <= tceTxEmpty; ++i) {
    EXPECT_EQ(CommEventMask({static_cast<TCommEvent>(i)}), expected[i]) << i;
  }
  EXPECT_EQ(CommEventMask(TCommEvents{}), 0u);
  EXPECT_EQ(CommEventMask(TCommEvents(0x1FFF)), 0x1FFFu);
  EXPECT_EQ(CommEventMask({tceRxChar, tceErr}), kEvRxChar | kEvErr);
}

TEST(LineSettings, DcbMemberValues) {
  EXPECT_EQ(BaudRateValue(tbr110), 110u);
  EXPECT_EQ(BaudRateValue(tbr9600), 9600u);
  EXPECT_EQ(BaudRateValue(tbr14400), 14400u);
  EXPECT_EQ(BaudRateValue(tbr56000), 56000u);
  EXPECT_EQ(BaudRateValue(tbr115200), 115200u);
  EXPECT_EQ(BaudRateValue(tbr256000), 256000u);
  EXPECT_EQ(ParityValue(tpMark), 3);
  EXPECT_EQ(ByteSizeValue(tdbFour), 4);
  EXPECT_EQ(ByteSizeValue(tdbEight), 8);
  EXPECT_EQ(StopBitsValue(tsbOnePointFive), 1);
  EXPECT_EQ(StopBitsValue(tsbTwo), 2);
}

TEST(DeviceName, UsesTheDevicePathForm) {
  EXPECT_EQ(DeviceName(tptOne), "\\\\.\\COM1");
  EXPECT_EQ(DeviceName(tptEight), "\\\\.\\COM8");
  EXPECT_EQ(DeviceName(tptNone), "\\\\.\\COM0");
  EXPECT_EQ(DeviceName(static_cast<TPort>(12)), "\\\\.\\COM12");
  EXPECT_EQ(DeviceName(static_cast<TPort>(kHighestPort)), "\\\\.\\COM256");
}

TEST(PortNumber, TakesComOneTo256Only) {
  const std::pair<const char*, int> rows[] = {
      {"COM1", 1}, {"com12", 12}, {"CoM256", 256}, {"COM257", 0}, {"COM0", 0},    {"COM012", 0},
      {"COM", 0},  {"COM1x", 0},  {"LPT1", 0},     {"COM-1", 0},  {"COM2560", 0}, {"", 0}};
  for (const auto& [name, number] : rows) EXPECT_EQ(PortNumber(name), number) << name;
}

TEST(CommErrorEventText, PartsInOrderJoinedWithAnd) {
  EXPECT_EQ(CommErrorEventText(0), "Comm Event: NULL Error, EvtMask = 0");
  EXPECT_EQ(CommErrorEventText(0).size(), 35u);
  EXPECT_EQ(CommErrorEventText(kCeRxOver), "Comm Event: EV_ERR Unknown EvtMask, EvtMask = 1");
  EXPECT_EQ(CommErrorEventText(kCeFrame | kCeOverrun),
            "Comm Event: CE_FRAME and CE_OVERRUN, EvtMask = 10");
  EXPECT_EQ(CommErrorEventText(10).size(), 49u);
  EXPECT_EQ(CommErrorEventText(30),
            "Comm Event: CE_FRAME and CE_OVERRUN and CE_RXPARITY and EV_ERR Unknown EvtMask, "
            "EvtMask = 30");
  // Unknown bits add one part only, however many there are.
  EXPECT_EQ(CommErrorEventText(0xFFFFFFF0u),
            "Comm Event: EV_ERR Unknown EvtMask, EvtMask = 4294967280");
  // The longest text still fits the 256-byte message block.
  EXPECT_LT(CommErrorEventText(0xFFFFFFFFu).size(), 256u);
}

// A driver input queue that the chunk reads drain.
struct FakeQueue {
  std::size_t queued;
  std::vector<std::uint32_t> delivered;
  std::uint32_t ReadQueuedChunk() {
    const std::uint32_t n = QueuedChunkLength(static_cast<std::uint32_t>(queued));
    queued -= n;
    delivered.push_back(n);
    return n;
  }
};

TEST(ChunkSeries, DrainsInChunksOfAtMost4000EndingWithAnEmptyOne) {
  FakeQueue q{10000, {}};
  EXPECT_EQ(RunChunkSeries([&] { return q.ReadQueuedChunk(); }), 10000u);
  EXPECT_EQ(q.delivered, (std::vector<std::uint32_t>{4000, 4000, 2000, 0}));

  FakeQueue reply{30, {}};
  RunChunkSeries([&] { return reply.ReadQueuedChunk(); });
  EXPECT_EQ(reply.delivered, (std::vector<std::uint32_t>{30, 0}));

  FakeQueue empty{0, {}};
  EXPECT_EQ(RunChunkSeries([&] { return empty.ReadQueuedChunk(); }), 0u);
  EXPECT_EQ(empty.delivered, (std::vector<std::uint32_t>{0}));

  FakeQueue exact{8000, {}};
  RunChunkSeries([&] { return exact.ReadQueuedChunk(); });
  EXPECT_EQ(exact.delivered, (std::vector<std::uint32_t>{4000, 4000, 0}));
}

}  // namespace
}  // namespace comm32
