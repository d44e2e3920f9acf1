// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace kovra {

// Every wait and every "now" of the logic goes through here, so that tests
// run the programmer's timing in virtual time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() = 0;
  // The calendar time (milliseconds since 1970-01-01 UTC), for time stamps.
  virtual int64_t UtcMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

}  // namespace kovra
