// SPDX-License-Identifier: MIT
// A random production day against the simulated programmer, in virtual
// time: operations in any order (downloads, damaged and interrupted ones,
// memory initialisation, chip copies, automatic runs, single chip steps,
// offline masters, another chip chosen, the programmer unplugged and its
// memory changed elsewhere), with programmer faults, line damage (also
// damage that keeps a 16-bit sum, late bytes and damaged progress
// addresses) and unplugging at any command. After every step the line's
// promises must hold: a success means the chip holds the code the operator
// chose over the whole code, a master's configuration covers the whole
// code, a late byte fails no good chip, a failure is counted only for a
// chip, no configuration describes a half-written memory, and the
// programmer saw no misuse. A failing seed prints the shortest sequence of
// steps that still fails.
//
// KOVRA_DAY_SEEDS=N runs N seeds more (a soak run).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "chips/target_rules.h"
#include "ops/offline_master.h"
#include "ops/serial_sequence.h"
#include "support/memory_serial_journal.h"
#include "support/observed_port.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

using test::SimWorld;

enum class Act : uint8_t {
  kOpenFile,      // open-file dialog, then the download
  kRefresh,       // download the file in the path field again
  kInitMemory,    // F7
  kCopyChip,      // chip into the programming memory
  kAutoRun,       // a fresh blank chip, then the automatic run
  kAutoRunAgain,  // the automatic run on the chip already in the socket
  kBlankCheck,
  kVerify,
  kVerifyFreshChip,  // a chip from the box verified by mistake
  kChipChecksum,
  kMemoryChecksum,
  kOfflineMaster,
  kOfflineMasterDeclined,
  kToggleDebug,
  kSwitchChip,        // the other chip of the list: 8 KiB or 48 KiB of ROM
  kVerifyAlmostGood,  // a chip that differs from the code near its end
  kReplugElsewhere,   // unplugged, its memory changed on another PC, plugged back
  kSerialRun,         // a fresh blank chip given its own number (in debug mode)
};
constexpr const char* kActNames[] = {"open",
                                     "refresh",
                                     "F7",
                                     "copy-chip",
                                     "auto",
                                     "auto-same-chip",
                                     "blank-check",
                                     "verify",
                                     "verify-fresh-chip",
                                     "chip-checksum",
                                     "memory-checksum",
                                     "offline-master",
                                     "offline-master-declined",
                                     "toggle-debug",
                                     "switch-chip",
                                     "verify-almost-good",
                                     "replug-elsewhere",
                                     "serial-auto"};

// The commands each act may send, where its trouble is armed.
std::vector<uint8_t> CodesOf(Act act) {
  switch (act) {
    case Act::kOpenFile:
    case Act::kRefresh:
      return {0x0C, 0x0E, 0x0D};
    case Act::kInitMemory:
      return {0x0C};
    case Act::kCopyChip:
      return {0x0C, 0x10, 0x0A};
    case Act::kAutoRun:
    case Act::kAutoRunAgain:
      return {0x03, 0x0B, 0x05, 0x07, 0x13, 0x02};
    case Act::kSerialRun:
      return {0x03, 0x13, 0x0A, 0x07};
    case Act::kBlankCheck:
      return {0x03};
    case Act::kVerify:
    case Act::kVerifyFreshChip:
      return {0x05, 0x0A};
    case Act::kVerifyAlmostGood:
      return {0x05};
    case Act::kChipChecksum:
      return {0x02};
    case Act::kMemoryChecksum:
      return {0x0D};
    case Act::kOfflineMaster:
    case Act::kOfflineMasterDeclined:
      return {0x0C, 0x0E, 0x0D, 0x11};
    case Act::kToggleDebug:
    case Act::kSwitchChip:
    case Act::kReplugElsewhere:
      break;
  }
  return {0x01};
}

bool IsProgressCommand(uint8_t code) {
  return code == 0x02 || code == 0x03 || code == 0x05 || code == 0x0B || code == 0x0D || code == 0x10;
}

// What disturbs a step, from the moment the host sends the frame of
// `atCode`.
enum class Trouble : uint8_t {
  kNone,
  kSilent,
  kAnswerNo,
  kVoltage,
  kGarbage,
  kShortAnswer,
  kStopProgress,
  kWrongChecksum,
  kByteDamagedToProgrammer,
  kByteDamagedToHost,
  kByteLostToProgrammer,
  kLateByte,  // a byte and those behind it come late, as a USB bridge's burst
  kUnplug,
  // During the download stream only.
  kInterrupt,          // a double click on the status line
  kSwappedNeighbours,  // damage that keeps the 16-bit sum
  kOppositeFlips,
  kLostFfByte,  // made up by the fill byte at the end
  // One byte of one of the first progress addresses flipped.
  kProgressDamaged,
};
constexpr const char* kTroubleNames[] = {"",
                                         "silent",
                                         "answer-no",
                                         "voltage",
                                         "garbage",
                                         "short-answer",
                                         "stop-progress",
                                         "wrong-checksum",
                                         "damaged-byte-out",
                                         "damaged-byte-in",
                                         "lost-byte-out",
                                         "late-byte-in",
                                         "unplug",
                                         "interrupt",
                                         "swapped-neighbours",
                                         "opposite-flips",
                                         "lost-ff-byte",
                                         "damaged-progress"};

struct Step {
  Act act;
  int file = 0;
  Trouble trouble = Trouble::kNone;
  uint8_t atCode = 0;
  uint32_t after = 0;  // bytes (damage) or stream writes (interrupt) before it strikes
};

std::string Describe(const Step& s) {
  std::ostringstream out;
  out << kActNames[static_cast<int>(s.act)];
  if (s.act == Act::kOpenFile) out << " file" << s.file;
  if (s.trouble != Trouble::kNone) {
    out << " [" << kTroubleNames[static_cast<int>(s.trouble)] << " at 0x" << std::hex << int{s.atCode} << std::dec;
    if (s.after) out << " after " << s.after;
    out << "]";
  }
  return out.str();
}

// Code files: raw binaries of distinct contents, one for the 48 KiB chip,
// one reaching beyond FFFFH, and a HEX file whose fifth record is damaged:
// nothing of it may reach a chip. The first two end in an even page, where
// one flipped bit takes an address from just below the end to just past it.
struct CodeFile {
  const char* name;
  uint32_t size;
  uint8_t salt;
};
constexpr CodeFile kFiles[] = {{"a.bin", 0x1700, 0x11},
                               {"b.bin", 0x0B00, 0x5A},
                               {"big.bin", 0xC000, 0x27},
                               {"wide.bin", 0x12700, 0x93},
                               {"broken.hex", 0, 0}};

constexpr const char* kDayChipList =
    "NOSELEC OTP 0 VCC 5V 1\n"
    "KV86P48 OTP 0 12V 5V 1\n"   // ROM to 1FFFH
    "KV88C0A OTP 0 12V 5V 1\n";  // ROM to BFFFH

bool Broken(const CodeFile& f) { return f.size == 0; }

uint8_t FileByte(const CodeFile& f, uint32_t address) {
  return static_cast<uint8_t>((address * 7 + f.salt) ^ (address >> 8));
}

std::string FileContents(const CodeFile& f) {
  if (Broken(f)) {
    std::string text = test::SampleHex(0x400);
    size_t line = 0;
    for (int i = 0; i < 4; ++i) line = text.find('\n', line) + 1;
    text[line + 9] = text[line + 9] == '0' ? '1' : '0';  // a data digit: the record's sum no longer fits
    return text;
  }
  std::string out(f.size, '\0');
  for (uint32_t a = 0; a < f.size; ++a) out[a] = static_cast<char>(FileByte(f, a));
  return out;
}

Step RandomStep(std::mt19937& rng) {
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  static constexpr Act kWeighted[] = {Act::kOpenFile,
                                      Act::kOpenFile,
                                      Act::kRefresh,
                                      Act::kInitMemory,
                                      Act::kCopyChip,
                                      Act::kAutoRun,
                                      Act::kAutoRun,
                                      Act::kAutoRun,
                                      Act::kAutoRun,
                                      Act::kAutoRunAgain,
                                      Act::kSerialRun,
                                      Act::kSerialRun,
                                      Act::kBlankCheck,
                                      Act::kVerify,
                                      Act::kVerifyFreshChip,
                                      Act::kChipChecksum,
                                      Act::kMemoryChecksum,
                                      Act::kOfflineMaster,
                                      Act::kOfflineMasterDeclined,
                                      Act::kToggleDebug,
                                      Act::kSwitchChip,
                                      Act::kVerifyAlmostGood,
                                      Act::kVerifyAlmostGood,
                                      Act::kVerifyAlmostGood,
                                      Act::kVerifyAlmostGood,
                                      Act::kReplugElsewhere};
  Step s{kWeighted[pick(std::size(kWeighted))]};
  s.file = static_cast<int>(pick(std::size(kFiles)));
  if (pick(2) == 0) {
    const std::vector<uint8_t> codes = CodesOf(s.act);
    const bool streams = std::find(codes.begin(), codes.end(), 0x0E) != codes.end();
    std::vector<uint8_t> progress;
    std::copy_if(codes.begin(), codes.end(), std::back_inserter(progress), IsProgressCommand);
    s.trouble = static_cast<Trouble>(1 + pick(static_cast<uint32_t>(Trouble::kUnplug)));
    s.atCode = codes[pick(static_cast<uint32_t>(codes.size()))];
    s.after = pick(3) == 0 ? 0 : pick(600);
    if (streams && pick(3) == 0) {
      s.trouble = static_cast<Trouble>(static_cast<uint32_t>(Trouble::kInterrupt) + pick(4));
      s.atCode = 0x0E;
    } else if (!progress.empty() && pick(2) == 0) {
      // After the frame answer and the acknowledgement: one byte of one of
      // the first four addresses, mostly the middle one.
      s.trouble = Trouble::kProgressDamaged;
      s.atCode = progress[pick(static_cast<uint32_t>(progress.size()))];
      s.after = 21 + 2 + 3 * pick(4) + (pick(2) ? 1 : pick(3));
    } else if (pick(3) == 0) {
      // A burst boundary in one of the first answers after the frame's.
      s.trouble = Trouble::kLateByte;
      s.after = 21 + pick(16);
    }
  }
  return s;
}

// A port that damages one write of the download stream on its way to the
// programmer, as a line would; the host believes it sent what it wrote.
class DamagingPort : public test::ObservedPort {
 public:
  using ObservedPort::ObservedPort;
  // Changes the bytes in place; false when this write offers nothing to
  // damage (the next one is tried).
  std::function<bool(std::vector<uint8_t>& bytes)> damage;

  SerialTransfer Write(const uint8_t* data, size_t count) override {
    if (!damage) return ObservedPort::Write(data, count);
    std::vector<uint8_t> bytes(data, data + count);
    if (!damage(bytes)) return ObservedPort::Write(data, count);
    damage = nullptr;
    return ObservedPort::Write(bytes.data(), bytes.size());
  }
};

bool SwapNeighbours(std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] != bytes[i + 1]) {
      std::swap(bytes[i], bytes[i + 1]);
      return true;
    }
  }
  return false;
}

// One bit set in one byte and cleared in another: the sum stays.
bool FlipOpposite(std::vector<uint8_t>& bytes) {
  for (int bit = 0; bit < 8; ++bit) {
    const uint8_t mask = static_cast<uint8_t>(1 << bit);
    auto clear = std::find_if(bytes.begin(), bytes.end(), [&](uint8_t b) { return (b & mask) == 0; });
    auto set = std::find_if(bytes.begin(), bytes.end(), [&](uint8_t b) { return (b & mask) != 0; });
    if (clear != bytes.end() && set != bytes.end()) {
      *clear |= mask;
      *set &= static_cast<uint8_t>(~mask);
      return true;
    }
  }
  return false;
}

bool LoseFfByte(std::vector<uint8_t>& bytes) {
  auto ff = std::find(bytes.begin(), bytes.end(), 0xFF);
  if (ff == bytes.end()) return false;
  bytes.erase(ff);
  return true;
}

// The day's promises, checked after every step; the first broken one.
class Day {
 public:
  Day() {
    for (const CodeFile& f : kFiles) w_.dir.Write(f.name, FileContents(f));
    w_.window.SetChecked(id::kDebugMode, false);
    port_.onFrame = [this](uint8_t code) { OnFrame(code); };
    port_.onWrite = [this](const uint8_t*, size_t) {
      if (step_.trouble == Trouble::kInterrupt && streaming_ && ++writes_ > step_.after)
        w_.state.interruptRequested = 1;
    };
    // A cable pulled in the middle of a command: after some reads.
    port_.onRead = [this] {
      if (step_.trouble == Trouble::kUnplug && struck_ && !unplugged_ && reads_++ >= step_.after % 40) {
        unplugged_ = true;
        w_.rig.bridge.Unplug();
      }
    };
    Heal();
  }

  // Empty when every promise held.
  std::string Play(const Step& step) {
    step_ = step;
    serialGiven_ = false;
    struck_ = false;
    streaming_ = false;
    writes_ = 0;
    reads_ = 0;
    unplugged_ = false;
    configAfterInterrupt_ = false;
    const uint32_t successes = w_.state.successCount;
    const uint32_t failures = w_.state.failureCount;
    // Code confirmed in the memory, chips programmed from it, the frames
    // carrying its true sum: a blank chip must pass on a sound line.
    const bool soundRun = step.act == Act::kAutoRun && w_.state.codeLoaded && !Debug() &&
                          w_.window.GetText(id::kChecksumField) ==
                              Hex4(w_.rig.programmer.MemorySum(w_.state.memoryStart, w_.state.memoryEnd));
    if (step.trouble == Trouble::kNone) Strike();  // nothing to arm
    // Only what this step writes counts.
    w_.window.SetText(id::kStatusLine, "");
    Run(step);
    const bool damaged = struck_ && step.trouble != Trouble::kNone && step.trouble != Trouble::kLateByte;

    std::string broken;
    const std::string status = w_.Status();
    // A chip given a number holds it where the code would be, and no
    // other chip holds it.
    const std::vector<uint8_t> number =
        serialGiven_ ? ParseHexBytes(w_.state.runSerial).value_or(std::vector<uint8_t>{}) : std::vector<uint8_t>{};
    if (w_.state.successCount != successes && !ChipHoldsTheCode(0, IntendedEnd(), number))
      broken = "counted a chip that lacks the code";
    if (IsVerifiedText(status) && !ChipHoldsTheCode(w_.state.programStart, w_.state.programEnd, number))
      broken = "said \"" + status + "\" for a chip that lacks the code";
    if (w_.state.successCount != successes && serialGiven_ && !numbersOnGoodChips_.insert(number).second)
      broken = "counted a second chip with the number " + w_.state.runSerial;
    if (status == kTextMasterReady && !ConfigCoversTheCode())
      broken = "made a master whose configuration does not cover the code";
    if (step.trouble == Trouble::kLateByte && struck_ && soundRun && w_.state.failureCount != failures)
      broken = "a late answer byte failed a blank chip: " + status;
    if (w_.state.failureCount != failures && unplugged_) broken = "counted a pulled cable as a chip failure";
    if (configAfterInterrupt_) broken = "wrote an offline configuration after an interrupted download";
    // What scripts and the record read must be what the counters say.
    const bool counted = w_.state.successCount != successes || w_.state.failureCount != failures;
    if (counted && (w_.state.successCount != successes) != w_.state.outcome.passed())
      broken = "the outcome says otherwise than the counters: " + std::string(FailureName(w_.state.outcome.failure));
    if (broken.empty() && !MemoryAsClaimed()) broken = "codeLoaded is set, but the programming memory lacks the code";
    const auto violations = w_.rig.Violations();
    if (broken.empty() && !damaged && !violations.empty()) broken = "the programmer saw misuse: " + violations[0].text;
    if (w_.state.busy) broken = "still busy after the step";
    w_.rig.programmer.ClearViolations();
    Heal(damaged);
    return broken;
  }

 private:
  void Button(int control, int group) {
    OnCommandRequest(ctx_, control, group);
    w_.worker.WaitIdle();
  }

  void Run(const Step& step) {
    switch (step.act) {
      case Act::kOpenFile:
        w_.dialogs.Answer((w_.dir.path() / kFiles[step.file].name).string());
        intended_ = Intended::kFile;
        file_ = step.file;
        return Button(id::kOpenFile, id::kGroupFiles);
      case Act::kRefresh:
        intended_ = w_.window.GetText(id::kFilePath).empty() ? intended_ : Intended::kFile;
        return Button(id::kRefreshMemory, id::kGroupFiles);
      case Act::kInitMemory:
        // In debug mode the image is the memory, and stays as it is.
        if (Debug()) {
          image_ = w_.state.codeImage;
          intended_ = Intended::kImage;
        } else {
          intended_ = Intended::kNothing;
        }
        OnHotKey(ctx_, kKeyF7);
        w_.worker.WaitIdle();
        return;
      case Act::kCopyChip: {
        // The copy covers 0 to the end field's address; the programmer
        // erases the rest of its memory first. In debug mode the image
        // keeps what it held around the copy.
        const sim::Chip chip = w_.rig.programmer.GetChip();
        Button(id::kCopyChip, id::kGroupFiles);
        copied_.clear();
        for (uint32_t a = 0; a <= w_.state.programEnd; ++a) copied_.push_back(chip.Read(a));
        image_ = Debug() ? w_.state.codeImage : std::vector<uint8_t>(kImageSize, 0xFF);
        intended_ = Intended::kCopiedChip;
        return;
      }
      case Act::kAutoRun:
        w_.rig.programmer.SetChip(BlankChip());
        return Button(id::kAutoProgram, id::kGroupOperations);
      case Act::kAutoRunAgain:
        return Button(id::kAutoProgram, id::kGroupOperations);
      case Act::kSerialRun: {
        // As kovra-cli runs it: from the image, verified by reading back.
        w_.rig.programmer.SetChip(BlankChip());
        serialGiven_ =
            Debug() && SerialPlacementProblem(kSerialAt, 4, w_.state.programStart, w_.state.programEnd).empty();
        if (serialGiven_) {
          ctx_.serials = serials_.get();
          w_.state.verifyByReadback = true;
          w_.state.serialAddress = kSerialAt;
        }
        Button(id::kAutoProgram, id::kGroupOperations);
        ctx_.serials = nullptr;
        w_.state.verifyByReadback = false;
        // A run refused for want of a number programs nothing.
        if (w_.state.runSerial.empty()) serialGiven_ = false;
        return;
      }
      case Act::kBlankCheck:
        return Button(id::kBlankCheck, id::kGroupOperations);
      case Act::kVerifyFreshChip:
        w_.rig.programmer.SetChip(BlankChip());
        [[fallthrough]];
      case Act::kVerify:
        return Button(id::kVerifyChip, id::kGroupOperations);
      case Act::kChipChecksum:
        return Button(id::kChipChecksum, id::kGroupOperations);
      case Act::kMemoryChecksum:
        return Button(id::kMemoryChecksum, id::kGroupOperations);
      case Act::kOfflineMasterDeclined:
        // The first box of the step: the master's confirmation, or the
        // refusal that comes instead of it.
        w_.window.QueueAnswer(MbAnswer::kNo);
        [[fallthrough]];
      case Act::kOfflineMaster: {
        // It loads the file again: in debug mode into the image first,
        // leaving debug mode, then into the programming memory.
        const bool debug = Debug();
        Button(id::kMakeMaster, id::kGroupFiles);
        if (debug && !Debug()) intended_ = Intended::kFile;
        return;
      }
      case Act::kToggleDebug:
        w_.window.SetChecked(id::kDebugMode, !Debug());
        return Button(id::kDebugMode, id::kGroupControlData);
      case Act::kSwitchChip:
        w_.window.ComboSelect(id::kChipCombo, w_.window.ComboSelection(id::kChipCombo) == 1 ? 2 : 1);
        ApplyChipSelection(ctx_);
        return;
      case Act::kVerifyAlmostGood: {
        // The code up to a byte near its end, then the rest of it.
        sim::Chip chip = BlankChip();
        const uint32_t end = IntendedEnd();
        for (uint32_t a = 0; a <= end && a < chip.rom.size(); ++a) chip.rom[a] = IntendedByte(a).value_or(0xFF);
        if (end >= 0x30 && end - 0x30 < chip.rom.size()) chip.rom[end - 0x30] ^= 0x5A;
        w_.rig.programmer.SetChip(chip);
        return Button(id::kVerifyChip, id::kGroupOperations);
      }
      case Act::kReplugElsewhere: {
        w_.rig.bridge.Unplug();
        OnWindowTimer(ctx_);
        w_.worker.WaitIdle();
        // Two neighbouring bytes of the code exchanged: the same 16-bit sum.
        std::vector<uint8_t> memory = w_.rig.programmer.ReadMemory(0, IntendedEnd() + 1);
        SwapNeighbours(memory);
        w_.rig.programmer.WriteMemory(0, memory);
        return;  // Heal plugs it back in and reconnects
      }
    }
  }

  sim::Chip BlankChip() { return sim::Chip::Blank(sim::ChipType::kOtp, ChipRomEnd(ctx_) + 1); }

  void OnFrame(uint8_t code) {
    streaming_ = code == 0x0E;
    if (code == 0x0C && step_.act == Act::kOfflineMaster) intended_ = Intended::kFile;
    if (code == 0x11 && step_.trouble == Trouble::kInterrupt && struck_ && w_.state.interruptRequested) {
      configAfterInterrupt_ = true;
    }
    // The trouble belongs to the step, not to the reconnect after it.
    if (struck_ || healing_ || code != step_.atCode) return;
    Strike();
  }

  void Strike() {
    struck_ = true;
    const uint64_t after = step_.after;
    switch (step_.trouble) {
      case Trouble::kNone:
      case Trouble::kInterrupt:
      case Trouble::kUnplug:  // armed: it strikes in the reads that follow
        return;
      case Trouble::kSwappedNeighbours:
      case Trouble::kOppositeFlips:
      case Trouble::kLostFfByte: {
        uint32_t writes = 0;
        port_.damage = [this, writes](std::vector<uint8_t>& bytes) mutable {
          if (!streaming_ || writes++ < step_.after) return false;
          switch (step_.trouble) {
            case Trouble::kSwappedNeighbours:
              return SwapNeighbours(bytes);
            case Trouble::kOppositeFlips:
              return FlipOpposite(bytes);
            default:
              return LoseFfByte(bytes);
          }
        };
        return;
      }
      default:
        return w_.rig.programmer.UpdateFaults([&](sim::Faults& f) {
          switch (step_.trouble) {
            case Trouble::kSilent:
              f.silent = true;
              break;
            case Trouble::kAnswerNo:
              f.answerNo = true;
              break;
            case Trouble::kVoltage:
              f.voltage = '1';
              break;
            case Trouble::kGarbage:
              f.garbage = true;
              break;
            case Trouble::kShortAnswer:
              f.shortAnswer = true;
              break;
            case Trouble::kStopProgress:
              f.stopProgressAt = 0x0100;
              break;
            case Trouble::kWrongChecksum:
              f.wrongChecksum = true;
              break;
            case Trouble::kByteDamagedToProgrammer:
              f.toDevice = {sim::WireFault::Kind::kCorrupt, 21 + after, 1};
              break;
            case Trouble::kByteDamagedToHost:
            case Trouble::kProgressDamaged:
              f.toHost = {sim::WireFault::Kind::kCorrupt, after, 1};
              break;
            case Trouble::kByteLostToProgrammer:
              f.toDevice = {sim::WireFault::Kind::kDrop, 21 + after, 1};
              break;
            case Trouble::kLateByte:
              f.toHost = {sim::WireFault::Kind::kLate, after, 1};
              break;
            default:
              break;
          }
        });
    }
  }

  // Back to a sound line: faults off, the bridge plugged, connected. After
  // trouble the programmer may still be busy with a command the host gave
  // up on; the next step starts once it is done.
  void Heal(bool afterTrouble = false) {
    healing_ = true;
    w_.rig.programmer.SetFaults({});
    port_.damage = nullptr;
    for (int wait = 0; afterTrouble && wait < 300 && (w_.rig.Sync(), !w_.rig.programmer.Idle()); ++wait) {
      w_.clock.SleepMs(100);
    }
    w_.rig.bridge.Replug();
    w_.state.interruptRequested = 0;
    for (int tick = 0; tick < 4 && !w_.state.connected; ++tick) {
      OnWindowTimer(ctx_);
      w_.worker.WaitIdle();
    }
    w_.rig.programmer.ClearViolations();
    healing_ = false;
  }

  bool Debug() { return w_.window.IsChecked(id::kDebugMode); }

  static bool IsVerifiedText(const std::string& status) {
    return status == "自动编程已成功完成" || status == "校验芯片成功" || status == "校验芯片成功!";
  }

  // The last address of what the operator means the chips to get.
  uint32_t IntendedEnd() const {
    switch (intended_) {
      case Intended::kFile:
        return kFiles[file_].size == 0 ? 0 : kFiles[file_].size - 1;
      case Intended::kCopiedChip:
        return copied_.empty() ? 0 : static_cast<uint32_t>(copied_.size() - 1);
      case Intended::kNothing:
      case Intended::kImage:
        break;
    }
    return w_.state.programEnd;
  }

  // What the operator means the chips to get.
  std::optional<uint8_t> IntendedByte(uint32_t address) const {
    switch (intended_) {
      case Intended::kNothing:
        return std::nullopt;
      case Intended::kFile:
        if (Broken(kFiles[file_])) return std::nullopt;
        return address < kFiles[file_].size ? FileByte(kFiles[file_], address) : 0xFF;
      case Intended::kCopiedChip:
        return address < copied_.size() ? copied_[address] : image_[address];
      case Intended::kImage:
        return image_[address];
    }
    return std::nullopt;
  }

  // With a number, its bytes stand at kSerialAt instead of the code's.
  bool ChipHoldsTheCode(uint32_t first, uint32_t last, const std::vector<uint8_t>& number = {}) {
    // Programmed, or reading as the code: a copied read-protected chip
    // reads as zeros, and so does its copy.
    const sim::Chip chip = w_.rig.programmer.GetChip();
    for (uint32_t a = first; a <= last; ++a) {
      const bool numbered = a >= kSerialAt && a - kSerialAt < number.size();
      const std::optional<uint8_t> want = numbered ? number[a - kSerialAt] : IntendedByte(a);
      const uint8_t raw = a < chip.rom.size() ? chip.rom[a] : 0xFF;
      if (!want || (*want != raw && *want != chip.Read(a))) return false;
    }
    return true;
  }

  // Offline chips are programmed from 0 to the configuration's end, from
  // the memory.
  bool ConfigCoversTheCode() {
    const auto config = w_.rig.programmer.OfflineConfig();
    if (!config) return false;
    const auto& b = *config;
    const uint32_t start = uint32_t{b[16]} << 16 | uint32_t{b[17]} << 8 | b[18];
    const uint32_t end = uint32_t{b[19]} << 16 | uint32_t{b[6]} << 8 | b[7];
    if (start != 0 || end < IntendedEnd()) return false;
    const std::vector<uint8_t> memory = w_.rig.programmer.ReadMemory(0, end + 1);
    for (uint32_t a = 0; a <= end; ++a) {
      if (IntendedByte(a) != memory[a]) return false;
    }
    return true;
  }

  // In normal mode codeLoaded vouches for the programmer's memory.
  bool MemoryAsClaimed() {
    if (!w_.state.codeLoaded || Debug()) return true;
    const std::vector<uint8_t> memory = w_.rig.programmer.ReadMemory(0, w_.state.memoryEnd + 1);
    for (uint32_t a = w_.state.memoryStart; a <= w_.state.memoryEnd; ++a) {
      const std::optional<uint8_t> want = IntendedByte(a);
      if (!want || *want != memory[a]) return false;
    }
    return true;
  }

  enum class Intended { kNothing, kFile, kCopiedChip, kImage };
  static constexpr uint32_t kSerialAt = 0x0100;

  SimWorld w_{"KV86P48", "COM5", kDayChipList};
  DamagingPort port_{w_.rig.port};
  AppContext ctx_{w_.state, w_.window,  w_.registry, w_.clock,         w_.sound,  w_.dialogs,
                  port_,    w_.portMap, w_.worker,   w_.programFolder, w_.records};
  Step step_{Act::kBlankCheck};
  bool struck_ = false;
  bool healing_ = false;
  bool streaming_ = false;
  uint32_t writes_ = 0;
  uint32_t reads_ = 0;
  bool unplugged_ = false;
  bool configAfterInterrupt_ = false;
  Intended intended_ = Intended::kNothing;
  int file_ = 0;
  std::vector<uint8_t> copied_;
  std::vector<uint8_t> image_;
  test::MemorySerialJournal journal_;
  std::unique_ptr<SerialSequence> serials_ = [this] {
    std::string error;
    return SerialSequence::FromRule({kSerialAt, 4, Encoding::kBinaryLittle, 1, 1, 0xFFFFFFFF}, journal_, error);
  }();
  bool serialGiven_ = false;
  std::set<std::vector<uint8_t>> numbersOnGoodChips_;
};

// Plays the steps on a fresh day; the index of the first step that broke a
// promise and what it broke.
std::optional<std::pair<size_t, std::string>> Replay(const std::vector<Step>& steps) {
  Day day;
  for (size_t i = 0; i < steps.size(); ++i) {
    std::string broken = day.Play(steps[i]);
    if (!broken.empty()) return std::make_pair(i, broken);
  }
  return std::nullopt;
}

// Drops steps, then troubles, one by one while the day still fails.
std::vector<Step> Shrink(std::vector<Step> steps) {
  for (size_t i = steps.size(); i-- > 0;) {
    std::vector<Step> shorter = steps;
    shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(i));
    if (Replay(shorter)) steps = std::move(shorter);
  }
  for (Step& step : steps) {
    const Step kept = step;
    step.trouble = Trouble::kNone;
    if (!Replay(steps)) step = kept;
  }
  return steps;
}

void PlayDay(uint32_t seed, size_t length) {
  std::mt19937 rng(seed);
  std::vector<Step> steps;
  for (size_t i = 0; i < length; ++i) steps.push_back(RandomStep(rng));
  const auto failure = Replay(steps);
  if (!failure) return;
  steps.resize(failure->first + 1);
  const std::vector<Step> shortest = Shrink(steps);
  const auto again = Replay(shortest);
  std::ostringstream out;
  out << "seed " << seed << ": " << (again ? again->second : failure->second) << "\nshortest sequence:\n";
  for (const Step& s : shortest) out << "  " << Describe(s) << "\n";
  ADD_FAILURE() << out.str();
}

TEST(ProductionDay, EveryPromiseHoldsAfterEveryStep) {
  constexpr size_t kLength = 60;
  for (uint32_t seed = 1; seed <= 40; ++seed) PlayDay(seed, kLength);
  if (const char* more = std::getenv("KOVRA_DAY_SEEDS")) {
    const uint32_t count = static_cast<uint32_t>(std::strtoul(more, nullptr, 10));
    for (uint32_t seed = 1000; seed < 1000 + count; ++seed) PlayDay(seed, 400);
  }
}

}  // namespace
}  // namespace kovra
