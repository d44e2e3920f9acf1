// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/clock.h"

namespace kovra::test {

// Time that moves only when somebody sleeps, kept in microseconds.
// Alarms run on the thread that moves time past them, at their own moment
// (NowUs() reads the alarm's time while it runs), without the clock's lock.
// Sleepers on several threads move time to the latest wake-up among them.
class VirtualClock : public Clock {
 public:
  uint64_t NowMs() override { return now_.load() / 1000; }
  // Virtual time starts at 2026-01-01T00:00:00Z.
  int64_t UtcMs() override { return kEpochMs + static_cast<int64_t>(NowMs()); }
  static constexpr int64_t kEpochMs = 1767225600000;
  void SleepMs(uint32_t ms) override { SleepUs(uint64_t{ms} * 1000); }
  void Advance(uint64_t ms) { SleepUs(ms * 1000); }

  uint64_t NowUs() const { return now_.load(); }
  void SleepUs(uint64_t us) { AdvanceToUs(NowUs() + us); }

  // Never goes back.
  void AdvanceToUs(uint64_t us) {
    while (true) {
      std::function<void()> alarm;
      {
        std::lock_guard lock(mutex_);
        auto first = alarms_.begin();
        if (first == alarms_.end() || first->first.first > us) break;
        Raise(first->first.first);
        alarm = std::move(first->second);
        alarms_.erase(first);
      }
      alarm();
    }
    Raise(us);
  }

  // Runs `alarm` when time reaches `us` (at once on the next move if that
  // moment has passed). Returns an id for Cancel.
  uint64_t CallAt(uint64_t us, std::function<void()> alarm) {
    std::lock_guard lock(mutex_);
    const uint64_t id = nextId_++;
    alarms_.emplace(std::make_pair(us, id), std::move(alarm));
    return id;
  }

  void Cancel(uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(alarms_, [id](const auto& entry) { return entry.first.second == id; });
  }

  std::optional<uint64_t> NextAlarmUs() const {
    std::lock_guard lock(mutex_);
    if (alarms_.empty()) return std::nullopt;
    return alarms_.begin()->first.first;
  }

 private:
  void Raise(uint64_t us) {
    uint64_t now = now_.load();
    while (now < us && !now_.compare_exchange_weak(now, us)) {
    }
  }

  std::atomic<uint64_t> now_{0};
  mutable std::mutex mutex_;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> alarms_;  // by (moment, id)
  uint64_t nextId_ = 1;
};

}  // namespace kovra::test
