// SPDX-License-Identifier: MIT
#pragma once

// Bare-bones host side for the emulator's own tests: raw frames and reads on
// a SerialPort with the time-outs and waits the host uses, nothing more.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory_registry.h"
#include "platform/serial_port.h"
#include "support/sim_serial_port.h"
#include "support/virtual_clock.h"

namespace kovra::test {

struct FrameFields {
  uint8_t code = 0x01;
  uint32_t start = 0;
  uint32_t end = 0;
  uint16_t checksum = 0;
  uint8_t chipType = 1;
  uint8_t options = 0x25;
  uint8_t supply = 0x41;  // 5.0 V supply, 12 V programming voltage
  uint8_t byte10 = 1;
};

inline std::array<uint8_t, 21> MakeFrame(const FrameFields& f) {
  std::array<uint8_t, 21> b{};
  b[0] = 'S';
  b[1] = 'T';
  b[2] = 'A';
  b[3] = 'R';
  b[4] = f.chipType;
  b[5] = f.options;
  b[6] = static_cast<uint8_t>(f.end >> 8);
  b[7] = static_cast<uint8_t>(f.end);
  b[8] = static_cast<uint8_t>(f.checksum >> 8);
  b[9] = static_cast<uint8_t>(f.checksum);
  b[10] = f.byte10;
  b[11] = f.supply;
  b[16] = static_cast<uint8_t>(f.start >> 16);
  b[17] = static_cast<uint8_t>(f.start >> 8);
  b[18] = static_cast<uint8_t>(f.start);
  b[19] = static_cast<uint8_t>(f.end >> 16);
  b[20] = f.code;
  return b;
}

inline uint16_t Sum16(const std::vector<uint8_t>& bytes, size_t first = 0, size_t count = SIZE_MAX) {
  uint32_t sum = 0;
  for (size_t i = first; i < bytes.size() && i - first < count; ++i) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

inline std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class RawHost {
 public:
  RawHost(SerialPort& port, VirtualClock& clock) : port_(port), clock_(clock) {}

  bool Open(std::string_view name = "COM5") {
    if (!port_.Open(name)) return false;
    port_.SetQueues(65536, 65536);
    port_.SetTimeouts({2, 2, 50, 2, 50});
    return port_.Configure({Baud::k38400, Parity::kSpace, DataBits::k8, StopBits::kOne, true, false});
  }

  // Purge, the frame, drained, 50 ms, then the 21-byte answer.
  std::vector<uint8_t> Exchange(const FrameFields& fields) {
    port_.Purge();
    SendFrame(fields);
    clock_.SleepMs(50);
    return ReadBytes(21);
  }

  void SendFrame(const FrameFields& fields) {
    const auto frame = MakeFrame(fields);
    port_.ArmTransmitEmpty();
    Write(std::vector<uint8_t>(frame.begin(), frame.end()));
    port_.WaitTransmitEmpty(1000);
  }

  size_t Write(const std::vector<uint8_t>& bytes) { return port_.Write(bytes.data(), bytes.size()).count; }

  // Reads of at most 16 bytes until `count` came or one read brought none.
  std::vector<uint8_t> ReadBytes(size_t count) {
    std::vector<uint8_t> out(count);
    size_t got = 0;
    while (got < count) {
      const size_t n = port_.Read(out.data() + got, std::min<size_t>(16, count - got)).count;
      if (n == 0) break;
      got += n;
    }
    out.resize(got);
    return out;
  }

  // One-byte reads until a byte comes (at most `tries`), then one read of the
  // rest. Empty when nothing came.
  std::vector<uint8_t> Answer(size_t count, int tries) {
    uint8_t first = 0;
    int i = 0;
    while (i < tries && port_.Read(&first, 1).count == 0) ++i;
    if (i == tries) return {};
    std::vector<uint8_t> out(count);
    out[0] = first;
    size_t got = 1;
    if (count > 1) got += port_.Read(out.data() + 1, count - 1).count;
    out.resize(got);
    return out;
  }

  std::optional<uint32_t> Progress(int tries = 30) {
    const auto a = Answer(3, tries);
    if (a.size() != 3) return std::nullopt;
    return uint32_t{a[0]} << 16 | uint32_t{a[1]} << 8 | a[2];
  }

  std::optional<uint16_t> Word(int tries = 30) {
    const auto a = Answer(2, tries);
    if (a.size() != 2) return std::nullopt;
    return static_cast<uint16_t>(a[0] << 8 | a[1]);
  }

  bool Dsr() {
    uint32_t status = 0;
    return port_.GetModemStatus(status) && (status & kModemDsrOn) != 0;
  }

  uint64_t NowUs() const { return clock_.NowUs(); }

 private:
  SerialPort& port_;
  VirtualClock& clock_;
};

// Clock, registry, programmer on COM5 and a host with the port opened and
// set up as the host sets it up.
struct SimRawWorld {
  explicit SimRawWorld(sim::Timing timing = sim::Timing::Realistic()) : rig(clock, registry, {}, timing) {
    opened = host.Open();
  }

  std::vector<sim::Violation> Violations() { return rig.Violations(); }

  VirtualClock clock;
  MemoryRegistry registry;
  SimRig rig;
  RawHost host{rig.port, clock};
  bool opened = false;
};

}  // namespace kovra::test
