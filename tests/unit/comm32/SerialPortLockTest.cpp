// The POSIX port and UUCP lock files, on a pty with a lock directory of the
// test's own: what OpenPort does with each kind of lock it finds, and that
// no lock of ours outlives the port's use.
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "comm32/posix/SerialPort.h"
#include "gtest/gtest.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string PidText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The id of a process that has ended.
pid_t GonePid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

class SerialPortLock : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/uucplock_test.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    locks_ = dir_ + "/lock";
    ASSERT_EQ(::mkdir(locks_.c_str(), 0755), 0);
    char name[256] = {};
    int slave = -1;
    ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    pts_ = name;  // /dev/pts/N
    link_ = dir_ + "/modem";
    ASSERT_EQ(::symlink(name, link_.c_str()), 0);
    lockFile_ = locks_ + "/LCK..pts_" + pts_.substr(pts_.rfind('/') + 1);
  }
  void TearDown() override {
    ::close(master_);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  std::string dir_, locks_, pts_, link_, lockFile_;
  int master_ = -1;
};

TEST_F(SerialPortLock, OpensOnlyWhatNoOtherProgramHolds) {
  enum class TFound { None, Living, Stale, Garbage, Unreadable, LivingOnLinkName, Flock };
  struct TRow {
    const char* name;
    TFound found;
    bool opens;
  };
  const TRow rows[] = {
      {"no lock", TFound::None, true},
      {"lock of a living process", TFound::Living, false},
      {"stale lock", TFound::Stale, true},
      {"lock naming no process", TFound::Garbage, false},
      {"lock file unreadable", TFound::Unreadable, false},
      {"living process locked the link's name", TFound::LivingOnLinkName, false},
      {"flock of another program", TFound::Flock, false},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string linkLock = locks_ + "/LCK..modem";
    const pid_t living = ::getppid();
    std::string found;  // what the lock file holds before
    int holder = -1;
    switch (row.found) {
      case TFound::None:
        break;
      case TFound::Living:
        found = PidText(living);
        break;
      case TFound::Stale:
        found = PidText(GonePid());
        break;
      case TFound::Garbage:
        found = "modem\n";
        break;
      case TFound::Unreadable:
        ASSERT_EQ(::mkdir(lockFile_.c_str(), 0755), 0);
        break;
      case TFound::LivingOnLinkName:
        std::ofstream(linkLock) << PidText(living);
        break;
      case TFound::Flock:
        holder = ::open(pts_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        break;
    }
    if (!found.empty()) std::ofstream(lockFile_) << found;

    {
      TSerialPort port({link_}, [](TSerialPort::TTask) {});
      port.SetLockDirectory(locks_);
      port.SetPort(tptOne);
      EXPECT_EQ(port.OpenPort(), row.opens) << port.RefusalText();
      EXPECT_EQ(port.PortHeld(), !row.opens);
      if (row.opens) {
        EXPECT_EQ(Slurp(lockFile_), PidText(::getpid()));
        port.ClosePort();
        EXPECT_FALSE(Exists(lockFile_)) << "our lock outlived ClosePort";
        // Opened again and left to the destructor.
        EXPECT_TRUE(port.OpenPort());
        EXPECT_TRUE(Exists(lockFile_));
      } else {
        EXPECT_EQ(port.Refusal(), TSerialPort::TRefusal::Held);
        EXPECT_EQ(port.RefusalText(), "in use by another program");
        if (found.empty() && row.found != TFound::Unreadable) {
          EXPECT_FALSE(Exists(lockFile_)) << "a refused port keeps our lock";
        }
      }
    }
    // Another program's lock stays as it was; none of ours is left.
    if (row.found == TFound::Unreadable) {
      EXPECT_TRUE(Exists(lockFile_));
      ::rmdir(lockFile_.c_str());
    } else if (row.opens || found.empty()) {
      EXPECT_FALSE(Exists(lockFile_)) << "our lock outlived the port";
    } else {
      EXPECT_EQ(Slurp(lockFile_), found);
    }
    if (row.found == TFound::LivingOnLinkName) {
      EXPECT_EQ(Slurp(linkLock), PidText(living));
      ::unlink(linkLock.c_str());
    }
    ::unlink(lockFile_.c_str());
    if (holder >= 0) ::close(holder);
  }
}

// Without a lock directory that can take our lock the port still opens,
// guarded by flock and TIOCEXCL alone.
TEST_F(SerialPortLock, OpensWithoutALockDirectory) {
  TSerialPort port({link_}, [](TSerialPort::TTask) {});
  port.SetLockDirectory(dir_ + "/none");
  port.SetPort(tptOne);
  EXPECT_TRUE(port.OpenPort()) << port.RefusalText();
  EXPECT_FALSE(Exists(dir_ + "/none"));
}

TEST(UucpLockName, IsTheDevicePathBelowDev) {
  EXPECT_EQ(TUucpLock::FileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(TUucpLock::FileName("/dev/pts/3"), "LCK..pts_3");
  EXPECT_EQ(TUucpLock::FileName("/tmp/x/modem"), "LCK..modem");
  EXPECT_EQ(TUucpLock::FileName("ttyS1"), "LCK..ttyS1");
}

}  // namespace
