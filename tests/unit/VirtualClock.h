// A virtual clock with the dispatch order of a Win32 message loop: posted
// events (received data) due by now come before timer ticks, timers are
// periodic, and nothing is dispatched while a handler runs (a Sleep inside a
// handler only moves the clock on).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

class VirtualClock {
 public:
  using Ms = std::uint64_t;

  Ms Now() const { return now_; }
  void Advance(Ms ms) { now_ += ms; }

  // A one-shot event at time `at` (not before now).
  void Post(Ms at, std::function<void()> event) {
    posted_.emplace(std::make_pair(at < now_ ? now_ : at, seq_++), std::move(event));
  }

  // Starts (or restarts) a periodic timer: first due now + interval.
  void Arm(const void* key, Ms interval, std::function<void()> fire) {
    Timer& t = timers_[key];
    t.interval = interval ? interval : 1;
    t.due = now_ + t.interval;
    t.fire = std::move(fire);
    t.generation = ++generation_;
  }
  void Disarm(const void* key) { timers_.erase(key); }
  bool Armed(const void* key) const { return timers_.count(key) != 0; }
  Ms DueTime(const void* key) const { return timers_.at(key).due; }

  // Dispatches everything due up to `until` in time order, then sets the
  // clock to `until`. Stops early, with the clock where it is, once `stop`
  // returns true after an event.
  void RunUntil(Ms until, const std::function<bool()>& stop = {}) {
    while (true) {
      Ms postedAt = posted_.empty() ? ~Ms(0) : posted_.begin()->first.first;
      const void* timerKey = nullptr;
      Ms timerAt = ~Ms(0);
      for (auto& [key, t] : timers_) {
        if (t.due < timerAt) {
          timerAt = t.due;
          timerKey = key;
        }
      }
      Ms next = postedAt <= timerAt ? postedAt : timerAt;
      if (next == ~Ms(0) || next > until) break;
      if (next > now_) now_ = next;
      if (postedAt <= timerAt) {
        auto event = std::move(posted_.begin()->second);
        posted_.erase(posted_.begin());
        event();
      } else {
        Timer& t = timers_[timerKey];
        std::uint64_t generation = t.generation;
        auto fire = t.fire;
        fire();
        // Re-arm from now unless the handler disarmed or restarted it.
        auto again = timers_.find(timerKey);
        if (again != timers_.end() && again->second.generation == generation)
          again->second.due = now_ + again->second.interval;
      }
      if (stop && stop()) return;
    }
    if (until > now_) now_ = until;
  }
  void RunFor(Ms ms, const std::function<bool()>& stop = {}) { RunUntil(now_ + ms, stop); }

 private:
  struct Timer {
    Ms interval = 0;
    Ms due = 0;
    std::function<void()> fire;
    std::uint64_t generation = 0;
  };
  Ms now_ = 0;
  std::uint64_t seq_ = 0;
  std::uint64_t generation_ = 0;
  std::map<std::pair<Ms, std::uint64_t>, std::function<void()>> posted_;
  std::map<const void*, Timer> timers_;
};
