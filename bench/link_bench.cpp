// SPDX-License-Identifier: MIT
// The host's virtual time against the simulated programmer, next to the
// least time the protocol's waits and the programmer's own work allow.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "base/control_ids.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMs = 1000;
constexpr uint32_t kEnd32K = 0x7FFF;
const sim::Timing kTiming = sim::Timing::Realistic();
// The memory checksum's result, which also closes a download.
constexpr const char* kSumDone = "编程内存检查和 =  ";

constexpr const char* kBenchChipList = "NOSELEC OTP 0 VCC 5V 1\nKV86C99 OTP 0 12V 5V 1\n";

// The application connected to the simulated programmer on COM5, a blank
// 32 KiB OTP chip in its socket and the chip's default options ticked.
// Beeps take their time, as the speaker's do.
struct World : test::SimWorld {
  World() : SimWorld("KV86C99", "COM5", kBenchChipList) {
    sound.clock = &clock;
    window.SetChecked(id::kDebugMode, false);
    Tick();
  }

  // Presses a button and waits for its operation; the virtual µs it took.
  uint64_t Press(int control, int group) {
    const uint64_t before = clock.NowUs();
    OnCommandRequest(ctx, control, group);
    worker.WaitIdle();
    return clock.NowUs() - before;
  }
  bool Clean() { return state.linkError == 0 && rig.Violations().empty(); }
};

// The least time of a sequence, in µs: the host's pauses and polls, its
// bytes on the line (rounded up to the µs a write, as the line does), and
// the programmer's work and answers. A read ends when both the host's pause
// before it and the bytes it waits for are over, so overlapping waits count
// once. Purge and line setup take no time.
class Floor {
 public:
  uint64_t Us() const { return t_; }
  void Pause(uint64_t us) { t_ += us; }
  void Write(size_t bytes) { t_ += kTiming.WireUs(bytes); }
  // DSR is read after each 1 ms sleep; at least one sleep.
  void PollDsr(uint64_t busyUntil) {
    t_ += kMs;
    while (t_ < busyUntil) t_ += kMs;
  }
  // The programmer starts an answer at `at`, behind what it is still
  // sending; the host has read it when its last byte is in.
  void Answer(uint64_t at, size_t bytes) {
    lineFree_ = std::max(at, lineFree_) + kTiming.WireUs(bytes);
    t_ = std::max(t_, lineFree_);
  }
  // DSR wait, frame, the 50 ms pause, the frame's answer. Returns when the
  // frame's last byte reached the programmer.
  uint64_t Frame(uint64_t busyUntil = 0) {
    PollDsr(busyUntil);
    Write(kRequestFrameSize);
    const uint64_t arrived = t_;
    Pause(50 * kMs);
    Answer(arrived + kTiming.frameAnswerUs, kRequestFrameSize);
    return arrived;
  }
  // A range command from address 0: acknowledgement, then a walk a page at
  // a time, an address at a page boundary before the end once `intervalUs`
  // has passed since the last one and end + 1 when done; the host pauses
  // before reading each. Returns when the walk ended.
  uint64_t Range(uint64_t ackUs, uint32_t end, uint64_t byteUs, uint64_t intervalUs, uint64_t pauseMs,
                 uint64_t busyUntil = 0) {
    const uint64_t ack = Frame(busyUntil) + kTiming.frameAnswerUs + ackUs;
    Answer(ack, 2);
    uint64_t now = ack;
    uint64_t last = ack;
    for (uint32_t page = 0; page <= end; page += 0x100) {
      const uint32_t next = std::min(page | 0xFF, end) + 1;
      now += (next - page) * byteUs;
      if (next > end || now - last < intervalUs) continue;
      Pause(pauseMs * kMs);
      Answer(now, 3);
      last = now;
    }
    Pause(pauseMs * kMs);
    Answer(now, 3);
    return now;
  }

 private:
  uint64_t t_ = 0;
  uint64_t lineFree_ = 0;  // programmer to host
};

// 0x0D: memory read at 4 µs a byte, 50 ms before each progress read, then the checksum word.
void MemorySumFloor(Floor& f, uint32_t end, uint64_t busyUntil = 0) {
  const sim::Timing& t = kTiming;
  f.Answer(f.Range(t.memoryAckUs, end, t.memoryReadByteUs, t.memorySumProgressUs, 50, busyUntil), 2);
}

// 0x0F: acknowledgement, 50 ms, then the bytes read at 4 µs each, sent
// with their checksum word.
void MemoryBlockFloor(Floor& f, uint32_t count) {
  const uint64_t ack = f.Frame() + kTiming.frameAnswerUs + kTiming.memoryAckUs;
  f.Answer(ack, 2);
  f.Pause(50 * kMs);
  f.Answer(ack + count * kTiming.memoryReadByteUs, count + 2);
}

// 0x0C and its "ROMOK" after the erase, 200 ms, 0x0E and 8-byte writes with
// 30 ms and a DSR wait before the last chunk of each page and before the
// first of the next (the page write shows on DSR), 500 ms, 0x0D, then the
// memory read back in blocks of 1024 bytes, since a matching sum is no
// proof of the bytes.
uint64_t DownloadFloorUs(uint32_t end) {
  Floor f;
  f.Answer(f.Frame() + kTiming.frameAnswerUs + kTiming.memoryEraseUs, 5);
  f.Pause(200 * kMs);
  f.Frame();
  uint64_t busyUntil = 0;
  for (uint32_t a = 0; a <= end; a += 8) {
    const bool lastChunk = (a & 0xFF) == 0xF8;
    if (lastChunk || ((a & 0xFF) == 0 && a != 0)) {
      f.Pause(30 * kMs);
      f.PollDsr(busyUntil);
    }
    f.Write(8);
    if (lastChunk) busyUntil = std::max(f.Us(), busyUntil) + kTiming.memoryPageWriteUs;
  }
  f.Pause(500 * kMs);
  MemorySumFloor(f, end, busyUntil);
  for (uint32_t a = 0; a <= end; a += 1024) MemoryBlockFloor(f, std::min(a + 1023, end) - a + 1);
  return f.Us();
}

// The memory variant with an OTP chip's defaults: start beep, blank check,
// program with its verdict, verify, read protection, 50 ms after each step,
// success beep.
uint64_t AutoProgramFloorUs(uint32_t end) {
  const sim::Timing& t = kTiming;
  Floor f;
  f.Pause(100 * kMs);
  f.Range(t.chipAckUs, end, t.chipReadByteUs, t.blankProgressUs, 50);
  f.Pause(50 * kMs);
  f.Answer(f.Range(t.chipAckUs, end, t.memoryReadByteUs + t.chipProgramByteUs, t.programProgressUs, 0), 2);
  f.Pause(50 * kMs);
  f.Range(t.chipAckUs, end, t.chipReadByteUs + t.memoryReadByteUs, t.verifyProgressUs, 150);
  f.Pause(50 * kMs);
  f.Answer(f.Frame() + t.frameAnswerUs + t.chipSettingUs, 2);
  f.Pause(50 * kMs);
  f.Pause(500 * kMs);
  return f.Us();
}

// Virtual time is the iteration time; every iteration is the same sequence,
// which has to end with the status line beginning with `done`.
template <typename Step>
void Measure(benchmark::State& state, World& w, const std::string& done, uint64_t floorUs, Step step) {
  uint64_t totalUs = 0;
  for (auto _ : state) {
    const uint64_t us = step();
    const std::string status = w.window.GetText(id::kStatusLine);
    if (!w.Clean() || !status.starts_with(done)) {
      state.SkipWithError(status.c_str());
      return;
    }
    totalUs += us;
    state.SetIterationTime(static_cast<double>(us) / 1e6);
  }
  const auto n = static_cast<uint64_t>(state.iterations());
  const double extraUs = static_cast<double>(static_cast<int64_t>(totalUs - floorUs * n)) / static_cast<double>(n);
  state.counters["virtual_ms"] = static_cast<double>(totalUs) / static_cast<double>(n) / 1000.0;
  state.counters["floor_ms"] = static_cast<double>(floorUs) / 1000.0;
  state.counters["host_pct"] = extraUs / static_cast<double>(floorUs) * 100.0;
}

// Sixteen bytes keep the walk inside one page: a single progress read, so
// nothing in the floor hangs on the progress cadence.
void MemoryChecksumCommand(benchmark::State& state) {
  World w;
  w.window.SetText(id::kStartAddress, "0000");
  w.window.SetText(id::kEndAddress, "000F");
  Floor f;
  MemorySumFloor(f, 0xF);
  Measure(state, w, kSumDone, f.Us(), [&] { return w.Press(id::kMemoryChecksum, id::kGroupOperations); });
}
BENCHMARK(MemoryChecksumCommand)->UseManualTime()->Unit(benchmark::kMillisecond);

void WriteCode32K(World& w) {
  std::vector<char> code(kEnd32K + 1);
  for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  const fs::path file = w.dir.path() / "code.bin";
  std::ofstream(file, std::ios::binary).write(code.data(), static_cast<std::streamsize>(code.size()));
  w.window.SetText(id::kFilePath, file.string());
}

void Download32K(benchmark::State& state) {
  World w;
  WriteCode32K(w);
  Measure(state, w, kSumDone, DownloadFloorUs(kEnd32K), [&] { return w.Press(id::kRefreshMemory, id::kGroupFiles); });
}
BENCHMARK(Download32K)->UseManualTime()->Unit(benchmark::kMillisecond);

void AutoProgram32K(benchmark::State& state) {
  World w;
  WriteCode32K(w);
  w.Press(id::kRefreshMemory, id::kGroupFiles);
  Measure(state, w, "自动编程已成功完成", AutoProgramFloorUs(kEnd32K), [&] {
    w.rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, kEnd32K + 1));
    return w.Press(id::kAutoProgram, id::kGroupOperations);
  });
}
BENCHMARK(AutoProgram32K)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kovra
