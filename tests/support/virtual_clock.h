#pragma once

#include <atomic>

#include "platform/clock.h"

namespace kovra::test {

// Time that moves only when somebody sleeps.
class VirtualClock : public Clock {
 public:
  uint64_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override { now_ += ms; }
  void Advance(uint64_t ms) { now_ += ms; }

 private:
  std::atomic<uint64_t> now_{0};
};

}  // namespace kovra::test
