// The program's event loop: repeating timers and tasks posted from other
// threads, all run on the thread that calls Run. Posted tasks go before due
// timers, as posted messages go before timer messages in a window's queue.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class TEventLoop {
 public:
  using TClock = std::chrono::steady_clock;
  using TTask = std::function<void()>;

  TEventLoop();
  ~TEventLoop();
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  // Starts (or restarts) the count of the timer `key`: `task` runs every
  // intervalMs until the timer is disarmed. An interval of 0 disarms it.
  void Arm(const void* key, unsigned intervalMs, TTask task);
  void Disarm(const void* key);

  // Any thread: `task` runs on the loop's thread, in the order posted.
  void Post(TTask task);

  // Runs tasks and timers until `done` holds (checked after each of them),
  // or an interrupt (Ctrl-C, SIGTERM) arrives; false for an interrupt.
  bool RunUntil(const std::function<bool()>& done);

  // Routes Ctrl-C and termination requests to the loop (set once).
  static void CatchInterrupts();
  static bool Interrupted();

 private:
  struct TTimerEntry {
    TClock::time_point due;
    std::chrono::milliseconds interval;
    TTask task;
    unsigned generation = 0;
  };

  bool RunPosted();
  bool RunDueTimer();
  // Platform part: handles one message of the platform's queue for this
  // thread, if there is one; waits until something is posted, a platform
  // message arrives or `wait` has passed.
  bool DispatchPlatformMessage();
  void WaitForWork(TClock::duration wait);
  void Wake();  // any thread (platform part)

  std::map<const void*, TTimerEntry> timers_;
  unsigned generation_ = 0;
  std::mutex mutex_;
  std::deque<TTask> posted_;
  struct TPlatform;
  std::unique_ptr<TPlatform> platform_;
};
