// SPDX-License-Identifier: MIT
#pragma once

// The programmer's engine: single-threaded, driven by explicit time.
// `Programmer` is its public, thread-safe face; nothing else uses this.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/chip.h"
#include "sim/faults.h"
#include "sim/timing.h"
#include "sim/wire_log.h"

namespace kovra::sim::detail {

inline constexpr size_t kFrameSize = 21;
inline constexpr uint32_t kMemorySize = 0x100000;
inline constexpr uint64_t kNever = UINT64_MAX;

struct Frame {
  std::array<uint8_t, kFrameSize> bytes{};

  uint8_t Code() const { return bytes[20]; }
  uint32_t Start() const { return uint32_t{bytes[16]} << 16 | uint32_t{bytes[17]} << 8 | bytes[18]; }
  uint32_t End() const { return uint32_t{bytes[19]} << 16 | uint32_t{bytes[6]} << 8 | bytes[7]; }
  uint16_t Checksum() const { return static_cast<uint16_t>(bytes[8] << 8 | bytes[9]); }
  uint8_t ChipTypeByte() const { return bytes[4]; }
};

// The frame answer goes out as it is; fault switches that damage answers
// act on results only.
enum class Answer : uint8_t { kFrame, kResult, kNoise };

class Device;

// One command being carried out. The frame answer is its first step.
class Job {
 public:
  Job(Device& device, const Frame& frame);
  virtual ~Job() = default;

  uint8_t Code() const { return frame_.Code(); }
  uint64_t WakeUs() const { return wake_; }
  void Run();  // at WakeUs()
  virtual void OnData(uint8_t byte) { (void)byte; }
  virtual bool ShowsBusy() const { return true; }
  bool Done() const { return done_; }

 protected:
  virtual void Begin() { Finish(); }  // just after the frame answer
  virtual void Step() {}              // at a later wake
  void WakeIn(uint64_t us);
  void WakeAt(uint64_t us) { wake_ = us; }
  void Finish() {
    done_ = true;
    wake_ = kNever;
  }
  // 'E' and the code in place of an answer, when the voltage fault is on.
  bool SentVoltageFault();

  Device& d_;
  const Frame frame_;

 private:
  uint64_t wake_;
  bool answered_ = false;
  bool done_ = false;
};

// How the programmer carries a command out.
enum class JobKind : uint8_t {
  kProbe,          // the frame answer is all
  kRange,          // acknowledgement, a walk with progress addresses, a closing answer
  kBlock,          // acknowledgement, the bytes and their checksum word
  kSetting,        // one verdict after work on the chip
  kInitMemory,     // the memory erased, then "ROMOK"
  kDownload,       // a paced byte stream into the memory, no answer
  kOfflineConfig,  // the frame kept as the offline configuration
  kStreamProgram,  // acknowledgement, a byte stream programmed as it comes, the verdict
};

// What a range walk sends after its last progress address.
enum class Closing : uint8_t { kNone, kChecksum, kVerdict };

// Everything the programmer knows of one command. Timing fields name the
// figures of Timing they take.
struct CommandInfo {
  uint8_t code;
  const char* name;
  JobKind kind;
  bool chip = false;          // powers the chip: slower acknowledgement, type check, voltage faults
  bool usesRange = false;     // the frame's start and end are checked
  bool startsAtZero = false;  // a start other than 0 is misuse
  bool mayEndBeforeStart = false;
  uint32_t Timing::*byteUs = nullptr;  // range and block: work a byte
  uint32_t Timing::*extraByteUs = nullptr;
  uint32_t Timing::*progressUs = nullptr;  // range: least time between progress addresses
  uint32_t Timing::*workUs = nullptr;      // setting: the work
  bool donePastEnd = false;                // range: success is an address past the end
  bool writesPages = false;                // range: each page goes into the memory, with its write time
  Closing closing = Closing::kNone;
  bool (*fails)(const Device&, uint32_t address) = nullptr;  // range: the walk stops at this byte
  void (*work)(Device&, uint32_t address, uint16_t& sum, bool& programmed) = nullptr;  // range: one byte
  bool (*apply)(Chip&) = nullptr;  // setting: false when the chip refuses
};

// nullptr for a code outside the command set.
const CommandInfo* FindCommand(uint8_t code);

std::unique_ptr<Job> MakeJob(Device& device, const Frame& frame, bool refused);
bool IsChipCommand(uint8_t code);

class Device {
 public:
  explicit Device(const Timing& timing);
  ~Device();

  // The host's side of the line. Times are in microseconds.
  uint64_t HostWrite(const uint8_t* data, size_t count, uint64_t nowUs);
  uint64_t TransmitIdleUs() const { return txFree_; }
  std::optional<uint64_t> NextOutputTime(uint64_t limitUs);
  size_t ReadOutput(uint8_t* data, size_t max, uint64_t nowUs);
  size_t DiscardOutput(uint64_t nowUs);
  bool Dsr(uint64_t nowUs);
  void AdvanceTo(uint64_t nowUs);
  std::optional<uint64_t> NextWakeUs() const;

  void PowerOff(uint64_t nowUs);
  void PowerOn(uint64_t nowUs);
  bool Powered() const { return powered_; }
  // No command under way, and nothing of its answers still on the line.
  bool Idle() const { return !job_ && (out_.empty() || out_.back().at <= now_); }
  void InjectNoise(size_t count, uint64_t nowUs);
  void SetFaults(const Faults& faults);
  const Faults& faults() const { return faults_; }

  // For jobs.
  uint64_t Now() const { return now_; }
  void Send(Answer kind, std::vector<uint8_t> bytes, std::string what);
  void Violate(std::string text);
  void Note(std::string text);
  void StartStream();
  void EndStream();   // padding may follow
  void StopStream();  // the stream was abandoned: what follows is ignored
  std::vector<uint8_t> FrameAnswer(uint8_t code) const;
  void LogStreamByte(uint8_t byte);
  bool ChipAnswers(const Frame& frame) const;
  uint16_t MemorySum(uint32_t first, uint32_t last) const;
  uint64_t pageBusyUntil = 0;

  std::vector<LogEntry> TakeLogCopy();
  void FlushInput();

  Timing timing;
  Chip chip;
  std::vector<uint8_t> memory;
  std::optional<std::array<uint8_t, kFrameSize>> offlineConfig;
  std::vector<Violation> violations;
  std::vector<LogEntry> log;
  bool keepLog = true;
  std::function<void(const LogEntry&)> logSink;

 private:
  enum class Rx : uint8_t { kHunt, kFrame, kStream, kTail, kBusy };
  struct Timed {
    uint64_t at;
    uint8_t byte;
  };
  struct LineCounter {
    uint64_t seen = 0;
    std::optional<uint8_t> held;  // the first of two bytes to exchange
    // Appends what leaves the damaged line for `byte` to `out` (nothing
    // when it is lost or held); `delayUs` grows by what a late byte adds to
    // it and all behind it.
    void Pass(const WireFault& fault, uint8_t byte, uint64_t& delayUs, std::vector<uint8_t>& out);
  };

  uint64_t RxTimer() const;
  void RunNextEvent(uint64_t limitUs);
  void OnByte(uint8_t byte);
  bool MatchStar(uint8_t byte, std::vector<uint8_t>& lost);
  void BeginFrame();
  void Hunt(uint8_t byte);
  void Tail(uint8_t byte);
  void Stray(uint8_t byte);
  void FrameComplete();
  bool CheckFrame(const Frame& frame);
  void EndJob();
  void LogInput(const char* what, uint8_t byte);
  void Emit(LogEntry entry);
  uint8_t NextNoise();

  Faults faults_;
  uint64_t now_ = 0;
  bool powered_ = true;
  uint64_t bootDone_ = 0;

  std::deque<Timed> in_;
  std::deque<Timed> out_;
  uint64_t txFree_ = 0;  // host to programmer
  uint64_t rxFree_ = 0;  // programmer to host
  LineCounter toDevice_;
  LineCounter toHost_;
  uint32_t noise_ = 0x2545F491;

  Rx rx_ = Rx::kHunt;
  size_t starMatched_ = 0;
  Frame frame_;
  size_t frameLength_ = 0;
  uint64_t frameLast_ = 0;
  bool strayRun_ = false;
  uint64_t strayLast_ = 0;
  size_t tailCount_ = 0;
  uint64_t tailLast_ = 0;
  bool busyNoted_ = false;

  std::unique_ptr<Job> job_;
  std::optional<LogEntry> openInput_;
};

}  // namespace kovra::sim::detail
