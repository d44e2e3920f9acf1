// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>

namespace kovra::sim {

// Damage on one direction of the line: the first `after` bytes pass, then
// `count` bytes (0: all that follow) are lost, have a bit flipped, or come
// kLateUs late (a USB bridge's burst), the bytes behind them too; kSwap
// exchanges the next two bytes once (the 16-bit sum stays).
// Counting starts when the fault is set.
struct WireFault {
  enum class Kind : uint8_t { kNone, kDrop, kCorrupt, kLate, kSwap };
  static constexpr uint64_t kLateUs = 10'000;
  Kind kind = Kind::kNone;
  uint64_t after = 0;
  uint64_t count = 0;

  bool operator==(const WireFault&) const = default;
};

// Fault switches. Each can be changed at any time and acts from the next
// byte the programmer receives or sends.
struct Faults {
  bool silent = false;                                    // receives nothing, answers nothing, does nothing
  bool answerNo = false;                                  // every verdict and the initialisation verdict is "NO"
  uint8_t voltage = 0;                                    // not 0: chip commands answer 'E' and this code instead
  bool garbage = false;                                   // answers after the frame answer are random bytes
  bool shortAnswer = false;                               // answers after the frame answer lose their last byte
  bool shortFrameAnswer = false;                          // the frame answer has 20 bytes
  std::optional<uint32_t> stopProgressAt = std::nullopt;  // progress ends with this address, then nothing
  bool wrongChecksum = false;                             // checksum words are one too high
  bool dsrStuckOn = false;
  WireFault toHost = {};
  WireFault toDevice = {};

  bool operator==(const Faults&) const = default;
};

}  // namespace kovra::sim
