// SPDX-License-Identifier: MIT
// The floor of the command line's production line: the virtual time of
// RunLine against the simulated programmer behind a port that behaves like
// kovra-sim's pseudo-terminal. Virtual time is the host's waits, the line
// time and the programmer's work, with no host overhead; it is what
// bench/line_figures.sh holds the wall time of `kovra-cli program` against.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cli/line.h"
#include "link/registry_port_map.h"
#include "ops/serial_sequence.h"
#include "platform/record_file.h"
#include "support/memory_serial_journal.h"
#include "support/observed_port.h"
#include "support/sample_files.h"
#include "support/sim_serial_port.h"
#include "support/virtual_clock.h"

namespace kovra {
namespace {

// The chip and the file line_figures.sh programs: KV86C08's row of
// data/samlist.txt, 8 KiB of SampleHex.
constexpr uint32_t kCodeSize = 0x2000;
constexpr const char* kChipList = "NOSELEC     OTP   0   VCC   5V   1\nKV86C08     OTP   0   12V   5V   1\n";

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
// write at once), a blank 8 KiB OTP chip in the socket.
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

std::vector<uint8_t> Code() {
  std::vector<uint8_t> code(kCodeSize);
  for (uint32_t a = 0; a < kCodeSize; ++a) code[a] = static_cast<uint8_t>((a * 7 + 3) & 0xFF);
  return code;
}

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
        cli::RunLine({p.Port()}, job, count, records,
                     {.result = [](const std::string&, const cli::Result&) {},
                      .status = [](const std::string&, const std::string&) {},
                      .progress = [](const std::string&, const ProgressEvent&) {},
                      .message = [](const std::string&, const std::string&, const std::string&) {},
                      .nextChip =
                          [&] {
                            checkChip();
                            p.rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, kCodeSize));
                            return true;
                          }});
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
