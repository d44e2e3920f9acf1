// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/chip.h"
#include "sim/faults.h"
#include "sim/timing.h"
#include "sim/wire_log.h"

namespace kovra::sim {

namespace detail {
class Device;
}

// A simulated Kovra V3.0C programmer: its end of the serial line, its
// programming memory, the chip in its socket and the stored offline
// configuration.
//
// It runs on explicit time (microseconds, on a scale the caller chooses):
// whoever drives it passes the present moment with every call and never goes
// back in time. Nothing happens between calls; each call first lets the
// programmer catch up to the moment given. Safe to call from any thread;
// the callbacks of UpdateChip/UpdateFaults and the log sink run under its
// lock and must not call back into it.
class Programmer {
 public:
  static constexpr uint32_t kMemorySize = 0x100000;
  static constexpr size_t kFrameSize = 21;

  explicit Programmer(Timing timing = Timing::Realistic());
  ~Programmer();
  Programmer(const Programmer&) = delete;
  Programmer& operator=(const Programmer&) = delete;

  // The host's end of the line.
  // Puts bytes on the line at nowUs, after any still on it; returns the
  // moment the last one has reached the programmer.
  uint64_t HostWrite(const uint8_t* data, size_t count, uint64_t nowUs);
  uint64_t TransmitIdleUs() const;
  uint64_t WireUs(size_t bytes) const;
  // Runs the programmer until it has put an answer byte on the line, but not
  // past limitUs; returns when that byte reaches the host (possibly after
  // limitUs), or nothing when no byte was sent by limitUs.
  std::optional<uint64_t> NextOutputTime(uint64_t limitUs);
  // Answer bytes that have reached the host by nowUs, oldest first.
  size_t ReadOutput(uint8_t* data, size_t max, uint64_t nowUs);
  // Drops the answer bytes that have reached the host by nowUs.
  size_t DiscardOutput(uint64_t nowUs);
  bool Dsr(uint64_t nowUs);
  void AdvanceTo(uint64_t nowUs);
  // The next moment something happens, for drivers in real time.
  std::optional<uint64_t> NextWakeUs();

  // The bridge's supply. Power-off loses the command under way and every
  // byte on the line; memory, chip and configuration stay.
  void PowerOff(uint64_t nowUs);
  void PowerOn(uint64_t nowUs);
  bool Powered() const;
  // No command under way and nothing still on its way to the host.
  bool Idle() const;

  Chip GetChip() const;
  void SetChip(Chip chip);
  void UpdateChip(const std::function<void(Chip&)>& change);
  std::vector<uint8_t> ReadMemory(uint32_t address, size_t count) const;
  void WriteMemory(uint32_t address, const std::vector<uint8_t>& bytes);
  uint16_t MemorySum(uint32_t first, uint32_t last) const;
  std::optional<std::array<uint8_t, kFrameSize>> OfflineConfig() const;

  Faults GetFaults() const;
  void SetFaults(const Faults& faults);
  void UpdateFaults(const std::function<void(Faults&)>& change);
  // Random bytes sent at nowUs, unasked.
  void InjectNoise(size_t count, uint64_t nowUs);

  // Protocol misuse seen so far, oldest first.
  std::vector<Violation> Violations() const;
  void ClearViolations();
  // For the line's other parts (the port), which see misuse of their own.
  void NoteViolation(uint64_t nowUs, std::string text);

  std::vector<LogEntry> Log();
  std::string HexLog();
  void KeepLog(bool keep);
  void SetLogSink(std::function<void(const LogEntry&)> sink);

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<detail::Device> device_;
};

}  // namespace kovra::sim
