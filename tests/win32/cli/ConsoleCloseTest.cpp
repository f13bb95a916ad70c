// The program on Win32 when its console is closed (or the user logs off, or
// the system shuts down): the system ends the process once the handler
// returns, or about 5 s after the event. The handler must stop the run,
// close the port and let the result be printed first.
#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "ProcessProbe.h"
#include "WineTest.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/win/ConsoleControl.h"

namespace {

// Sends stdout to a file while it lives.
class TCapturedStdout {
 public:
  explicit TCapturedStdout(const std::string& path) : path_(path) {
    std::fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    const int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(file, _fileno(stdout));
    _close(file);
  }
  ~TCapturedStdout() { Restore(); }
  // What has been written so far.
  std::string Text() const {
    std::string text;
    if (FILE* f = std::fopen(path_.c_str(), "rb")) {
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
      std::fclose(f);
    }
    return text;
  }
  std::string Restore() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      _dup2(saved_, _fileno(stdout));
      _close(saved_);
      saved_ = -1;
    }
    return Text();
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST(ConsoleClose, ACloseEventDuringSetClosesThePortAndPrintsTheResult) {
  for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    SCOPED_TRACE(event);
    winetest::SimModem modem(1);
    const std::string out =
        winetest::ToWindowsPath(winetest::BuildDir() + "/cli-close-" + std::to_string(event));
    TCapturedStdout captured(out);
    TOptions options;
    options.command = TCommand::Set;
    options.argument = "Germany";
    options.ports = {"COM1"};
    options.json = true;
    std::atomic<int> code{-1};
    const std::size_t threads = winetest::ThreadCount();
    std::thread run([&] { code = RunCommand(options); });
    // The run is under way: the ladder has reached the modem.
    EXPECT_TRUE(winetest::WaitUntil([&] { return !modem.Received().empty(); }, 60000));

    // The system calls the handler on a thread of its own.
    const ULONGLONG start = GetTickCount64();
    std::thread system([event] { OnConsoleControl(event); });
    system.join();
    const ULONGLONG took = GetTickCount64() - start;
    // The process would end now: the port's threads are gone (the run's own
    // thread may still be returning) and the result is out.
    EXPECT_LE(winetest::ThreadCount(), threads + 1) << "the port is still open";
    EXPECT_NE(captured.Text().find("\"result\":\"failed\""), std::string::npos);
    run.join();
    const std::string printed = captured.Restore();
    EXPECT_LT(took, kConsoleCloseGraceMs) << "the handler gave up waiting for the run";
    EXPECT_EQ(code.load(), kExitInterrupted);
    EXPECT_NE(printed.find("\"result\":\"failed\""), std::string::npos) << printed;
  }
}

}  // namespace
