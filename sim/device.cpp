// SPDX-License-Identifier: MIT
#include "sim/device.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace kovra::sim::detail {
namespace {

constexpr uint8_t kStar[4] = {'S', 'T', 'A', 'R'};
constexpr size_t kMaxPadding = 7;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace

void Device::LineCounter::Pass(const WireFault& fault, uint8_t byte, uint64_t& delayUs, std::vector<uint8_t>& out) {
  const uint64_t index = seen++;
  if (fault.kind == WireFault::Kind::kSwap && index == fault.after) {
    held = byte;
    return;
  }
  if (fault.kind == WireFault::Kind::kSwap && held) {
    out.push_back(byte);
    out.push_back(*held);
    held.reset();
    return;
  }
  if (fault.kind == WireFault::Kind::kNone || fault.kind == WireFault::Kind::kSwap || index < fault.after ||
      (fault.count != 0 && index >= fault.after + fault.count)) {
    out.push_back(byte);
    return;
  }
  switch (fault.kind) {
    case WireFault::Kind::kDrop:
      return;
    case WireFault::Kind::kLate:
      delayUs += WireFault::kLateUs;
      out.push_back(byte);
      return;
    default:
      out.push_back(static_cast<uint8_t>(byte ^ 0x01));
  }
}

Device::Device(const Timing& timing) : timing(timing), memory(kMemorySize, 0xFF) {}

Device::~Device() = default;

uint64_t Device::HostWrite(const uint8_t* data, size_t count, uint64_t nowUs) {
  AdvanceTo(nowUs);
  const uint64_t start = std::max(now_, txFree_);
  uint64_t delay = 0;
  const auto arrival = [&](size_t bytes) {
    return (timing.hostBytesOnWire ? start + timing.WireUs(bytes) : now_) + delay;
  };
  std::vector<uint8_t> passed;
  for (size_t i = 0; i < count; ++i) {
    passed.clear();
    toDevice_.Pass(faults_.toDevice, data[i], delay, passed);
    for (const uint8_t byte : passed) {
      if (powered_) in_.push_back({arrival(i + 1), byte});
    }
  }
  txFree_ = arrival(count);
  return txFree_;
}

uint64_t Device::RxTimer() const {
  switch (rx_) {
    case Rx::kFrame:
      return frameLast_ + timing.frameGapUs + 1;
    case Rx::kTail:
      return tailLast_ + timing.tailGapUs + 1;
    default:
      return kNever;
  }
}

void Device::AdvanceTo(uint64_t nowUs) {
  while (true) {
    const uint64_t jobAt = job_ ? job_->WakeUs() : kNever;
    const uint64_t inAt = in_.empty() ? kNever : in_.front().at;
    const uint64_t next = std::min({jobAt, inAt, RxTimer()});
    if (next == kNever || next > nowUs) break;
    RunNextEvent(nowUs);
  }
  now_ = std::max(now_, nowUs);
}

// Ties go to the job first (a command that ends as a byte arrives is over)
// and to input before time-outs (a byte exactly on time is in time).
void Device::RunNextEvent(uint64_t limitUs) {
  const uint64_t jobAt = job_ ? job_->WakeUs() : kNever;
  const uint64_t inAt = in_.empty() ? kNever : in_.front().at;
  const uint64_t rxAt = RxTimer();
  if (jobAt <= inAt && jobAt <= rxAt && jobAt <= limitUs) {
    now_ = std::max(now_, jobAt);
    job_->Run();
    if (job_->Done()) EndJob();
    return;
  }
  if (inAt <= rxAt && inAt <= limitUs) {
    now_ = std::max(now_, inAt);
    const uint8_t byte = in_.front().byte;
    in_.pop_front();
    if (now_ >= bootDone_) OnByte(byte);
    return;
  }
  if (rxAt > limitUs) return;
  now_ = std::max(now_, rxAt);
  if (rx_ == Rx::kFrame) {
    FlushInput();
    Violate(Format("frame cut short after %u bytes", static_cast<unsigned>(frameLength_)));
    Emit(
        {now_, LogEntry::Kind::kFromHost, "partial frame",
         std::vector<uint8_t>(frame_.bytes.begin(), frame_.bytes.begin() + static_cast<std::ptrdiff_t>(frameLength_))});
    frameLength_ = 0;
    rx_ = Rx::kHunt;
  } else {
    FlushInput();
    rx_ = job_ ? Rx::kBusy : Rx::kHunt;
    if (job_) starMatched_ = 0;
    busyNoted_ = false;
  }
}

std::optional<uint64_t> Device::NextOutputTime(uint64_t limitUs) {
  while (out_.empty()) {
    const uint64_t jobAt = job_ ? job_->WakeUs() : kNever;
    const uint64_t inAt = in_.empty() ? kNever : in_.front().at;
    const uint64_t next = std::min({jobAt, inAt, RxTimer()});
    if (next == kNever || next > limitUs) return std::nullopt;
    RunNextEvent(limitUs);
  }
  return out_.front().at;
}

size_t Device::ReadOutput(uint8_t* data, size_t max, uint64_t nowUs) {
  AdvanceTo(nowUs);
  size_t n = 0;
  while (n < max && !out_.empty() && out_.front().at <= nowUs) {
    data[n++] = out_.front().byte;
    out_.pop_front();
  }
  return n;
}

size_t Device::DiscardOutput(uint64_t nowUs) {
  AdvanceTo(nowUs);
  size_t n = 0;
  while (!out_.empty() && out_.front().at <= nowUs) {
    out_.pop_front();
    ++n;
  }
  return n;
}

bool Device::Dsr(uint64_t nowUs) {
  AdvanceTo(nowUs);
  if (!powered_) return false;
  if (faults_.dsrStuckOn || now_ < bootDone_) return true;
  return job_ && job_->ShowsBusy();
}

std::optional<uint64_t> Device::NextWakeUs() const {
  uint64_t next = std::min({job_ ? job_->WakeUs() : kNever, in_.empty() ? kNever : in_.front().at, RxTimer()});
  if (!out_.empty()) next = std::min(next, out_.front().at);
  if (next == kNever) return std::nullopt;
  return next;
}

void Device::PowerOff(uint64_t nowUs) {
  AdvanceTo(nowUs);
  if (!powered_) return;
  FlushInput();
  job_.reset();
  in_.clear();
  out_.clear();
  rx_ = Rx::kHunt;
  starMatched_ = 0;
  frameLength_ = 0;
  pageBusyUntil = 0;
  powered_ = false;
  Note("power off");
}

void Device::PowerOn(uint64_t nowUs) {
  AdvanceTo(nowUs);
  if (powered_) return;
  powered_ = true;
  bootDone_ = now_ + timing.bootUs;
  strayRun_ = false;
  Note("power on");
}

void Device::InjectNoise(size_t count, uint64_t nowUs) {
  AdvanceTo(nowUs);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = NextNoise();
  Send(Answer::kNoise, std::move(bytes), "noise");
}

void Device::SetFaults(const Faults& faults) {
  if (!(faults.toHost == faults_.toHost)) toHost_ = {};
  if (!(faults.toDevice == faults_.toDevice)) toDevice_ = {};
  if (faults.silent && !faults_.silent && rx_ == Rx::kFrame) {
    frameLength_ = 0;
    rx_ = Rx::kHunt;
  }
  faults_ = faults;
}

void Device::Send(Answer kind, std::vector<uint8_t> bytes, std::string what) {
  if (!powered_ || (faults_.silent && kind != Answer::kNoise)) return;
  if (kind == Answer::kFrame && faults_.shortFrameAnswer && !bytes.empty()) {
    bytes.pop_back();
    what += " (cut short)";
  }
  if (kind == Answer::kResult && faults_.garbage) {
    for (uint8_t& b : bytes) b = NextNoise();
    what += " (garbage)";
  }
  if (kind == Answer::kResult && faults_.shortAnswer && !bytes.empty()) {
    bytes.pop_back();
    what += " (cut short)";
  }
  FlushInput();
  bool damaged = false;
  uint64_t delay = 0;
  const uint64_t start = std::max(now_, rxFree_);
  std::vector<uint8_t> passed;
  for (size_t i = 0; i < bytes.size(); ++i) {
    passed.clear();
    toHost_.Pass(faults_.toHost, bytes[i], delay, passed);
    damaged = damaged || passed.size() != 1 || passed[0] != bytes[i];
    for (const uint8_t byte : passed) out_.push_back({start + timing.WireUs(i + 1) + delay, byte});
  }
  rxFree_ = start + timing.WireUs(bytes.size()) + delay;
  if (damaged) what += " [damaged on the line]";
  if (delay) what += " [late on the line]";
  Emit({now_, LogEntry::Kind::kToHost, std::move(what), std::move(bytes)});
}

void Device::Violate(std::string text) {
  FlushInput();
  violations.push_back({now_, text});
  Emit({now_, LogEntry::Kind::kNote, "violation: " + text, {}});
}

void Device::Note(std::string text) {
  FlushInput();
  Emit({now_, LogEntry::Kind::kNote, std::move(text), {}});
}

void Device::StartStream() { rx_ = Rx::kStream; }

void Device::EndStream() {
  FlushInput();
  rx_ = Rx::kTail;
  starMatched_ = 0;
  tailCount_ = 0;
  tailLast_ = now_;
}

void Device::StopStream() {
  FlushInput();
  rx_ = Rx::kBusy;
  busyNoted_ = false;
}

void Device::LogStreamByte(uint8_t byte) { LogInput("data stream", byte); }

bool Device::ChipAnswers(const Frame& frame) const {
  return chip.present && frame.ChipTypeByte() == static_cast<uint8_t>(chip.type);
}

uint16_t Device::MemorySum(uint32_t first, uint32_t last) const {
  uint32_t sum = 0;
  for (uint32_t a = first; a <= last && a < memory.size(); ++a) sum += memory[a];
  return static_cast<uint16_t>(sum);
}

std::vector<LogEntry> Device::TakeLogCopy() {
  FlushInput();
  return log;
}

void Device::FlushInput() {
  if (!openInput_) return;
  LogEntry entry = std::move(*openInput_);
  openInput_.reset();
  Emit(std::move(entry));
}

void Device::OnByte(uint8_t byte) {
  if (faults_.silent) {
    LogInput("ignored (silent)", byte);
    return;
  }
  switch (rx_) {
    case Rx::kBusy:
      if (!busyNoted_) {
        busyNoted_ = true;
        Violate(Format("byte 0x%02X arrived while busy with command 0x%02X", byte, job_ ? job_->Code() : 0));
      }
      LogInput("ignored while busy", byte);
      return;
    case Rx::kStream:
      job_->OnData(byte);
      return;
    case Rx::kTail:
      Tail(byte);
      return;
    case Rx::kFrame:
      frame_.bytes[frameLength_++] = byte;
      frameLast_ = now_;
      if (frameLength_ == kFrameSize) FrameComplete();
      return;
    case Rx::kHunt:
      Hunt(byte);
      return;
  }
}

// Feeds the "STAR" matcher. Bytes that turn out not to begin a frame go to
// `lost`; true when a frame's first four bytes are complete.
bool Device::MatchStar(uint8_t byte, std::vector<uint8_t>& lost) {
  if (byte == kStar[starMatched_]) {
    if (++starMatched_ < sizeof kStar) return false;
    starMatched_ = 0;
    return true;
  }
  lost.insert(lost.end(), kStar, kStar + starMatched_);
  starMatched_ = 0;
  if (byte == kStar[0]) {
    starMatched_ = 1;
  } else {
    lost.push_back(byte);
  }
  return false;
}

void Device::BeginFrame() {
  frame_ = Frame{};
  std::copy(std::begin(kStar), std::end(kStar), frame_.bytes.begin());
  frameLength_ = sizeof kStar;
  frameLast_ = now_;
  rx_ = Rx::kFrame;
  strayRun_ = false;
}

void Device::Hunt(uint8_t byte) {
  std::vector<uint8_t> lost;
  const bool frame = MatchStar(byte, lost);
  for (uint8_t b : lost) Stray(b);
  if (frame) BeginFrame();
}

// Up to 7 bytes may follow a stream: the host's last write is not cut at
// the end of the range. A frame among them ends the padding.
void Device::Tail(uint8_t byte) {
  std::vector<uint8_t> lost;
  const bool frame = MatchStar(byte, lost);
  for (uint8_t b : lost) {
    if (rx_ != Rx::kTail) {
      Stray(b);
    } else if (tailCount_ < kMaxPadding) {
      ++tailCount_;
      tailLast_ = now_;
      LogInput("padding", b);
    } else {
      Violate("more than 7 bytes followed the announced stream");
      rx_ = job_ ? Rx::kBusy : Rx::kHunt;
      busyNoted_ = strayRun_ = true;
      strayLast_ = now_;
      Stray(b);
    }
  }
  if (!frame) return;
  if (job_) {
    Violate(Format("frame began while still busy with command 0x%02X", job_->Code()));
    rx_ = Rx::kBusy;
    busyNoted_ = true;
    return;
  }
  BeginFrame();
}

void Device::Stray(uint8_t byte) {
  if (strayRun_ && now_ - strayLast_ > timing.frameGapUs) strayRun_ = false;
  strayLast_ = now_;
  if (!strayRun_) {
    strayRun_ = true;
    Violate(Format("byte 0x%02X outside a frame (frames begin with \"STAR\")", byte));
  }
  LogInput("stray", byte);
}

void Device::FrameComplete() {
  const Frame frame = frame_;
  frameLength_ = 0;
  FlushInput();
  Emit({now_, LogEntry::Kind::kFromHost, Format("frame 0x%02X", frame.Code()),
        std::vector<uint8_t>(frame.bytes.begin(), frame.bytes.end())});
  const bool accepted = CheckFrame(frame);
  job_ = MakeJob(*this, frame, !accepted);
  rx_ = Rx::kBusy;
  busyNoted_ = false;
}

bool Device::CheckFrame(const Frame& frame) {
  const auto& b = frame.bytes;
  if (b[10] != 0x01) Violate(Format("frame byte 10 is 0x%02X, not 0x01", b[10]));
  if (b[4] != 1 && b[4] != 2) Violate(Format("frame byte 4 (chip type) is 0x%02X, not 1 (OTP) or 2 (MTP)", b[4]));
  const uint8_t supply = b[11] & 0x0F;
  if (supply != 1 && supply != 2)
    Violate(Format("frame byte 11 selects supply %u, not 1 (5.0 V) or 2 (3.3 V)", static_cast<unsigned>(supply)));
  if ((b[11] & 0x30) != 0) Violate(Format("frame byte 11 is 0x%02X: bits 4 and 5 must be clear", b[11]));
  if ((b[11] & 0xC0) == 0xC0) Violate("frame byte 11 selects both the 12 V and the Vcc programming voltage");
  if ((b[5] & 0x80) != 0) Violate(Format("frame byte 5 is 0x%02X: no option uses bit 7", b[5]));

  const uint8_t code = frame.Code();
  const CommandInfo* command = FindCommand(code);
  if (command == nullptr) {
    Violate(Format("command 0x%02X is not in the command set", code));
    return false;
  }
  if (!command->usesRange) return true;
  bool accepted = true;
  const uint32_t start = frame.Start();
  const uint32_t end = frame.End();
  if (command->startsAtZero && start != 0)
    Violate(Format("command 0x%02X starts at 0x%06X; it always starts at 0", code, start));
  if (start > end && !command->mayEndBeforeStart) {
    Violate(Format("command 0x%02X: start 0x%06X is beyond end 0x%06X", code, start, end));
    accepted = false;
  }
  if (end >= kMemorySize) {
    Violate(Format("command 0x%02X: end 0x%06X is beyond the programming memory (0x%05X)", code, end, kMemorySize - 1));
    accepted = false;
  }
  return accepted;
}

// The host only counts these bytes; they say who answered and what is in
// the socket, for people reading a log.
std::vector<uint8_t> Device::FrameAnswer(uint8_t code) const {
  std::vector<uint8_t> answer = {'K', 'O', 'V', 'R', 'A', 0x30, code};
  answer.push_back(chip.present ? static_cast<uint8_t>(chip.type) : 0);
  answer.push_back(static_cast<uint8_t>((chip.readProtected ? 0x01 : 0) | (chip.ldcProtected ? 0x02 : 0) |
                                        (chip.writeProtected ? 0x04 : 0) | (chip.smartEnabled ? 0x08 : 0)));
  const uint32_t romEnd = chip.rom.empty() ? 0 : static_cast<uint32_t>(chip.rom.size() - 1);
  answer.push_back(static_cast<uint8_t>(romEnd >> 16));
  answer.push_back(static_cast<uint8_t>(romEnd >> 8));
  answer.push_back(static_cast<uint8_t>(romEnd));
  answer.push_back(offlineConfig ? 1 : 0);
  answer.resize(kFrameSize - 1, 0);
  uint8_t sum = 0;
  for (uint8_t b : answer) sum = static_cast<uint8_t>(sum + b);
  answer.push_back(sum);
  return answer;
}

void Device::EndJob() {
  job_.reset();
  if (rx_ == Rx::kBusy || rx_ == Rx::kStream) {
    FlushInput();
    rx_ = Rx::kHunt;
  }
}

void Device::LogInput(const char* what, uint8_t byte) {
  if (openInput_ && openInput_->what == what) {
    openInput_->bytes.push_back(byte);
    return;
  }
  FlushInput();
  openInput_ = LogEntry{now_, LogEntry::Kind::kFromHost, what, {byte}};
}

void Device::Emit(LogEntry entry) {
  if (logSink) logSink(entry);
  if (keepLog) log.push_back(std::move(entry));
}

uint8_t Device::NextNoise() {
  noise_ ^= noise_ << 13;
  noise_ ^= noise_ >> 17;
  noise_ ^= noise_ << 5;
  return static_cast<uint8_t>(noise_ >> 24);
}

}  // namespace kovra::sim::detail
