#include "comm32/CommsLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace comm32 {
namespace {

class CommsLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/commslog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const char* f : {"/a.log", "/b.log"}) std::remove((dir_ + f).c_str());
    rmdir(dir_.c_str());
  }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

  std::string dir_;
  TCommsLog log_;
};

TEST_F(CommsLogTest, WithoutANameNothingIsWrittenAndNothingRaised) {
  log_.WriteLine("Stopping the Comm", true);
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_FALSE(Exists(Path("a.log")));
}

TEST_F(CommsLogTest, LinesEndWithCrLfAndReopeningEmptiesTheFile) {
  log_.SetName(Path("a.log"));
  log_.Open(Path("a.log"));
  log_.WriteLine("first", true);
  log_.Close();
  log_.Open(Path("a.log"));
  log_.WriteLine("Closing Read Thread ", true);
  log_.WriteLine("100% \"quoted\"", false);
  log_.Close();
  EXPECT_EQ(Contents(Path("a.log")), "Closing Read Thread \r\n100% \"quoted\"\r\n");
}

TEST_F(CommsLogTest, ALineThatCannotBeWrittenRaisesOnlyWhenAsked) {
  log_.SetName(Path("a.log"));
  EXPECT_NO_THROW(log_.WriteLine("dropped", false));
  EXPECT_THROW(log_.WriteLine("Write thread not created", true), EInOutError);
  EXPECT_THROW(log_.Close(), EInOutError);
  EXPECT_THROW(log_.Open(dir_ + "/missing/dir/x.log"), EInOutError);
  EXPECT_FALSE(log_.IsOpen());
}

TEST_F(CommsLogTest, OpeningAgainClosesTheFileLeftOpen) {
  log_.SetName(Path("a.log"));
  log_.Open(Path("a.log"));
  log_.WriteLine("left open", true);
  log_.Open(Path("b.log"));
  log_.WriteLine("second", true);
  log_.Close();
  EXPECT_EQ(Contents(Path("a.log")), "left open\r\n");
  EXPECT_EQ(Contents(Path("b.log")), "second\r\n");
}

TEST_F(CommsLogTest, LinesFromManyThreadsStayWholeAndInThreadOrder) {
  log_.SetName(Path("a.log"));
  log_.Open(Path("a.log"));
  constexpr int kThreads = 6, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) {
        const std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) +
                                 std::string(40, static_cast<char>('a' + t));
        log_.WriteLine(line.c_str(), false);
      }
    });
  }
  for (auto& th : threads) th.join();
  log_.Close();

  std::istringstream in(Contents(Path("a.log")));
  std::vector<int> next(kThreads, 0);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++);
    EXPECT_EQ(line.substr(line.size() - 41), std::string(40, static_cast<char>('a' + t)) + "\r");
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST(LastErrorLine, QuotesTheSystemTextVerbatim) {
  EXPECT_EQ(LastErrorLine("Unable to CreateEvent: ", "Access denied.\r\n"),
            "Unable to CreateEvent: GetLastError returned: \"Access denied.\r\n\"");
  EXPECT_EQ(LastErrorLine(nullptr, "100% %s"), "GetLastError returned: \"100% %s\"");
  EXPECT_EQ(LastErrorLine("LocalAlloc: ", nullptr), "LocalAlloc: Out of memory");
  EXPECT_EQ(LastErrorLine(nullptr, nullptr), "Out of memory");
}

TEST(FormatMessageFallback, NamesBothNumbers) {
  EXPECT_EQ(FormatMessageFallback(4294967295u, 317),
            "FormatMessage failed on error 4294967295 for the following reason: 317");
}

}  // namespace
}  // namespace comm32
