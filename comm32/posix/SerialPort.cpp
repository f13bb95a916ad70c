#include "comm32/posix/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "comm32/CommLogic.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr char kHeldText[] = "in use by another program";

bool SpeedOf(TBaudRate rate, speed_t& speed) {
  switch (comm32::BaudRateValue(rate)) {
    case 110:
      speed = B110;
      return true;
    case 300:
      speed = B300;
      return true;
    case 600:
      speed = B600;
      return true;
    case 1200:
      speed = B1200;
      return true;
    case 2400:
      speed = B2400;
      return true;
    case 4800:
      speed = B4800;
      return true;
    case 9600:
      speed = B9600;
      return true;
    case 19200:
      speed = B19200;
      return true;
    case 38400:
      speed = B38400;
      return true;
    case 57600:
      speed = B57600;
      return true;
    case 115200:
      speed = B115200;
      return true;
    default:
      return false;  // no standard terminal speed
  }
}

tcflag_t CharacterSize(TDataBits bits) {
  switch (bits) {
    case tdbFive:
      return CS5;
    case tdbSix:
      return CS6;
    case tdbSeven:
      return CS7;
    default:
      return CS8;
  }
}

void Close(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

// What the receive thread's deliveries need on the owner's thread. A delivery
// counts only for the opening (session) that read it.
struct TSerialPort::TShared {
  TPoster post;
  TSerialPort* owner = nullptr;  // owner's thread only
  unsigned session = 0;          // owner's thread only
};

TSerialPort::TSerialPort(std::vector<std::string> devices, TPoster post)
    : devices_(std::move(devices)), shared_(std::make_shared<TShared>()) {
  shared_->post = std::move(post);
  shared_->owner = this;
}

TSerialPort::~TSerialPort() {
  ClosePort();
  shared_->owner = nullptr;
}

std::string TSerialPort::Device() const {
  const unsigned n = FPort;
  return n >= 1 && n <= devices_.size() ? devices_[n - 1] : std::string();
}

bool TSerialPort::Refuse(TRefusal refusal, std::string text) {
  refusal_ = refusal;
  refusalText_ = std::move(text);
  FPortHeld = refusal == TRefusal::Held;
  if (fd_ >= 0) {
    ::ioctl(fd_, TIOCNXCL);
    Close(fd_);
  }
  lock_.Release();
  if (OnRefused) OnRefused();
  return false;
}

bool TSerialPort::OpenPort() {
  if (fd_ >= 0) return false;
  refusal_ = TRefusal::None;
  refusalText_.clear();
  FPortHeld = false;
  const std::string device = Device();
  if (device.empty()) return Refuse(TRefusal::NoDevice, "no device");
  // Before the device is opened: opening it may disturb its holder's call.
  if (lock_.Acquire(lockDirectory_, device) == TUucpLock::TResult::Held)
    return Refuse(TRefusal::Held, kHeldText);

  fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    if (error == ENOENT) return Refuse(TRefusal::Absent, "not present");
    if (error == EBUSY) return Refuse(TRefusal::Held, kHeldText);
    return Refuse(TRefusal::Failed, std::strerror(error));
  }
  if (!::isatty(fd_)) return Refuse(TRefusal::NotTty, "not a terminal device");
  // TIOCEXCL keeps others out, but not the superuser: look for it as well.
  int exclusive = 0;
  if (::ioctl(fd_, TIOCGEXCL, &exclusive) == 0 && exclusive) {
    Close(fd_);  // the mark is the other program's: leave it
    return Refuse(TRefusal::Held, kHeldText);
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    Close(fd_);
    return Refuse(error == EWOULDBLOCK ? TRefusal::Held : TRefusal::Failed,
                  error == EWOULDBLOCK ? kHeldText : std::strerror(error));
  }
  ::ioctl(fd_, TIOCEXCL);
  if (!ApplyLineSettings()) return Refuse(TRefusal::Failed, std::strerror(errno));

  if (::pipe2(stopPipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
    Refuse(TRefusal::Failed, std::strerror(errno));
    throw ECommsError(comm32::kReadThreadError);
  }
  const unsigned session = ++shared_->session;
  try {
    reader_ = std::thread(Receive, fd_, stopPipe_[0], shared_, session);
  } catch (const std::system_error&) {
    Close(stopPipe_[0]);
    Close(stopPipe_[1]);
    Refuse(TRefusal::Failed, "no thread");
    throw ECommsError(comm32::kReadThreadError);
  }
  return true;
}

void TSerialPort::ClosePort() {
  if (fd_ < 0) return;
  const char stop = 1;
  [[maybe_unused]] ssize_t n = ::write(stopPipe_[1], &stop, 1);
  if (reader_.joinable()) reader_.join();
  Close(stopPipe_[0]);
  Close(stopPipe_[1]);
  // Bursts of this opening still on their way are dropped.
  ++shared_->session;
  ::ioctl(fd_, TIOCNXCL);
  Close(fd_);  // releases the flock too
  lock_.Release();
}

bool TSerialPort::WritePort(const void* Buffer, std::uint16_t Length) {
  if (fd_ < 0) return false;
  const char* bytes = static_cast<const char*>(Buffer);
  size_t done = 0;
  // As long as the Win32 component's write time-out allows, at least 50 ms.
  const auto deadline =
      TClock::now() + std::chrono::milliseconds(50 + comm32::kWriteTimeoutPerByteMs * Length);
  while (done < Length) {
    const ssize_t n = ::write(fd_, bytes + done, Length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left.count()));
  }
  return true;
}

bool TSerialPort::PurgeInput() { return fd_ >= 0 && ::tcflush(fd_, TCIFLUSH) == 0; }

void TSerialPort::PropertyChanged(TCommProperty which) {
  switch (which) {
    case TCommProperty::BaudRate:
    case TCommProperty::Parity:
    case TCommProperty::DataBits:
    case TCommProperty::StopBits:
    case TCommProperty::Flags:
      if (fd_ >= 0) ApplyLineSettings();
      break;
    default:
      break;
  }
}

bool TSerialPort::ApplyLineSettings() {
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return false;
  ::cfmakeraw(&t);
  speed_t speed = B115200;
  if (SpeedOf(FBaudRate, speed)) {
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
  }
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | CharacterSize(FDataBits);
  if (FParity != tpNone) t.c_cflag |= PARENB;
  if (FParity == tpOdd || FParity == tpMark) t.c_cflag |= PARODD;
  if (FParity == tpMark) t.c_cflag |= CMSPAR;
  if (FStopBits != tsbOne) t.c_cflag |= CSTOPB;
  if (FFlags.Contains(tfcCtsFlow)) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
  if (FFlags.Contains(tfcOutX)) t.c_iflag |= IXON;
  if (FFlags.Contains(tfcInX)) t.c_iflag |= IXOFF;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

namespace {
// Posts `act` to the owner's thread, where it runs on the port only while the
// opening that read the data (`session`) is still the port's.
template <typename TShared, typename TAct>
void PostToOpening(const std::shared_ptr<TShared>& shared, unsigned session, TAct act) {
  shared->post([weak = std::weak_ptr<TShared>(shared), session, act = std::move(act)] {
    auto s = weak.lock();
    if (s && s->owner && s->session == session) act(*s->owner);
  });
}
}  // namespace

void TSerialPort::Receive(int fd, int stopFd, std::shared_ptr<TShared> shared, unsigned session) {
  const auto interval = std::chrono::milliseconds(comm32::kReadIntervalTimeoutMs);
  const auto deliver = [&](std::string bytes) {
    PostToOpening(shared, session, [bytes = std::move(bytes)](TSerialPort& port) {
      if (const auto& handler = port.OnReceiveData())
        handler(bytes.c_str(), static_cast<std::uint16_t>(bytes.size()));
    });
  };
  const auto hangup = [&] {
    PostToOpening(shared, session, [](TSerialPort& port) {
      if (const auto& handler = port.OnRequestHangup()) handler(&port);
    });
  };

  std::string burst;
  burst.reserve(comm32::kReceiveBufferSize);
  char chunk[4096];
  TClock::time_point last;
  bool gone = false;  // the device has hung up or failed
  for (;;) {
    int timeout = -1;
    if (!burst.empty()) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(last + interval - TClock::now());
      timeout = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {gone ? -1 : fd, POLLIN, 0}};
    const int r = ::poll(fds, 2, timeout);
    if (r < 0 && errno != EINTR) {
      hangup();
      return;
    }
    if (r > 0 && fds[0].revents) return;
    if (r > 0 && fds[1].revents) {
      const size_t room = comm32::kReceiveBufferSize - burst.size();
      const ssize_t n = ::read(fd, chunk, room < sizeof chunk ? room : sizeof chunk);
      if (n > 0) {
        burst.append(chunk, static_cast<size_t>(n));
        last = TClock::now();
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        gone = true;
        hangup();
      }
    }
    if (!burst.empty() &&
        (burst.size() == comm32::kReceiveBufferSize || TClock::now() >= last + interval)) {
      deliver(std::move(burst));
      burst.clear();
      burst.reserve(comm32::kReceiveBufferSize);
    }
  }
}
