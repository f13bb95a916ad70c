// The loop's waiting on POSIX: poll on a self-pipe that posts and signals
// write to.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "cli/EventLoop.h"

namespace {

volatile sig_atomic_t gInterrupted = 0;
// Write end of the running loop's pipe, for the signal handler.
std::atomic<int> gWakeFd{-1};

void WakeFd(int fd) {
  if (fd < 0) return;
  const char byte = 1;
  // A full pipe already wakes the loop.
  [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
}

void OnSignal(int) {
  gInterrupted = 1;
  WakeFd(gWakeFd.load());
}

}  // namespace

struct TEventLoop::TPlatform {
  int pipe[2] = {-1, -1};
};

TEventLoop::TEventLoop() : platform_(std::make_unique<TPlatform>()) {
  if (::pipe2(platform_->pipe, O_NONBLOCK | O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe");
  gWakeFd.store(platform_->pipe[1]);
}

TEventLoop::~TEventLoop() {
  int expected = platform_->pipe[1];
  gWakeFd.compare_exchange_strong(expected, -1);
  ::close(platform_->pipe[0]);
  ::close(platform_->pipe[1]);
}

void TEventLoop::Wake() { WakeFd(platform_->pipe[1]); }

bool TEventLoop::DispatchPlatformMessage() { return false; }

void TEventLoop::WaitForWork(TClock::duration wait) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  pollfd fd{platform_->pipe[0], POLLIN, 0};
  if (::poll(&fd, 1, static_cast<int>(ms)) > 0) {
    char drain[64];
    while (::read(platform_->pipe[0], drain, sizeof drain) > 0) {
    }
  }
}

void TEventLoop::CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool TEventLoop::Interrupted() { return gInterrupted != 0; }
