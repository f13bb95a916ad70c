#include "cli/EventLoop.h"

void TEventLoop::Arm(const void* key, unsigned intervalMs, TTask task) {
  if (intervalMs == 0) {
    Disarm(key);
    return;
  }
  const std::chrono::milliseconds interval(intervalMs);
  timers_[key] = {TClock::now() + interval, interval, std::move(task), ++generation_};
}

void TEventLoop::Disarm(const void* key) { timers_.erase(key); }

void TEventLoop::Post(TTask task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  Wake();
}

bool TEventLoop::RunPosted() {
  TTask task;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (posted_.empty()) return false;
    task = std::move(posted_.front());
    posted_.pop_front();
  }
  task();
  return true;
}

bool TEventLoop::RunDueTimer() {
  const auto now = TClock::now();
  auto next = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it)
    if (it->second.due <= now && (next == timers_.end() || it->second.due < next->second.due))
      next = it;
  if (next == timers_.end()) return false;
  const void* key = next->first;
  const unsigned generation = next->second.generation;
  // The task may arm, disarm or re-bind any timer, this one included.
  TTask task = next->second.task;
  task();
  auto again = timers_.find(key);
  if (again != timers_.end() && again->second.generation == generation)
    again->second.due = TClock::now() + again->second.interval;
  return true;
}

bool TEventLoop::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    if (Interrupted()) return false;
    if (RunPosted() || DispatchPlatformMessage() || RunDueTimer()) continue;
    auto wait = std::chrono::duration_cast<TClock::duration>(std::chrono::hours(1));
    const auto now = TClock::now();
    for (const auto& [key, timer] : timers_) {
      (void)key;
      wait = std::min(wait, timer.due > now ? timer.due - now : TClock::duration::zero());
    }
    WaitForWork(wait);
  }
  return true;
}
