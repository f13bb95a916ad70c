// modemsim: an AT modem on a pseudo terminal. See README.md.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>

#include "Modem.h"

namespace {

using Clock = std::chrono::steady_clock;
using modemsim::Behaviour;
using modemsim::Exchange;
using modemsim::Modem;
using modemsim::Profile;

constexpr const char* kUsage =
    "usage: modemsim --link PATH [--state-dir DIR] [--profile FILE] [options]\n"
    "  --ident TEXT        identification line for ATI5\n"
    "  --ath3 TEXT         reply line to ATH3    --ath3-ok   ATH3 answers OK only\n"
    "  --country HEX       current country code\n"
    "  --echo-off          no command echo       --silent    never answer, not even echo\n"
    "  --stored-echo-off   echo off until ATE1   --numeric-codes  numeric codes until ATV1\n"
    "                      (ATZ brings either back)\n"
    "  --keep-country      AT%T19 answers OK, the country stays\n"
    "  --all-error         every command answers ERROR\n"
    "  --error-avv5        AT&V5 answers ERROR   --error-ati9  ATI9 answers ERROR\n"
    "  --refuse-country    AT%T19 answers ERROR  --country-reply WORD  AT%T19 answers WORD\n"
    "                      (the country changes only when WORD is OK)\n"
    "  --delay-ms N        reply N ms after the echo\n"
    "  --slow-ms N         echo and reply N ms after the command\n"
    "  --nul-bytes         a zero byte at the start of every reply line\n"
    "  --unterminated      final result code without its CR LF\n"
    "  --flood-bytes N     N bytes of garbage after a reply (--flood-after K, default 1)\n"
    "  --garbage-every K   a garbage burst after every K-th reply (--garbage-bytes N, 16)\n"
    "  --hangup-after N    after answering N commands the device vanishes\n";

struct Config {
  std::string link, state_dir, profile_file;
  Profile profile = Profile::Default();
  Behaviour behaviour;
  int delay_ms = 0, slow_ms = 0;
};

[[noreturn]] void Fail(const std::string& message, int code = 2) {
  std::cerr << "modemsim: " << message << "\n";
  std::exit(code);
}

unsigned long Number(const std::string& option, const std::string& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-')
    Fail(option + " needs a number, got '" + value + "'");
  return n;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("can not read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Config ParseArgs(int argc, char** argv) {
  Config c;
  // The profile file first, so that flags override it wherever they stand.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--profile" && i + 1 < argc) c.profile_file = argv[i + 1];
    if (a.rfind("--profile=", 0) == 0) c.profile_file = a.substr(10);
  }
  if (!c.profile_file.empty()) {
    const std::string error = modemsim::ApplyProfileText(ReadFile(c.profile_file), c.profile);
    if (!error.empty()) Fail(c.profile_file + ": " + error);
  }
  std::string country;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i], value;
    const auto eq = opt.find('=');
    const bool inline_value = opt.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inline_value) {
      value = opt.substr(eq + 1);
      opt.resize(eq);
    }
    auto arg = [&]() -> const std::string& {
      if (!inline_value) {
        if (i + 1 >= argc) Fail(opt + " needs a value");
        value = argv[++i];
      }
      return value;
    };
    Behaviour& b = c.behaviour;
    if (opt == "--help" || opt == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (opt == "--link") {
      c.link = arg();
    } else if (opt == "--state-dir") {
      c.state_dir = arg();
    } else if (opt == "--profile") {
      arg();
    } else if (opt == "--ident") {
      c.profile.ident = {arg()};
    } else if (opt == "--ath3") {
      c.profile.ath3 = arg();
    } else if (opt == "--ath3-ok") {
      c.profile.ath3.clear();
    } else if (opt == "--country") {
      country = arg();
    } else if (opt == "--echo-off") {
      b.echo = false;
    } else if (opt == "--stored-echo-off") {
      c.profile.echo = false;
    } else if (opt == "--numeric-codes") {
      c.profile.verbose = false;
    } else if (opt == "--keep-country") {
      b.keep_country = true;
    } else if (opt == "--silent") {
      b.silent = true;
    } else if (opt == "--all-error") {
      b.all_error = true;
    } else if (opt == "--error-avv5") {
      b.error_avv5 = true;
    } else if (opt == "--error-ati9") {
      b.error_ati9 = true;
    } else if (opt == "--refuse-country") {
      b.country_reply = "ERROR";
    } else if (opt == "--country-reply") {
      b.country_reply = arg();
      if (b.country_reply.empty()) Fail("--country-reply needs a word");
    } else if (opt == "--nul-bytes") {
      b.nul_bytes = true;
    } else if (opt == "--unterminated") {
      b.unterminated = true;
    } else if (opt == "--delay-ms") {
      c.delay_ms = static_cast<int>(Number(opt, arg()));
    } else if (opt == "--slow-ms") {
      c.slow_ms = static_cast<int>(Number(opt, arg()));
    } else if (opt == "--flood-bytes") {
      b.flood_bytes = Number(opt, arg());
    } else if (opt == "--flood-after") {
      b.flood_after = static_cast<unsigned>(Number(opt, arg()));
    } else if (opt == "--garbage-every") {
      b.garbage_every = static_cast<unsigned>(Number(opt, arg()));
    } else if (opt == "--garbage-bytes") {
      b.garbage_bytes = Number(opt, arg());
    } else if (opt == "--hangup-after") {
      b.hangup_after = static_cast<unsigned>(Number(opt, arg()));
    } else {
      Fail("unknown option '" + opt + "'\n" + kUsage);
    }
  }
  if (c.link.empty()) Fail(std::string("--link is required\n") + kUsage);
  if (!country.empty()) {
    const auto code = modemsim::ParseHexCode(country);
    if (!code) Fail("--country needs 1 or 2 hex digits");
    c.profile.country = *code;
  }
  if (c.profile.countries.empty()) Fail("the country table is empty");
  if (!c.profile.Find(c.profile.country))
    Fail("country " + modemsim::FormatHexCode(c.profile.country) + " is not in the table");
  return c;
}

// Closes a descriptor on scope exit.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    Reset(other.fd_);
    other.fd_ = -1;
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Files in --state-dir that a test reads: received (raw bytes), sent (raw
// bytes), commands (one line per command) and country (hex code).
class StateFiles {
 public:
  explicit StateFiles(std::string dir) : dir_(std::move(dir)) {
    if (dir_.empty()) return;
    ::mkdir(dir_.c_str(), 0755);
    received_.Reset(Open("received"));
    sent_.Reset(Open("sent"));
    commands_.Reset(Open("commands"));
  }
  void Received(const std::string& bytes) { Append(received_, bytes); }
  void Sent(const std::string& bytes) { Append(sent_, bytes); }
  void Command(const std::string& line) { Append(commands_, line + "\n"); }
  void Country(unsigned code) { Replace("country", modemsim::FormatHexCode(code) + "\n"); }
  void Line(bool open) { Replace("line", open ? "open\n" : "closed\n"); }

 private:
  // Writes a small file whole, so a reader never sees it half written.
  void Replace(const char* name, const std::string& text) {
    if (dir_.empty()) return;
    const std::string path = dir_ + "/" + name, tmp = path + ".tmp";
    {
      Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      if (fd.get() < 0 || !WriteAll(fd.get(), text)) Fail("can not write " + tmp, 1);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) Fail("can not rename " + tmp, 1);
  }

  int Open(const char* name) {
    const std::string path = dir_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) Fail("can not create " + path, 1);
    return fd;
  }
  void Append(const Fd& fd, const std::string& bytes) {
    if (fd.get() >= 0 && !WriteAll(fd.get(), bytes)) Fail("can not write to " + dir_, 1);
  }

  std::string dir_;
  Fd received_, sent_, commands_;
};

int signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 0;
  const ssize_t ignored = ::write(signal_pipe[1], &c, 1);
  (void)ignored;
}

class Server {
 public:
  explicit Server(Config config)
      : config_(std::move(config)),
        modem_(config_.profile, config_.behaviour),
        state_(config_.state_dir) {}

  int Run() {
    Open();
    state_.Country(modem_.country());
    Publish();
    std::cout << "ready " << slave_path_ << std::endl;
    Loop();
    Unpublish();
    return 0;
  }

 private:
  struct Pending {
    Clock::time_point due;
    std::string bytes;
    bool hang_up = false;
  };

  void Open() {
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
      Fail(std::string("openpty: ") + std::strerror(errno), 1);
    master_.Reset(master);
    slave_path_ = name;
    for (int fd : {master, slave}) {
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::cfsetispeed(&t, B115200);
      ::cfsetospeed(&t, B115200);
      ::tcsetattr(fd, TCSANOW, &t);
    }
    // The line settings stay with the pty while the master is open.
    ::close(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // While no client has the device open, the master only reports a hang-up;
    // an open of the device node is what ends that wait.
    notify_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (notify_.get() >= 0 && ::inotify_add_watch(notify_.get(), name, IN_OPEN) < 0)
      notify_.Reset();
  }

  Fd OpenSlave() const {
    return Fd(::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  }

  void Publish() {
    struct stat st {};
    if (::lstat(config_.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
      Fail(config_.link + " exists and is not a symbolic link", 1);
    const std::string tmp = config_.link + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(slave_path_.c_str(), tmp.c_str()) != 0 ||
        ::rename(tmp.c_str(), config_.link.c_str()) != 0)
      Fail("can not create " + config_.link + ": " + std::strerror(errno), 1);
  }

  // Removes the link unless another instance has taken it over meanwhile.
  void Unpublish() {
    char target[256] = {};
    const ssize_t n = ::readlink(config_.link.c_str(), target, sizeof target - 1);
    if (n > 0 && slave_path_ == std::string(target, static_cast<std::size_t>(n)))
      ::unlink(config_.link.c_str());
  }

  void Loop() {
    for (;;) {
      CheckClients();
      pollfd fds[3] = {{signal_pipe[0], POLLIN, 0},
                       {notify_.get(), POLLIN, 0},
                       {listening_ ? master_.get() : -1, POLLIN, 0}};
      if (!out_.empty()) fds[2].events |= POLLOUT;
      int timeout = -1;
      if (!queue_.empty()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(queue_.front().due -
                                                                                Clock::now());
        timeout = wait.count() < 0 ? 0 : static_cast<int>(wait.count()) + 1;
      }
      if (hang_up_ || !listening_) timeout = timeout < 0 ? 20 : std::min(timeout, 20);
      if (::poll(fds, 3, timeout) < 0 && errno != EINTR) Fail("poll failed", 1);
      if (fds[0].revents) return;
      if (fds[1].revents) {
        alignas(inotify_event) char buf[4096];
        while (::read(notify_.get(), buf, sizeof buf) > 0) {
        }
      }
      if (fds[2].revents & POLLIN) ReadCommands();
      Release();
      if (!out_.empty()) Flush();
      if (hang_up_ && (Drained() || Clock::now() > hang_up_deadline_)) return;
    }
  }

  // The master reports a hang-up exactly while no client has the device open.
  void CheckClients() {
    pollfd p{master_.get(), 0, 0};
    const bool hung_up = ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    if (hung_up && listening_) {
      // The last client has gone. What it wrote is still answered (into the
      // void); what it did not read is lost, as on a real line.
      while (ReadCommands()) {
      }
      Fd slave = OpenSlave();
      ::tcflush(slave.get(), TCIFLUSH);
      out_.clear();
      for (auto& pending : queue_) pending.bytes.clear();
    }
    if (listening_ == hung_up) state_.Line(!hung_up);
    listening_ = !hung_up;
  }

  bool ReadCommands() {
    char buf[4096];
    const ssize_t n = ::read(master_.get(), buf, sizeof buf);
    if (n <= 0) return false;
    const std::string bytes(buf, static_cast<std::size_t>(n));
    state_.Received(bytes);
    const auto now = Clock::now();
    for (Exchange& ex : modem_.Receive(bytes)) {
      if (!ex.command.empty()) state_.Command(ex.command);
      if (ex.country_changed) state_.Country(modem_.country());
      const auto echo_at = now + std::chrono::milliseconds(config_.slow_ms);
      Schedule(echo_at, std::move(ex.echo), false);
      Schedule(echo_at + std::chrono::milliseconds(config_.delay_ms), ex.reply + ex.extra,
               ex.hang_up);
    }
    return true;
  }

  void Schedule(Clock::time_point due, std::string bytes, bool hang_up) {
    if (!bytes.empty() || hang_up) queue_.push_back({due, std::move(bytes), hang_up});
  }

  // Moves what is due into the output buffer.
  void Release() {
    const auto now = Clock::now();
    while (!queue_.empty() && queue_.front().due <= now) {
      if (listening_) out_ += queue_.front().bytes;
      if (queue_.front().hang_up) {
        hang_up_ = true;
        drain_probe_ = OpenSlave();
        hang_up_deadline_ = now + kHangUpPatience;
        queue_.clear();
        return;
      }
      queue_.pop_front();
    }
  }

  void Flush() {
    const ssize_t n = ::write(master_.get(), out_.data(), out_.size());
    if (n > 0) {
      last_write_ = Clock::now();
      state_.Sent(out_.substr(0, static_cast<std::size_t>(n)));
      out_.erase(0, static_cast<std::size_t>(n));
    }
  }

  // Closing the master flushes the client's input, so a hang-up waits until
  // the last reply has been read (or the client has not read for
  // kHangUpPatience). Bytes written to the master reach the slave's input
  // queue through a kernel work item, which a busy machine may run late: an
  // empty queue counts only once kFlipSettle has passed since the last write.
  bool Drained() const {
    if (!out_.empty()) return false;
    if (!listening_) return true;
    int unread = 0;
    return Clock::now() - last_write_ >= kFlipSettle &&
           ::ioctl(drain_probe_.get(), FIONREAD, &unread) == 0 && unread == 0;
  }

  static constexpr std::chrono::milliseconds kFlipSettle{250};
  static constexpr std::chrono::seconds kHangUpPatience{10};

  Config config_;
  Modem modem_;
  StateFiles state_;
  Fd master_, notify_, drain_probe_;
  std::string slave_path_;
  bool listening_ = false;
  std::deque<Pending> queue_;
  std::string out_;
  bool hang_up_ = false;
  Clock::time_point hang_up_deadline_;
  Clock::time_point last_write_;
};

}  // namespace

int main(int argc, char** argv) {
  Config config = ParseArgs(argc, argv);
  if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe failed", 1);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return Server(std::move(config)).Run();
}
