// SPDX-License-Identifier: MIT
#pragma once

// The simulated programmer as the host's logic meets it: behind a USB-serial
// bridge that lists itself in the registry's serial port map, reached through
// an in-process SerialPort, all in virtual time.
//
//   VirtualClock clock;
//   MemoryRegistry registry;
//   SimRig rig(clock, registry);        // COM5, "\Device\ProlificSerial0"
//   rig.port.Open("COM5");              // rig.port is a kovra::SerialPort
//   rig.programmer.SetFaults(...);      // rig.bridge.UnplugAt(...), ...

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory_registry.h"
#include "platform/serial_port.h"
#include "sim/programmer.h"
#include "support/virtual_clock.h"

namespace kovra::test {

inline constexpr const char* kSerialPortMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

namespace sim_detail {

inline std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace sim_detail

struct SimBridgeOptions {
  std::string comName = "COM5";
  int number = 0;
  // Bytes the bridge takes ahead of the line. With 0 a write returns when
  // its last byte has left.
  size_t transmitFifo = 0;
};

// The USB-serial bridge with the programmer on it. While plugged in, its
// value "\Device\ProlificSerial<number>" with data <comName> is in the
// serial port map and the programmer has power; unplugging removes both,
// and handles opened before stay dead after a replug, as on the system.
class SimBridge {
 public:
  using Options = SimBridgeOptions;

  SimBridge(sim::Programmer& programmer, MemoryRegistry& registry, VirtualClock& clock, Options options = {})
      : programmer_(programmer), registry_(registry), clock_(clock), options_(std::move(options)) {
    registry_.WriteString(Hive::kMachine, kSerialPortMapKey, ValueName(), options_.comName);
  }

  ~SimBridge() {
    std::lock_guard lock(mutex_);
    for (uint64_t id : alarms_) clock_.Cancel(id);
  }

  SimBridge(const SimBridge&) = delete;
  SimBridge& operator=(const SimBridge&) = delete;

  const std::string& ComName() const { return options_.comName; }
  std::string ValueName() const { return "\\Device\\ProlificSerial" + std::to_string(options_.number); }
  const Options& options() const { return options_; }
  sim::Programmer& programmer() { return programmer_; }
  VirtualClock& clock() { return clock_; }
  bool Plugged() const { return plugged_.load(); }
  uint64_t Generation() const { return generation_.load(); }

  void Unplug() {
    if (!plugged_.exchange(false)) return;
    ++generation_;
    registry_.DeleteValue(Hive::kMachine, kSerialPortMapKey, ValueName());
    programmer_.PowerOff(clock_.NowUs());
  }

  void Replug() {
    if (plugged_.exchange(true)) return;
    {
      std::lock_guard lock(mutex_);
      line_ = SerialSettings{};
    }
    programmer_.PowerOn(clock_.NowUs());
    registry_.WriteString(Hive::kMachine, kSerialPortMapKey, ValueName(), options_.comName);
  }

  // At a moment of virtual time, whichever thread moves time past it.
  void UnplugAt(uint64_t us) {
    Schedule(us, [this] { Unplug(); });
  }
  void ReplugAt(uint64_t us) {
    Schedule(us, [this] { Replug(); });
  }

  // One handle at a time, as the system gives COM ports.
  bool Claim(const void* port) {
    std::lock_guard lock(mutex_);
    if (owner_ != nullptr && owner_ != port) return false;
    owner_ = port;
    return true;
  }
  void Release(const void* port) {
    std::lock_guard lock(mutex_);
    if (owner_ == port) owner_ = nullptr;
  }

  // The line settings the bridge runs; they outlive a handle.
  SerialSettings Line() const {
    std::lock_guard lock(mutex_);
    return line_;
  }
  void SetLine(const SerialSettings& line) {
    std::lock_guard lock(mutex_);
    line_ = line;
  }

 private:
  void Schedule(uint64_t us, std::function<void()> action) {
    const uint64_t id = clock_.CallAt(us, std::move(action));
    std::lock_guard lock(mutex_);
    alarms_.push_back(id);
  }

  sim::Programmer& programmer_;
  MemoryRegistry& registry_;
  VirtualClock& clock_;
  const Options options_;
  std::atomic<bool> plugged_{true};
  std::atomic<uint64_t> generation_{0};
  mutable std::mutex mutex_;
  std::vector<uint64_t> alarms_;
  const void* owner_ = nullptr;
  SerialSettings line_{};
};

// A SerialPort in virtual time, for one thread at a time. It opens the
// bridges attached to it by their COM name (with or without "\\.\" in
// front, any case) and, optionally, ordinary ports with nothing behind them.
// Every wait moves the shared clock; reads follow the COMMTIMEOUTS rules.
// Once its bridge is gone, reads and writes fail, as a dead handle's do.
class SimSerialPort : public SerialPort {
 public:
  struct Counters {
    int opens = 0;
    int purges = 0;
    int configures = 0;
    int modemReads = 0;
    int writes = 0;
    int reads = 0;
  };

  explicit SimSerialPort(VirtualClock& clock) : clock_(clock) {}
  ~SimSerialPort() override { Close(); }

  void Attach(SimBridge& bridge) { bridges_.push_back(&bridge); }
  void AddPlainPort(std::string_view name) { plainPorts_.push_back(sim_detail::Upper(name)); }

  const SerialTimeouts& Timeouts() const { return timeouts_; }
  uint32_t InputQueue() const { return inputQueue_; }
  uint32_t OutputQueue() const { return outputQueue_; }
  const std::string& OpenName() const { return openName_; }
  const Counters& counters() const { return counters_; }

  bool Open(std::string_view name) override {
    Close();
    std::string wanted = sim_detail::Upper(name);
    if (wanted.rfind("\\\\.\\", 0) == 0) wanted.erase(0, 4);
    for (SimBridge* bridge : bridges_) {
      if (sim_detail::Upper(bridge->ComName()) != wanted) continue;
      if (!bridge->Plugged() || !bridge->Claim(this)) return false;
      bridge_ = bridge;
      generation_ = bridge->Generation();
      return Opened(wanted);
    }
    if (std::find(plainPorts_.begin(), plainPorts_.end(), wanted) != plainPorts_.end()) return Opened(wanted);
    return false;
  }

  void Close() override {
    if (bridge_ != nullptr) bridge_->Release(this);
    bridge_ = nullptr;
    open_ = false;
    openName_.clear();
  }

  bool IsOpen() const override { return open_; }

  bool SetQueues(uint32_t inputBytes, uint32_t outputBytes) override {
    if (!Alive()) return false;
    inputQueue_ = inputBytes;
    outputQueue_ = outputBytes;
    return true;
  }

  bool SetTimeouts(const SerialTimeouts& timeouts) override {
    if (!Alive()) return false;
    timeouts_ = timeouts;
    return true;
  }

  // Clears what has reached this side; bytes still on the line come later.
  bool Purge() override {
    if (!Alive()) return false;
    ++counters_.purges;
    if (sim::Programmer* p = Device()) p->DiscardOutput(clock_.NowUs());
    return true;
  }

  bool Configure(const SerialSettings& settings) override {
    if (!Alive()) return false;
    ++counters_.configures;
    if (bridge_ != nullptr) bridge_->SetLine(settings);
    lineNoted_ = false;
    return true;
  }

  bool GetModemStatus(uint32_t& modemStatus) override {
    if (!Alive()) return false;
    ++counters_.modemReads;
    sim::Programmer* p = Device();
    modemStatus = (p != nullptr && p->Dsr(clock_.NowUs())) ? kModemDsrOn : 0;
    return true;
  }

  bool ArmTransmitEmpty() override {
    if (!Alive()) return false;
    armedAtUs_ = clock_.NowUs();
    return true;
  }

  // The event is a drain that ends after the mask was set: armed only once
  // the output had drained, the wait runs out, as on the system.
  bool WaitTransmitEmpty(uint32_t timeoutMs) override {
    if (!Alive()) return false;
    const uint64_t deadline = clock_.NowUs() + uint64_t{timeoutMs} * 1000;
    sim::Programmer* p = Device();
    const uint64_t drained = p != nullptr ? p->TransmitIdleUs() : plainLineFree_;
    const bool comes = armedAtUs_ && *armedAtUs_ < drained && drained <= deadline;
    armedAtUs_.reset();
    WaitUntil(comes ? drained : deadline);
    return comes && Alive();
  }

  SerialTransfer Write(const uint8_t* data, size_t count) override {
    if (!Alive()) return {.failed = true};
    if (count == 0) return {};
    ++counters_.writes;
    const uint64_t now = clock_.NowUs();
    sim::Programmer* p = Device();
    if (p != nullptr) CheckLine(now);
    const uint64_t deadline = (timeouts_.writeMultiplier != 0 || timeouts_.writeConstant != 0)
                                  ? now + (uint64_t{timeouts_.writeMultiplier} * count + timeouts_.writeConstant) * 1000
                                  : kForever;
    const uint64_t lineStart = std::max(now, p != nullptr ? p->TransmitIdleUs() : plainLineFree_);
    const size_t fifo = bridge_ != nullptr ? bridge_->options().transmitFifo : 0;
    // Byte i is taken once all but `fifo` of the bytes up to it have left.
    const auto taken = [&](size_t i) {
      const size_t gone = i + 1 > fifo ? i + 1 - fifo : 0;
      return gone == 0 ? now : lineStart + WireUs(gone);
    };
    size_t n = count;
    while (n > 0 && taken(n - 1) > deadline) --n;
    if (n == 0) {
      WaitUntil(deadline);
      return {.failed = !Alive()};
    }
    if (p != nullptr) {
      p->HostWrite(data, n, now);
    } else {
      plainLineFree_ = lineStart + WireUs(n);
    }
    WaitUntil(taken(n - 1));
    return {n, !Alive()};
  }

  SerialTransfer Read(uint8_t* data, size_t count) override {
    if (!Alive()) return {.failed = true};
    if (count == 0) return {};
    ++counters_.reads;
    constexpr uint32_t kMaxDword = UINT32_MAX;
    const SerialTimeouts t = timeouts_;
    const uint64_t start = clock_.NowUs();
    // The two special cases of the system's rules, then the general one.
    const bool atOnce = t.readInterval == kMaxDword && t.readMultiplier == 0 && t.readConstant == 0;
    const bool firstByteEnds = t.readInterval == kMaxDword && t.readMultiplier == kMaxDword && t.readConstant != 0 &&
                               t.readConstant != kMaxDword;
    uint64_t deadline = kForever;
    if (firstByteEnds) {
      deadline = start + uint64_t{t.readConstant} * 1000;
    } else if (!atOnce && (t.readMultiplier != 0 || t.readConstant != 0)) {
      deadline = start + (uint64_t{t.readMultiplier} * count + t.readConstant) * 1000;
    }
    const bool interval = !atOnce && !firstByteEnds && t.readInterval != 0 && t.readInterval != kMaxDword;

    sim::Programmer* p = Device();
    size_t got = 0;
    uint64_t lastByte = start;
    while (got < count && Alive()) {
      const uint64_t now = clock_.NowUs();
      const size_t n = p != nullptr ? p->ReadOutput(data + got, count - got, now) : 0;
      if (n != 0) {
        got += n;
        lastByte = now;
        continue;
      }
      if (atOnce || (firstByteEnds && got != 0)) break;
      uint64_t limit = deadline;
      if (interval && got != 0) limit = std::min(limit, lastByte + uint64_t{t.readInterval} * 1000);
      if (limit <= now) break;
      uint64_t bound = limit;
      if (const auto alarm = clock_.NextAlarmUs()) bound = std::min(bound, std::max(*alarm, now));
      const std::optional<uint64_t> next = p != nullptr ? p->NextOutputTime(bound) : std::nullopt;
      if (next && *next <= bound) {
        clock_.AdvanceToUs(std::max(now, *next));
        continue;
      }
      if (bound == kForever) break;  // nothing can ever come: no endless wait in a test
      clock_.AdvanceToUs(bound);
    }
    return {got, !Alive()};
  }

 private:
  static constexpr uint64_t kForever = UINT64_MAX;

  bool Opened(const std::string& name) {
    open_ = true;
    openName_ = name;
    timeouts_ = {};
    ++counters_.opens;
    return true;
  }

  // An open handle whose bridge has not gone since it was opened.
  bool Alive() const {
    if (!open_) return false;
    return bridge_ == nullptr || (bridge_->Plugged() && bridge_->Generation() == generation_);
  }

  sim::Programmer* Device() const { return bridge_ != nullptr ? &bridge_->programmer() : nullptr; }

  uint64_t WireUs(size_t bytes) const {
    sim::Programmer* p = Device();
    return p != nullptr ? p->WireUs(bytes) : sim::Timing{}.WireUs(bytes);
  }

  // Moves time to `us` in steps that let alarms (an unplug) happen at their
  // moment; stops early when the port dies.
  void WaitUntil(uint64_t us) {
    if (us == kForever) return;
    while (clock_.NowUs() < us && Alive()) {
      uint64_t step = us;
      if (const auto alarm = clock_.NextAlarmUs()) step = std::min(step, std::max(*alarm, clock_.NowUs()));
      clock_.AdvanceToUs(step);
    }
  }

  // The programmer runs 38400 baud, 8 data bits, space parity, 1 stop bit.
  void CheckLine(uint64_t now) {
    const SerialSettings line = bridge_->Line();
    if (lineNoted_ || (line.baud == Baud::k38400 && line.dataBits == DataBits::k8 && line.parity == Parity::kSpace &&
                       line.stopBits == StopBits::kOne))
      return;
    lineNoted_ = true;
    bridge_->programmer().NoteViolation(
        now, "host wrote with the line at baud=" + std::to_string(static_cast<uint32_t>(line.baud)) +
                 " data=" + std::to_string(static_cast<int>(line.dataBits)) +
                 " parity=" + std::string(1, "NOEMS"[static_cast<int>(line.parity)]) + " stop=" +
                 (line.stopBits == StopBits::kOne ? "1" : "2") + "; the programmer runs 38400 baud, 8 data, S, 1 stop");
  }

  VirtualClock& clock_;
  std::vector<SimBridge*> bridges_;
  std::vector<std::string> plainPorts_;
  bool open_ = false;
  SimBridge* bridge_ = nullptr;
  uint64_t generation_ = 0;
  std::string openName_;
  SerialTimeouts timeouts_{};
  uint32_t inputQueue_ = 0;
  uint32_t outputQueue_ = 0;
  uint64_t plainLineFree_ = 0;
  bool lineNoted_ = false;
  std::optional<uint64_t> armedAtUs_;
  Counters counters_;
};

// A programmer, its bridge in `registry` and a port to it: COM5 and bridge
// number 0 unless the options say otherwise.
struct SimRig {
  SimRig(VirtualClock& clock, MemoryRegistry& registry, SimBridgeOptions options = {},
         sim::Timing timing = sim::Timing::Realistic())
      : programmer(timing), bridge(programmer, registry, clock, std::move(options)), port(clock) {
    port.Attach(bridge);
  }

  // The programmer catches up with the clock only when called; before
  // looking at its state after a sleep, bring it to the present.
  void Sync() { programmer.AdvanceTo(bridge.clock().NowUs()); }
  std::vector<sim::Violation> Violations() {
    Sync();
    return programmer.Violations();
  }

  sim::Programmer programmer;
  SimBridge bridge;
  SimSerialPort port;
};

}  // namespace kovra::test
