// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/line.h"
#include "link/registry_port_map.h"
#include "support/observed_port.h"
#include "support/sim_serial_port.h"
#include "support/virtual_clock.h"

namespace kovra::bench {

// The chip the line benchmarks program: KV86C08, 8 KiB of OTP.
inline constexpr uint32_t kCodeSize = 0x2000;
inline constexpr const char* kChipList = "NOSELEC     OTP   0   VCC   5V   1\nKV86C08     OTP   0   12V   5V   1\n";

// Their code, the same every time.
inline std::vector<uint8_t> Code() {
  std::vector<uint8_t> code(kCodeSize);
  for (uint32_t a = 0; a < kCodeSize; ++a) code[a] = static_cast<uint8_t>((a * 7 + 3) & 0xFF);
  return code;
}

// The host's side of a pseudo-terminal: a write returns as soon as the
// bytes are handed over, the output counts as drained at once, and there
// are no modem lines, so DSR reads as off.
class PseudoTerminal : public test::ObservedPort {
 public:
  using ObservedPort::ObservedPort;
  bool GetModemStatus(uint32_t&) override { return false; }
  bool ArmTransmitEmpty() override { return IsOpen(); }
  bool WaitTransmitEmpty(uint32_t) override { return IsOpen(); }
};

// One programmer as kovra-sim --timing real runs it: its answers at 38400
// baud, the host's bytes in as they are written (the bridge takes a whole
// write at once), a blank chip of kCodeSize in the socket; in virtual time.
struct SimOnPty {
  SimOnPty() : rig(clock, registry, {.comName = "COM5", .transmitFifo = 1 << 20}, sim::Timing::RealOnPseudoTerminal()) {
    rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, kCodeSize));
  }
  cli::StationPort Port() { return {rig.bridge.ComName(), &pty, &map, &clock}; }

  test::VirtualClock clock;
  MemoryRegistry registry;
  test::SimRig rig;
  PseudoTerminal pty{rig.port};
  RegistryPortMap map{registry};
};

// A line's output that shows nothing; nextChip says whether another chip follows.
inline cli::LineOutput QuietLine(std::function<bool()> nextChip) {
  return {.result = [](const std::string&, const cli::Result&) {},
          .status = [](const std::string&, const std::string&) {},
          .progress = [](const std::string&, const ProgressEvent&) {},
          .message = [](const std::string&, const std::string&, const std::string&) {},
          .nextChip = std::move(nextChip)};
}

}  // namespace kovra::bench
