// Receive benchmark of TComm32 under Wine against bench/ptyfeed.py on COM8.
// Prints "key value" lines.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comm32/win/Comm32.h"

namespace {

double Seconds() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// utime + stime of a Linux process in seconds, read through drive Z:.
double LinuxCpuSeconds(const std::string& pid) {
  std::ifstream in("Z:\\proc\\" + pid + "\\stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / 100.0;  // USER_HZ
}

// CPU time of this process (all its threads).
double SelfCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

void Pump(double untilSeconds) {
  for (double now; (now = Seconds()) < untilSeconds;) {
    const DWORD ms = static_cast<DWORD>((untilSeconds - now) * 1000) + 1;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

template <class Cond>
bool PumpUntil(Cond cond, double timeout) {
  const double end = Seconds() + timeout;
  while (!cond()) {
    if (Seconds() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t stream = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4u << 20;
  const double idleSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  const char* server = std::getenv("BENCH_WINESERVER_PID");
  if (server != nullptr && *server == '\0') server = nullptr;
  std::printf("wineserver_pid %s\n", server ? server : "unknown");

  TComm32 comm;
  comm.SetBaudRate(tbr115200);
  comm.SetSLevel(argc > 3 ? static_cast<std::uint16_t>(std::atoi(argv[3])) : 0);
  std::size_t received = 0;
  std::size_t deliveries = 0;
  std::size_t mismatches = 0;
  double lastDelivery = 0;
  // Checks each byte of the stream against the simulator's pattern.
  const TReceiveDataEvent checkStream = [&](const void* buffer, std::uint16_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(buffer);
    for (std::uint16_t i = 0; i < length; ++i) {
      if (received >= stream || p[i] != (received % (251 * 64)) % 251) ++mismatches;
      ++received;
    }
    if (length != 0) ++deliveries;
    lastDelivery = Seconds();
  };
  comm.SetOnReceiveData(checkStream);
  comm.SetPort(tptEight);
  if (!comm.OpenPort()) {
    std::printf("error cannot open COM8\n");
    return 1;
  }

  // Idle port.
  const double idleCpu0 = SelfCpuSeconds();
  const double idleServer0 = server ? LinuxCpuSeconds(server) : 0;
  const double idleStart = Seconds();
  Pump(idleStart + idleSeconds);
  const double idleElapsed = Seconds() - idleStart;
  std::printf("idle_seconds %.2f\n", idleElapsed);
  std::printf("idle_cpu_percent %.3f\n", 100 * (SelfCpuSeconds() - idleCpu0) / idleElapsed);
  if (server) {
    std::printf("idle_wineserver_cpu_percent %.3f\n",
                100 * (LinuxCpuSeconds(server) - idleServer0) / idleElapsed);
  }

  // Latency of a short reply: from the request to the delivery, minus nothing
  // (the request and the reply each take about a millisecond).
  std::vector<double> latencies;
  for (int i = 0; i < 5; ++i) {
    received = 0;
    mismatches = 0;
    comm.SetOnReceiveData([&](const void*, std::uint16_t length) {
      received += length;
      lastDelivery = Seconds();
    });
    const double t0 = Seconds();
    comm.WritePort("L", 1);
    if (!PumpUntil([&] { return received >= 27; }, 5)) break;
    latencies.push_back((lastDelivery - t0) * 1000);
    Pump(Seconds() + 0.3);
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    std::printf("latency_ms_min %.1f\n", latencies.front());
    std::printf("latency_ms_median %.1f\n", latencies[latencies.size() / 2]);
    std::printf("latency_ms_max %.1f\n", latencies.back());
  }

  // The stream.
  received = 0;
  mismatches = 0;
  deliveries = 0;
  comm.SetOnReceiveData(checkStream);
  const double cpu0 = SelfCpuSeconds();
  const double server0 = server ? LinuxCpuSeconds(server) : 0;
  const double t0 = Seconds();
  comm.WritePort("S", 1);
  const bool complete = PumpUntil([&] { return received >= stream; }, 120);
  const double elapsed = lastDelivery - t0;
  const double cpu = SelfCpuSeconds() - cpu0;
  const double serverCpu = server ? LinuxCpuSeconds(server) - server0 : 0;
  std::printf("stream_complete %d\n", complete ? 1 : 0);
  std::printf("stream_bytes %zu\n", received);
  std::printf("stream_mismatches %zu\n", mismatches);
  std::printf("stream_deliveries %zu\n", deliveries);
  std::printf("stream_seconds %.3f\n", elapsed);
  std::printf("wine_mib_per_s %.2f\n", static_cast<double>(received) / elapsed / 1048576);
  std::printf("stream_cpu_percent %.1f\n", 100 * cpu / elapsed);
  if (server) std::printf("stream_wineserver_cpu_percent %.1f\n", 100 * serverCpu / elapsed);

  comm.WritePort("Q", 1);
  Pump(Seconds() + 0.2);
  comm.ClosePort();
  return complete && mismatches == 0 ? 0 : 1;
}
