// Receive timing of the POSIX serial port (comm32/posix/SerialPort.h) on a pty:
// each burst, written in three pieces 40 ms apart, must reach OnReceiveData
// once and whole, 250 +- 30 ms after its last byte. Run by
// bench/serialport.sh; exits non-zero when a burst misses that.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/EventLoop.h"
#include "comm32/posix/SerialPort.h"

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const int bursts = argc > 1 ? std::atoi(argv[1]) : 20;
  int master = -1, slave = -1;
  char name[256] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return 2;
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  ::close(slave);

  TEventLoop loop;
  TSerialPort port({name}, [&loop](TSerialPort::TTask task) { loop.Post(std::move(task)); });
  char locks[] = "/tmp/serialport_bench.XXXXXX";  // not the machine's /var/lock
  if (!::mkdtemp(locks)) return 2;
  port.SetLockDirectory(locks);
  std::vector<std::pair<Clock::time_point, std::string>> deliveries;
  port.SetOnReceiveData([&](const void* buffer, std::uint16_t length) {
    deliveries.emplace_back(Clock::now(), std::string(static_cast<const char*>(buffer), length));
  });
  port.SetBaudRate(tbr115200);
  port.SetPort(tptOne);
  if (!port.OpenPort()) {
    std::printf("cannot open %s: %s\n", name, port.RefusalText().c_str());
    return 2;
  }

  const std::string piece = "\r\nFAXLINK 336 V.34 Data/Fax\r\n";
  std::vector<double> delays;
  int wrong = 0;
  for (int b = 0; b < bursts; ++b) {
    deliveries.clear();
    for (int p = 0; p < 3; ++p) {
      if (p) std::this_thread::sleep_for(std::chrono::milliseconds(40));
      if (::write(master, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size()))
        return 2;
    }
    const auto last = Clock::now();
    // The burst, and then long enough for a second delivery to show.
    bool over = false;
    loop.Arm(&over, 700, [&] { over = true; });
    loop.RunUntil([&] { return over; });
    loop.Disarm(&over);
    const bool once = deliveries.size() == 1 && deliveries[0].second == piece + piece + piece;
    if (!once) ++wrong;
    if (!deliveries.empty())
      delays.push_back(
          std::chrono::duration<double, std::milli>(deliveries[0].first - last).count());
  }
  port.ClosePort();
  ::close(master);
  ::rmdir(locks);

  std::sort(delays.begin(), delays.end());
  const bool inTime = !delays.empty() && delays.front() >= 220 && delays.back() <= 280;
  std::printf("%s bursts %d, delivered once and whole %d\n", wrong ? "FAIL" : "ok", bursts,
              bursts - wrong);
  if (!delays.empty())
    std::printf(
        "%s delay after the last byte: min %.1f ms, median %.1f ms, max %.1f ms "
        "(target 250 +- 30)\n",
        inTime ? "ok" : "FAIL", delays.front(), delays[delays.size() / 2], delays.back());
  return wrong == 0 && inTime ? 0 : 1;
}
