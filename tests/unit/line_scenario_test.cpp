// SPDX-License-Identifier: MIT
// The command line's production line against simulated programmers, each
// on its own bridge and its own virtual clock, the stations on their own
// threads as kovra-cli runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <list>
#include <mutex>

#include "base/text_helpers.h"
#include "cli/line.h"
#include "link/registry_port_map.h"
#include "ops/production_record.h"
#include "support/sample_files.h"
#include "support/sim_serial_port.h"
#include "support/sim_world.h"
#include "support/virtual_clock.h"

namespace kovra::test {
namespace {

using cli::Job;
using cli::LineSummary;
using cli::Result;
using cli::ResultLine;
using cli::RunLine;
using cli::StationPort;

constexpr uint32_t kCodeSize = 0x800;

uint16_t SumOf(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint16_t>(sum);
}

// One programmer with a blank OTP chip (KV86P48: 8 KiB) on its bridge.
struct Bench {
  explicit Bench(const std::string& com) : rig(clock, registry, {.comName = com}) { NewChip(); }
  void NewChip() { rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, 0x2000)); }
  StationPort Port() { return {rig.bridge.ComName(), &rig.port, &map, &clock}; }
  std::vector<uint8_t> Codes() {
    std::vector<uint8_t> codes;
    for (const auto& entry : rig.programmer.Log()) {
      if (entry.kind == sim::LogEntry::Kind::kFromHost && entry.what.starts_with("frame")) {
        codes.push_back(entry.bytes[20]);
      }
    }
    return codes;
  }
  bool ChipHolds(const std::vector<uint8_t>& code) {
    const auto rom = rig.programmer.GetChip().rom;
    return std::equal(code.begin(), code.end(), rom.begin());
  }

  VirtualClock clock;
  MemoryRegistry registry;
  SimRig rig;
  RegistryPortMap map{registry};
};

// A line of benches, its output collected.
struct Line {
  explicit Line(std::initializer_list<std::string> coms) {
    for (const auto& com : coms) benches.emplace_back(com);
    job.codeFile = dir.Write("code.hex", SampleHex(kCodeSize));
    job.chipList = dir.Write("samlist.txt", kScenarioChipList);
    job.chip = "KV86P48";
    job.recordPath = "line.csv";
  }
  LineSummary Run(int count = 1) {
    std::vector<StationPort> ports;
    for (Bench& bench : benches) ports.push_back(bench.Port());
    return RunLine(ports, job, count, records,
                   {.result =
                        [this](const std::string& port, const Result& result) {
                          std::lock_guard lock(mutex);
                          results.push_back(ResultLine(port, result));
                        },
                    .status = [](const std::string&, const std::string&) {},
                    .progress = [](const std::string&, const ProgressEvent&) {},
                    .message = [](const std::string&, const std::string&, const std::string&) {},
                    .nextChip =
                        [this] {
                          if (goAheads.empty()) return false;
                          goAheads.pop_front();
                          for (Bench& bench : benches) bench.NewChip();
                          return true;
                        }});
  }
  std::string ResultOf(const std::string& com) {
    for (const auto& line : results) {
      if (line.starts_with("port: " + com + " ")) return line;
    }
    return "";
  }
  std::vector<std::string> RecordLines() {
    std::vector<std::string> lines;
    const std::string text = records.Contents(job.recordPath);
    for (size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
      lines.push_back(text.substr(from, end - from));
    }
    return lines;
  }
  std::vector<uint8_t> Code() {
    std::vector<uint8_t> code;
    for (uint32_t a = 0; a < kCodeSize; ++a) code.push_back(static_cast<uint8_t>((a * 7 + 3) & 0xFF));
    return code;
  }

  TempDir dir;
  std::list<Bench> benches;
  Job job;
  RefusingRecordFile records;
  std::mutex mutex;
  std::vector<std::string> results;
  std::deque<bool> goAheads;
};

TEST(Line, GangKeepsGoingPastAFailingAndAnUnpluggedProgrammer) {
  Line line({"COM5", "COM6", "COM7"});
  auto bench = line.benches.begin();
  Bench& good = *bench++;
  Bench& programmed = *bench++;
  Bench& unplugged = *bench;
  programmed.rig.programmer.UpdateChip([](sim::Chip& chip) { chip.rom[0x100] = 0x00; });
  // In the middle of the download.
  unplugged.rig.bridge.UnplugAt(2'500'000);

  const LineSummary summary = line.Run();

  EXPECT_EQ(summary.passed, 1);
  EXPECT_EQ(summary.failed, 2);
  EXPECT_EQ(line.ResultOf("COM5"), "port: COM5 result: pass status: 自动编程已成功完成");
  EXPECT_EQ(line.ResultOf("COM6"), "port: COM6 result: fail status: 芯片不空, 在地址: 00100");
  EXPECT_TRUE(line.ResultOf("COM7").starts_with("port: COM7 result: fail status: ")) << line.ResultOf("COM7");
  EXPECT_TRUE(good.ChipHolds(line.Code()));
  EXPECT_TRUE(good.rig.Violations().empty());
  EXPECT_TRUE(programmed.rig.Violations().empty());
  EXPECT_EQ(unplugged.rig.programmer.GetChip().rom[0], 0xFF) << "no chip is touched on the unplugged programmer";

  // One row per chip; the unplugged programmer's says why it ran none.
  const auto rows = line.RecordLines();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0] + "\r\n", kRecordHeader);
  auto rowOf = [&](const std::string& com) {
    auto row = std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.find("Z," + com + ",") != r.npos; });
    if (row == rows.end()) return std::string();
    // Without the time stamp, the elapsed seconds, and the serial and job
    // columns (empty here).
    std::string r = row->substr(21);
    if (!r.ends_with(",,,")) return "not ending in empty serial and job columns: " + r;
    r.erase(r.size() - 3);
    const size_t afterElapsed = r.rfind(',', r.rfind(',') - 1);
    const size_t beforeElapsed = r.rfind(',', afterElapsed - 1);
    return r.erase(beforeElapsed, afterElapsed - beforeElapsed);
  };
  const std::string sum = Hex4(SumOf(line.Code()));
  const std::string fields = "KV86P48," + line.job.codeFile + "," + sum + "," + sum + ",";
  EXPECT_EQ(rowOf("COM5"), "COM5," + fields + "\"blank,program,verify,read-protect\",pass,自动编程已成功完成,,");
  EXPECT_EQ(rowOf("COM6"), "COM6," + fields + "blank,fail,\"芯片不空, 在地址: 00100\",not-blank,00100");
  EXPECT_NE(rowOf("COM7").find(",,fail,"), std::string::npos) << rowOf("COM7");
  EXPECT_TRUE(rowOf("COM7").ends_with(",link-lost,")) << rowOf("COM7");
  EXPECT_TRUE(rows[1].starts_with("2026-01-01T00:00:0")) << rows[1];
}

TEST(Line, DownloadIsSkippedOnlyWhenTheMemoryHoldsTheSameBytes) {
  Line line({"COM5"});
  Bench& bench = line.benches.front();
  ASSERT_EQ(line.Run().passed, 1);
  auto downloads = [&] {
    const auto codes = bench.Codes();
    return std::count(codes.begin(), codes.end(), 0x0E);
  };
  ASSERT_EQ(downloads(), 1);

  // A later job, a fresh kovra-cli: the memory already holds the code.
  bench.NewChip();
  ASSERT_EQ(line.Run().passed, 1) << line.results.back();
  EXPECT_EQ(downloads(), 1);

  // Two bytes swapped: the same 16-bit sum, other code. It is downloaded.
  auto memory = bench.rig.programmer.ReadMemory(0x10, 2);
  bench.rig.programmer.WriteMemory(0x10, {memory[1], memory[0]});
  bench.NewChip();
  ASSERT_EQ(line.Run().passed, 1) << line.results.back();
  EXPECT_EQ(downloads(), 2);
  EXPECT_TRUE(bench.ChipHolds(line.Code()));
  EXPECT_TRUE(bench.rig.Violations().empty());
}

TEST(Line, GoldenChecksumRefusesADifferentFileBeforeAnyByte) {
  Line line({"COM5", "COM6"});
  line.job.expectChecksum = static_cast<uint16_t>(SumOf(line.Code()) + 1);
  line.goAheads = {true};
  const LineSummary summary = line.Run(2);
  const std::string sum = Hex4(SumOf(line.Code()));
  const std::string differs = "file checksum " + sum + " differs from the expected " + Hex4(*line.job.expectChecksum);
  EXPECT_EQ(summary.passed, 0);
  EXPECT_EQ(summary.failed, 2);
  EXPECT_EQ(line.ResultOf("COM6"), "port: COM6 result: fail status: " + differs);
  // A row for each port's chip, which got no run: no steps and no memory
  // checksum (the field held the file's).
  const auto rows = line.RecordLines();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].substr(21),
            "COM6,KV86P48," + line.job.codeFile + "," + sum + ",,,fail," + differs + ",0.000,refused,,,,");
  for (Bench& bench : line.benches) EXPECT_TRUE(bench.Codes().empty());
  EXPECT_EQ(line.goAheads.size(), 1u) << "the line went on to a next chip";

  line.job.expectChecksum = SumOf(line.Code());
  EXPECT_EQ(line.Run().passed, 2);
}

TEST(Line, CountEndsWithTheInput) {
  Line line({"COM5", "COM6"});
  line.goAheads = {true};
  const LineSummary summary = line.Run(3);
  EXPECT_EQ(summary.passed, 4);
  EXPECT_EQ(line.results.size(), 4u);
  EXPECT_EQ(line.RecordLines().size(), 5u);
}

TEST(Line, RefusesJobsItCannotDoAsAskedBeforeAnyByte) {
  const struct Case {
    const char* name;
    std::function<void(Job&)> change;
    std::string refusal;
  } kCases[] = {
      {"unknown chip", [](Job& j) { j.chip = "KV99"; }, "COM5: unknown chip KV99"},
      {"unknown step",
       [](Job& j) {
         j.steps = {{"program", "bake"}};
       },
       "COM5: unknown step bake"},
      {"no program step",
       [](Job& j) {
         j.steps = {{"blank", "verify"}};
       },
       "COM5: the steps must include program"},
      {"MTP step on OTP",
       [](Job& j) {
         j.steps = {{"erase", "program"}};
       },
       "COM5: step erase does not apply to OTP chips"},
      {"MTP without SMART",
       [](Job& j) {
         j.chip = "KV88M48";
         j.steps = {{"program", "verify"}};
       },
       "COM5: KV88M48 is an MTP chip: the steps must include smart (the window would say: 你所选的芯片类型为"},
      {"missing file", [](Job& j) { j.codeFile += ".gone"; }, "COM5: "},
      {"record not writable", [](Job& j) { j.recordPath = "full.csv"; }, "full.csv: the record file cannot be"},
  };
  for (const Case& c : kCases) {
    Line line({"COM5"});
    line.records.Refuse("full.csv");
    c.change(line.job);
    const LineSummary summary = line.Run();
    ASSERT_TRUE(summary.refused.has_value()) << c.name;
    EXPECT_TRUE(summary.refused->starts_with(c.refusal)) << c.name << ": " << *summary.refused;
    EXPECT_TRUE(line.benches.front().Codes().empty()) << c.name;
  }
}

}  // namespace
}  // namespace kovra::test
