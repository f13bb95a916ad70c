// modemsim as a child process of a test, serving a pty behind a link in a
// scratch directory (MODEMSIM_PATH names the binary).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace simtest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPatience{5000};  // upper bound for anything expected

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Starts `args` (the program's path first) as a child process whose stdout
// goes to `out` and, unless it is -1, stderr to `err`. The child allocates
// nothing: tests start processes from several threads at once.
inline pid_t Spawn(std::vector<std::string> args, int out, int err = -1) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out, 1);
    if (err >= 0) ::dup2(err, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// A scratch directory removed with its contents.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/modemsim_test.XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One modemsim process, stopped with SIGTERM when the test ends.
class Sim {
 public:
  explicit Sim(std::vector<std::string> args, std::string link = "")
      : link_(link.empty() ? dir_.path() + "/com1" : link) {
    state_ = dir_.path() + "/state";
    args.insert(args.begin(), {MODEMSIM_PATH, "--link", link_, "--state-dir", state_});
    int out[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    pid_ = Spawn(args, out[1]);
    ::close(out[1]);
    stdout_ = out[0];
    ready_ = ReadLine().rfind("ready ", 0) == 0;
  }
  ~Sim() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      Wait();
    }
    ::close(stdout_);
  }

  bool ready() const { return ready_; }
  const std::string& link() const { return link_; }
  std::string State(const char* name) const { return Slurp(state_ + "/" + name); }
  // Waits until a state file holds `text`; false on time-out.
  bool AwaitState(const char* name, const std::string& text) const {
    const auto end = Clock::now() + kPatience;
    while (State(name) != text) {
      if (Clock::now() > end) return false;
      ::usleep(2000);
    }
    return true;
  }
  const std::string& dir() const { return dir_.path(); }
  pid_t pid() const { return pid_; }

  // Exit status once the process has ended by itself (or -1 on time-out).
  int Wait(milliseconds limit = kPatience) {
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(2000);
    }
    return -1;
  }

 private:
  std::string ReadLine() {
    std::string line;
    char c;
    pollfd p{stdout_, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(kPatience.count())) > 0 && ::read(stdout_, &c, 1) == 1) {
      if (c == '\n') break;
      line += c;
    }
    return line;
  }

  TempDir dir_;
  std::string link_, state_;
  pid_t pid_ = -1;
  int stdout_ = -1;
  bool ready_ = false;
};

}  // namespace simtest
