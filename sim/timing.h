// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace kovra::sim {

// How long the programmer takes for things, in microseconds. Every figure
// stays well inside the answer waits of the host, so a sound host never
// times out on a sound programmer.
struct Timing {
  // The line: 38400 baud, start + 8 data + space parity + stop = 11 bits.
  // A baud of 0 moves bytes without wire time (a pseudo-terminal has none).
  uint32_t baud = 38400;
  uint32_t bitsPerByte = 11;
  // Whether the host's bytes take wire time to arrive. Behind a
  // pseudo-terminal the host's writes return at once and it cannot see
  // DSR: bytes it paced in good time would pile up behind the wire and
  // arrive during a page write. There they arrive as they are written.
  bool hostBytesOnWire = true;

  uint32_t bootUs = 50'000;      // after power-up, input is lost and DSR is on
  uint32_t frameAnswerUs = 500;  // from the last frame byte to the frame answer
  uint32_t frameGapUs = 20'000;  // a frame's bytes further apart than this: cut short
  uint32_t chipAckUs = 10'000;   // supplies switched on and measured before a chip command
  uint32_t memoryAckUs = 1'000;

  uint32_t chipReadByteUs = 20;
  uint32_t chipProgramByteUs = 200;  // program and read back one byte; below one byte's wire time
  uint32_t memoryReadByteUs = 4;
  uint32_t memoryPageWriteUs = 20'000;  // one 256-byte page; DSR is on meanwhile
  uint32_t memoryEraseUs = 2'000'000;   // the whole programming memory
  uint32_t chipEraseUs = 200'000;
  uint32_t chipSettingUs = 50'000;  // SMART, protections
  uint32_t configWriteUs = 50'000;  // offline configuration

  uint32_t streamGapUs = 1'000'000;  // a data stream silent this long has ended
  uint32_t tailGapUs = 5'000;        // padding after a stream follows it within this

  // Least time between two progress addresses. Each is above the host's
  // pause between its reads, so addresses never pile up in its buffer.
  uint32_t chipSumProgressUs = 200'000;
  uint32_t blankProgressUs = 100'000;
  uint32_t verifyProgressUs = 300'000;
  uint32_t programProgressUs = 100'000;
  uint32_t memorySumProgressUs = 100'000;
  uint32_t copyProgressUs = 600'000;

  // Time for `bytes` bytes on the line, rounded up.
  uint64_t WireUs(size_t bytes) const {
    if (baud == 0) return 0;
    return (uint64_t{bytes} * bitsPerByte * 1'000'000 + baud - 1) / baud;
  }

  static Timing Realistic() { return {}; }

  // Real figures for a host behind a pseudo-terminal.
  static Timing RealOnPseudoTerminal() {
    Timing t;
    t.hostBytesOnWire = false;
    return t;
  }

  // For a pseudo-terminal in real time: no wire time, and work fast enough
  // that a host which cannot see DSR and whose writes return at once still
  // finds the programmer ready.
  static Timing Fast() {
    Timing t;
    t.baud = 0;
    t.chipAckUs = 2'000;
    t.chipReadByteUs = 2;
    t.chipProgramByteUs = 20;
    t.memoryReadByteUs = 1;
    t.memoryPageWriteUs = 5'000;
    t.memoryEraseUs = 300'000;
    t.chipEraseUs = 50'000;
    t.chipSettingUs = 20'000;
    t.configWriteUs = 20'000;
    return t;
  }
};

}  // namespace kovra::sim
