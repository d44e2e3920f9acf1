// SPDX-License-Identifier: MIT
// The floor of the command line's production line: the virtual time of
// RunLine against the simulated programmer behind a port that behaves like
// kovra-sim's pseudo-terminal. Virtual time is the host's waits, the line
// time and the programmer's work, with no host overhead; it is what
// bench/line_figures.sh holds the wall time of `kovra-cli program` against.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/sim_on_pty.h"
#include "cli/line.h"
#include "ops/serial_sequence.h"
#include "platform/record_file.h"
#include "support/memory_serial_journal.h"
#include "support/sample_files.h"

namespace kovra {
namespace {

using bench::Code;
using bench::kChipList;
using bench::kCodeSize;
using bench::SimOnPty;

cli::Job ChipJob(const test::TempDir& dir) {
  cli::Job job;
  job.codeFile = dir.Write("code.hex", test::SampleHex(kCodeSize));
  job.chipList = dir.Write("samlist.txt", kChipList);
  job.chip = "KV86C08";
  return job;
}

// `kovra-cli program code.hex --chip KV86C08 --count N` on one programmer,
// whose memory holds the code already (the steady state of a line) or is
// erased (a line's first chip: the download is part of the job). A new
// blank chip goes in between chips, taking no time. Virtual time is the
// iteration time.
// With serials, each chip gets its own number at 0100H, as
// `--serial 0100:4:le:1:1:4294967295` gives it: streamed from the image and
// read back.
void ProgramChips(benchmark::State& state, bool memoryHoldsCode, int count, bool serials = false) {
  const test::TempDir dir;
  cli::Job job = ChipJob(dir);
  uint64_t totalUs = 0;
  for (auto _ : state) {
    SimOnPty p;
    if (memoryHoldsCode) p.rig.programmer.WriteMemory(0, Code());
    test::MemorySerialJournal journal;
    std::string error;
    const auto sequence =
        SerialSequence::FromRule({0x100, 4, Encoding::kBinaryLittle, 1, 1, 0xFFFFFFFF}, journal, error);
    if (serials) job.serials = cli::JobSerials{sequence.get(), 0x100, 4};
    uint32_t number = 0;
    bool chipsProgrammed = true;
    auto checkChip = [&] {
      std::vector<uint8_t> want = Code();
      if (serials) {
        ++number;
        for (int i = 0; i < 4; ++i) want[0x100 + i] = static_cast<uint8_t>(number >> (8 * i));
      }
      chipsProgrammed = chipsProgrammed && p.rig.programmer.GetChip().rom == want;
    };
    MemoryRecordFile records;
    const cli::LineSummary summary =
        cli::RunLine({p.Port()}, job, count, records, bench::QuietLine([&] {
                       checkChip();
                       p.rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, kCodeSize));
                       return true;
                     }));
    const uint64_t us = p.clock.NowUs();
    checkChip();
    if (summary.passed != count || !chipsProgrammed || !p.rig.Violations().empty()) {
      state.SkipWithError("the chips were not programmed cleanly");
      return;
    }
    totalUs += us;
    state.SetIterationTime(static_cast<double>(us) / 1e6);
  }
  const double ms = static_cast<double>(totalUs) / static_cast<double>(state.iterations()) / 1000.0;
  state.counters["virtual_ms"] = ms;
  state.counters["chips_per_hour"] = count * 3'600'000.0 / ms;
}

void LineChipSteady(benchmark::State& state) { ProgramChips(state, true, 1); }
BENCHMARK(LineChipSteady)->UseManualTime()->Unit(benchmark::kMillisecond);

void LineChipFirst(benchmark::State& state) { ProgramChips(state, false, 1); }
BENCHMARK(LineChipFirst)->UseManualTime()->Unit(benchmark::kMillisecond);

// One chip given its own number, the code already in the memory.
void LineChipSerial(benchmark::State& state) { ProgramChips(state, true, 1, true); }
BENCHMARK(LineChipSerial)->UseManualTime()->Unit(benchmark::kMillisecond);

// A run of chips from a memory that holds the code: the station connects
// and confirms the memory once, for its first chip.
void LineCount(benchmark::State& state) { ProgramChips(state, true, static_cast<int>(state.range(0))); }
BENCHMARK(LineCount)->Arg(5)->Arg(10)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kovra
