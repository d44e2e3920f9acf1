// SPDX-License-Identifier: MIT
// The programmer's commands: what each does to the chip and the programming
// memory, how long it takes and what it answers.

#include <algorithm>
#include <cstdio>

#include "sim/device.h"

namespace kovra::sim::detail {
namespace {

std::vector<uint8_t> Text(const char* text) {
  return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text));
}

std::string Hex(const char* label, uint32_t value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%s 0x%0*X", label, digits, value);
  return text;
}

std::vector<uint8_t> Word(uint16_t value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

// Acknowledgement, a walk over start..end with progress addresses, then the
// closing answer.
class RangeJob : public Job {
 public:
  RangeJob(Device& device, const Frame& frame, const CommandInfo& info)
      : Job(device, frame), info_(info), start_(frame.Start()), end_(frame.End()), address_(frame.Start()) {}

 protected:
  void Begin() override { WakeIn(info_.chip ? d_.timing.chipAckUs : d_.timing.memoryAckUs); }

  void Step() override {
    if (!acknowledged_) {
      Acknowledge();
      return;
    }
    Work(address_, pending_);
    address_ += pending_;
    if (stopHere_) {
      SendProgress(address_);
      Finish();
      return;
    }
    if (address_ <= end_ && (address_ < end_ || DoneOnlyPastEnd()) && d_.Now() - lastProgress_ >= Interval())
      SendProgress(address_);
    ScheduleBlock();
  }

 private:
  // Blank check and verify report success with an address past the end;
  // the others are done at the end, so an address there must be the last.
  bool DoneOnlyPastEnd() const { return info_.donePastEnd; }

  void Acknowledge() {
    acknowledged_ = true;
    if (SentVoltageFault()) return;
    d_.Send(Answer::kResult, Text("AK"), "ack");
    if (info_.chip && !d_.ChipAnswers(frame_)) {
      d_.Note("no chip of this type in the socket: the command stops");
      Finish();
      return;
    }
    lastProgress_ = d_.Now();
    ScheduleBlock();
  }

  // Work goes by 256-byte pages. A failing byte or the stop fault ends the
  // walk at that address.
  void ScheduleBlock() {
    if (address_ > end_) {
      Close();
      return;
    }
    const uint32_t blockLast = std::min(address_ | 0xFF, end_);
    uint32_t n = blockLast - address_ + 1;
    stopHere_ = false;
    if (const auto stop = d_.faults().stopProgressAt; stop && *stop <= blockLast) {
      n = *stop > address_ ? *stop - address_ : 0;
      stopHere_ = true;
    }
    for (uint32_t i = 0; i < n; ++i) {
      if (Fails(address_ + i)) {
        n = i;
        stopHere_ = true;
        break;
      }
    }
    pending_ = n;
    const uint64_t pageWrite = (info_.writesPages && n != 0) ? d_.timing.memoryPageWriteUs : 0;
    WakeIn(uint64_t{n} * ByteUs() + pageWrite);
  }

  bool Fails(uint32_t address) const { return info_.fails != nullptr && info_.fails(d_, address); }

  void Work(uint32_t first, uint32_t count) {
    if (info_.work == nullptr) return;
    for (uint32_t a = first; a < first + count; ++a) info_.work(d_, a, sum_, programmed_);
  }

  uint64_t ByteUs() const {
    const Timing& t = d_.timing;
    return uint64_t{t.*info_.byteUs} + (info_.extraByteUs != nullptr ? t.*info_.extraByteUs : 0);
  }

  uint64_t Interval() const { return d_.timing.*info_.progressUs; }

  void SendProgress(uint32_t address) {
    d_.Send(Answer::kResult,
            {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)},
            Hex("progress", address, 6));
    lastProgress_ = d_.Now();
  }

  // A one-byte range of a command that is done at the end has nothing to
  // report before its closing answer.
  void Close() {
    if (DoneOnlyPastEnd() || start_ < end_) SendProgress(end_ + 1);
    if (info_.closing == Closing::kVerdict) {
      const uint16_t memorySum = d_.MemorySum(start_, end_);
      if (memorySum != frame_.Checksum())
        d_.Note(Hex("memory sum differs from the frame's checksum word", memorySum, 4));
      if (!programmed_) d_.Note("a byte did not read back as programmed");
      const bool ok = programmed_ && memorySum == frame_.Checksum() && !d_.faults().answerNo;
      d_.Send(Answer::kResult, Text(ok ? "OK" : "NO"), "verdict");
    } else if (info_.closing == Closing::kChecksum) {
      const uint16_t word = static_cast<uint16_t>(sum_ + (d_.faults().wrongChecksum ? 1 : 0));
      d_.Send(Answer::kResult, Word(word), Hex("checksum", word, 4));
    }
    Finish();
  }

  const CommandInfo& info_;
  const uint32_t start_;
  const uint32_t end_;
  uint32_t address_;
  uint32_t pending_ = 0;
  bool acknowledged_ = false;
  bool stopHere_ = false;
  bool programmed_ = true;
  uint16_t sum_ = 0;
  uint64_t lastProgress_ = 0;
};

// Acknowledgement, then the bytes and their checksum word.
class BlockJob : public Job {
 public:
  BlockJob(Device& device, const Frame& frame, const CommandInfo& info) : Job(device, frame), info_(info) {}

 protected:
  void Begin() override { WakeIn(FromChip() ? d_.timing.chipAckUs : d_.timing.memoryAckUs); }

  void Step() override {
    const uint32_t count = frame_.End() - frame_.Start() + 1;
    if (!acknowledged_) {
      acknowledged_ = true;
      if (SentVoltageFault()) return;
      d_.Send(Answer::kResult, Text("AK"), "ack");
      if (FromChip() && !d_.ChipAnswers(frame_)) {
        d_.Note("no chip of this type in the socket: the command stops");
        Finish();
        return;
      }
      WakeIn(uint64_t{count} * (d_.timing.*info_.byteUs));
      return;
    }
    std::vector<uint8_t> data(count);
    uint16_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t a = frame_.Start() + i;
      data[i] = FromChip() ? d_.chip.Read(a) : d_.memory[a];
      sum = static_cast<uint16_t>(sum + data[i]);
    }
    if (d_.faults().wrongChecksum) ++sum;
    d_.Send(Answer::kResult, std::move(data), Hex("data, bytes:", count, 1));
    d_.Send(Answer::kResult, Word(sum), Hex("checksum", sum, 4));
    Finish();
  }

 private:
  bool FromChip() const { return info_.chip; }
  const CommandInfo& info_;
  bool acknowledged_ = false;
};

// One verdict after the work on the chip.
class SettingJob : public Job {
 public:
  SettingJob(Device& device, const Frame& frame, const CommandInfo& info) : Job(device, frame), info_(info) {}

 protected:
  void Begin() override {
    if (d_.faults().voltage != 0) {
      WakeIn(d_.timing.chipAckUs);
      return;
    }
    WakeIn(d_.timing.*info_.workUs);
  }

  void Step() override {
    if (SentVoltageFault()) return;
    const bool ok = !d_.faults().answerNo && d_.ChipAnswers(frame_) && info_.apply(d_.chip);
    d_.Send(Answer::kResult, Text(ok ? "OK" : "NO"), "verdict");
    Finish();
  }

 private:
  const CommandInfo& info_;
};

// The whole programming memory erased, then "ROMOK".
class InitMemoryJob : public Job {
 public:
  using Job::Job;

 protected:
  void Begin() override { WakeIn(d_.timing.memoryEraseUs); }

  void Step() override {
    if (d_.faults().answerNo) {
      d_.Send(Answer::kResult, Text("NO"), "verdict");
    } else {
      std::fill(d_.memory.begin(), d_.memory.end(), 0xFF);
      d_.Send(Answer::kResult, Text("ROMOK"), "verdict");
    }
    Finish();
  }
};

// The offline configuration: kept only when the memory holds the code the
// frame describes.
class OfflineConfigJob : public Job {
 public:
  using Job::Job;

 protected:
  void Begin() override { WakeIn(d_.timing.configWriteUs); }

  void Step() override {
    const uint16_t memorySum = d_.MemorySum(frame_.Start(), frame_.End());
    const bool matches = memorySum == frame_.Checksum();
    if (!matches) d_.Note(Hex("memory sum differs from the frame's checksum word", memorySum, 4));
    const bool ok = matches && !d_.faults().answerNo;
    if (ok) d_.offlineConfig = frame_.bytes;
    d_.Send(Answer::kResult, Text(ok ? "OK" : "NO"), "verdict");
    Finish();
  }
};

// Download: the host streams the bytes; each full 256-byte page is written while
// DSR shows busy. There is no answer: the memory checksum judges the result.
class DownloadJob : public Job {
 public:
  DownloadJob(Device& device, const Frame& frame)
      : Job(device, frame), expected_(frame.End() - frame.Start() + 1), pageStart_(frame.Start()) {}

  void OnData(uint8_t byte) override {
    d_.LogStreamByte(byte);
    if (d_.Now() < d_.pageBusyUntil && !overrunNoted_) {
      overrunNoted_ = true;
      d_.Violate("download byte arrived while DSR showed a page write in progress");
    }
    const uint32_t address = frame_.Start() + received_;
    page_.push_back(byte);
    ++received_;
    sum_ = static_cast<uint16_t>(sum_ + byte);
    if ((address & 0xFF) == 0xFF || received_ == expected_) WritePage();
    if (received_ == expected_) {
      d_.EndStream();
      if (sum_ != frame_.Checksum())
        d_.Violate(Hex("download checksum word differs from the sum of the bytes received,", sum_, 4));
      complete_ = true;
      WakeAt(std::max(d_.Now(), d_.pageBusyUntil));
      return;
    }
    WakeIn(d_.timing.streamGapUs);
  }

  bool ShowsBusy() const override { return d_.Now() < d_.pageBusyUntil; }

 protected:
  void Begin() override {
    d_.StartStream();
    WakeIn(d_.timing.streamGapUs);
  }

  void Step() override {
    if (!complete_) {
      char text[96];
      std::snprintf(text, sizeof text, "download stream stopped after %u of %u bytes", received_, expected_);
      d_.Violate(text);
      d_.StopStream();
      if (!page_.empty()) WritePage();
      complete_ = true;
      WakeAt(std::max(d_.Now(), d_.pageBusyUntil));
      return;
    }
    Finish();
  }

 private:
  void WritePage() {
    std::copy(page_.begin(), page_.end(), d_.memory.begin() + pageStart_);
    pageStart_ += static_cast<uint32_t>(page_.size());
    page_.clear();
    d_.pageBusyUntil = std::max(d_.Now(), d_.pageBusyUntil) + d_.timing.memoryPageWriteUs;
    overrunNoted_ = false;
  }

  const uint32_t expected_;
  uint32_t received_ = 0;
  uint32_t pageStart_;
  std::vector<uint8_t> page_;
  uint16_t sum_ = 0;
  bool complete_ = false;
  bool overrunNoted_ = false;
};

// Programming from a stream: acknowledgement, then each streamed byte is programmed as it
// comes, then the verdict.
class StreamProgramJob : public Job {
 public:
  StreamProgramJob(Device& device, const Frame& frame)
      : Job(device, frame), expected_(frame.End() - frame.Start() + 1) {}

  void OnData(uint8_t byte) override {
    d_.LogStreamByte(byte);
    const uint32_t address = frame_.Start() + received_;
    ++received_;
    sum_ = static_cast<uint16_t>(sum_ + byte);
    ready_ = std::max(d_.Now(), ready_) + d_.timing.chipProgramByteUs;
    programmed_ = chipAnswers_ && d_.chip.Program(address, byte) && programmed_;
    if (received_ == expected_) {
      d_.EndStream();
      phase_ = Phase::kVerdict;
      WakeAt(ready_);
      return;
    }
    WakeIn(d_.timing.streamGapUs);
  }

  bool ShowsBusy() const override { return phase_ != Phase::kData; }

 protected:
  void Begin() override { WakeIn(d_.timing.chipAckUs); }

  void Step() override {
    switch (phase_) {
      case Phase::kAck:
        if (SentVoltageFault()) return;
        d_.Send(Answer::kResult, Text("AK"), "ack");
        chipAnswers_ = d_.ChipAnswers(frame_);
        if (!chipAnswers_) d_.Note("no chip of this type in the socket: nothing is programmed");
        phase_ = Phase::kData;
        d_.StartStream();
        WakeIn(d_.timing.streamGapUs);
        return;
      case Phase::kData: {
        char text[96];
        std::snprintf(text, sizeof text, "streamed program stopped after %u of %u bytes", received_, expected_);
        d_.Violate(text);
        d_.StopStream();
        d_.Send(Answer::kResult, Text("NO"), "verdict");
        Finish();
        return;
      }
      case Phase::kVerdict:
        if (sum_ != frame_.Checksum()) d_.Note(Hex("sum of the streamed bytes differs from the frame's", sum_, 4));
        if (!programmed_) d_.Note("a byte did not read back as programmed");
        const bool ok = programmed_ && sum_ == frame_.Checksum() && !d_.faults().answerNo;
        d_.Send(Answer::kResult, Text(ok ? "OK" : "NO"), "verdict");
        Finish();
        return;
    }
  }

 private:
  enum class Phase : uint8_t { kAck, kData, kVerdict };
  const uint32_t expected_;
  uint32_t received_ = 0;
  uint16_t sum_ = 0;
  uint64_t ready_ = 0;
  bool chipAnswers_ = false;
  bool programmed_ = true;
  Phase phase_ = Phase::kAck;
};

// What a walk does to one byte, and where it stops.
void SumChip(Device& d, uint32_t a, uint16_t& sum, bool&) { sum = static_cast<uint16_t>(sum + d.chip.Read(a)); }
void SumMemory(Device& d, uint32_t a, uint16_t& sum, bool&) { sum = static_cast<uint16_t>(sum + d.memory[a]); }
void ProgramFromMemory(Device& d, uint32_t a, uint16_t&, bool& programmed) {
  programmed = d.chip.Program(a, d.memory[a]) && programmed;
}
void CopyToMemory(Device& d, uint32_t a, uint16_t& sum, bool&) {
  d.memory[a] = d.chip.Read(a);
  sum = static_cast<uint16_t>(sum + d.memory[a]);
}
bool NotBlank(const Device& d, uint32_t a) { return d.chip.Read(a) != 0xFF; }
bool DiffersFromMemory(const Device& d, uint32_t a) { return d.chip.Read(a) != d.memory[a]; }

// What a setting does to the chip; false when the chip refuses it.
bool EraseChip(Chip& chip) { return chip.Erase(); }
bool EnableSmart(Chip& chip) {
  if (chip.type != ChipType::kMtp || chip.writeProtected) return false;
  chip.smartEnabled = true;
  return true;
}
bool ProtectRead(Chip& chip) {
  if (chip.writeProtected) return false;
  chip.readProtected = true;
  return true;
}
bool ProtectLdc(Chip& chip) {
  if (chip.writeProtected) return false;
  chip.ldcProtected = true;
  return true;
}
bool ProtectWrites(Chip& chip) {
  if (chip.type != ChipType::kMtp) return false;
  chip.writeProtected = true;
  return true;
}

// The command set.
constexpr CommandInfo kCommands[] = {
    {.code = 0x01, .name = "connect probe", .kind = JobKind::kProbe},
    {.code = 0x02,
     .name = "chip checksum",
     .kind = JobKind::kRange,
     .chip = true,
     .usesRange = true,
     .byteUs = &Timing::chipReadByteUs,
     .progressUs = &Timing::chipSumProgressUs,
     .closing = Closing::kChecksum,
     .work = SumChip},
    {.code = 0x03,
     .name = "blank check",
     .kind = JobKind::kRange,
     .chip = true,
     .usesRange = true,
     .byteUs = &Timing::chipReadByteUs,
     .progressUs = &Timing::blankProgressUs,
     .donePastEnd = true,
     .fails = NotBlank},
    {.code = 0x04,
     .name = "erase MTP",
     .kind = JobKind::kSetting,
     .chip = true,
     .workUs = &Timing::chipEraseUs,
     .apply = EraseChip},
    {.code = 0x05,
     .name = "verify",
     .kind = JobKind::kRange,
     .chip = true,
     .usesRange = true,
     .byteUs = &Timing::chipReadByteUs,
     .extraByteUs = &Timing::memoryReadByteUs,
     .progressUs = &Timing::verifyProgressUs,
     .donePastEnd = true,
     .fails = DiffersFromMemory},
    {.code = 0x06,
     .name = "enable SMART",
     .kind = JobKind::kSetting,
     .chip = true,
     .workUs = &Timing::chipSettingUs,
     .apply = EnableSmart},
    {.code = 0x07,
     .name = "read protection",
     .kind = JobKind::kSetting,
     .chip = true,
     .workUs = &Timing::chipSettingUs,
     .apply = ProtectRead},
    {.code = 0x08,
     .name = "LDC protection",
     .kind = JobKind::kSetting,
     .chip = true,
     .workUs = &Timing::chipSettingUs,
     .apply = ProtectLdc},
    {.code = 0x09,
     .name = "hardware write protection",
     .kind = JobKind::kSetting,
     .chip = true,
     .workUs = &Timing::chipSettingUs,
     .apply = ProtectWrites},
    {.code = 0x0A,
     .name = "read chip block",
     .kind = JobKind::kBlock,
     .chip = true,
     .usesRange = true,
     .byteUs = &Timing::chipReadByteUs},
    {.code = 0x0B,
     .name = "program from memory",
     .kind = JobKind::kRange,
     .chip = true,
     .usesRange = true,
     .byteUs = &Timing::memoryReadByteUs,
     .extraByteUs = &Timing::chipProgramByteUs,
     .progressUs = &Timing::programProgressUs,
     .closing = Closing::kVerdict,
     .work = ProgramFromMemory},
    {.code = 0x0C,
     .name = "initialise memory",
     .kind = JobKind::kInitMemory,
     .usesRange = true,
     .startsAtZero = true,
     .mayEndBeforeStart = true},
    {.code = 0x0D,
     .name = "memory checksum",
     .kind = JobKind::kRange,
     .usesRange = true,
     .byteUs = &Timing::memoryReadByteUs,
     .progressUs = &Timing::memorySumProgressUs,
     .closing = Closing::kChecksum,
     .work = SumMemory},
    {.code = 0x0E, .name = "download", .kind = JobKind::kDownload, .usesRange = true, .startsAtZero = true},
    {.code = 0x0F,
     .name = "read memory block",
     .kind = JobKind::kBlock,
     .usesRange = true,
     .byteUs = &Timing::memoryReadByteUs},
    {.code = 0x10,
     .name = "copy chip to memory",
     .kind = JobKind::kRange,
     .chip = true,
     .usesRange = true,
     .startsAtZero = true,
     .byteUs = &Timing::chipReadByteUs,
     .progressUs = &Timing::copyProgressUs,
     .writesPages = true,
     .closing = Closing::kChecksum,
     .work = CopyToMemory},
    {.code = 0x11, .name = "offline configuration", .kind = JobKind::kOfflineConfig, .usesRange = true},
    {.code = 0x13, .name = "program from stream", .kind = JobKind::kStreamProgram, .chip = true, .usesRange = true},
};

}  // namespace

Job::Job(Device& device, const Frame& frame)
    : d_(device), frame_(frame), wake_(device.Now() + device.timing.frameAnswerUs) {}

void Job::Run() {
  wake_ = kNever;
  if (!answered_) {
    answered_ = true;
    d_.Send(Answer::kFrame, d_.FrameAnswer(Code()), "frame answer");
    Begin();
    return;
  }
  Step();
}

void Job::WakeIn(uint64_t us) { wake_ = d_.Now() + us; }

bool Job::SentVoltageFault() {
  const uint8_t code = d_.faults().voltage;
  if (code == 0 || !IsChipCommand(Code())) return false;
  d_.Send(Answer::kResult, {'E', code}, "voltage fault");
  Finish();
  return true;
}

const CommandInfo* FindCommand(uint8_t code) {
  for (const CommandInfo& command : kCommands) {
    if (command.code == code) return &command;
  }
  return nullptr;
}

bool IsChipCommand(uint8_t code) {
  const CommandInfo* command = FindCommand(code);
  return command != nullptr && command->chip;
}

std::unique_ptr<Job> MakeJob(Device& device, const Frame& frame, bool refused) {
  const CommandInfo* command = FindCommand(frame.Code());
  if (refused || command == nullptr) return std::make_unique<Job>(device, frame);
  switch (command->kind) {
    case JobKind::kRange:
      return std::make_unique<RangeJob>(device, frame, *command);
    case JobKind::kBlock:
      return std::make_unique<BlockJob>(device, frame, *command);
    case JobKind::kSetting:
      return std::make_unique<SettingJob>(device, frame, *command);
    case JobKind::kInitMemory:
      return std::make_unique<InitMemoryJob>(device, frame);
    case JobKind::kDownload:
      return std::make_unique<DownloadJob>(device, frame);
    case JobKind::kOfflineConfig:
      return std::make_unique<OfflineConfigJob>(device, frame);
    case JobKind::kStreamProgram:
      return std::make_unique<StreamProgramJob>(device, frame);
    case JobKind::kProbe:
      break;
  }
  return std::make_unique<Job>(device, frame);  // the connect probe: the frame answer is all
}

}  // namespace kovra::sim::detail
