// SPDX-License-Identifier: MIT
// The operations one by one against the simulated programmer: download,
// blank check, verify, copies, offline master and HEX save.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>

#include "app/command_dispatch.h"
#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "chips/target_rules.h"
#include "image/code_image.h"
#include "image/hex_writer.h"
#include "link/commands.h"
#include "ops/download.h"
#include "ops/memory_ops.h"
#include "ops/offline_master.h"
#include "ops/run_operation.h"
#include "support/observed_port.h"
#include "support/sample_files.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

using test::ObservedPort;

// A connected world in normal mode, with a code file in the path field.
struct Ops : test::SimWorld {
  explicit Ops(uint32_t codeSize = 0x2000) : SimWorld("KV88M48") {
    window.SetChecked(id::kDebugMode, false);
    window.SetText(id::kFilePath, dir.Write("code.hex", test::SampleHex(codeSize)));
    Tick();
  }
  AppContext Observed() {
    return {state, window, registry, clock, sound, dialogs, port, portMap, worker, programFolder, records};
  }
  void RunWith(AppContext& c, Op op) {
    StartOperation(c, op);
    worker.WaitIdle();
  }
  std::vector<uint8_t> Codes() {
    std::vector<uint8_t> codes;
    for (const auto& f : Frames()) codes.push_back(f[20]);
    return codes;
  }
  ObservedPort port{rig.port};
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Download, PacesEveryPageBoundary) {
  Ops w;
  struct Chunk {
    uint64_t ms;
    size_t size;
  };
  std::vector<Chunk> chunks;
  w.port.onWrite = [&](const uint8_t*, size_t n) { chunks.push_back({w.clock.NowMs(), n}); };
  AppContext c = w.Observed();
  w.RunWith(c, Op::kDownload);

  EXPECT_EQ(w.state.codeLoaded, 1) << w.Status();
  EXPECT_EQ(w.rig.programmer.ReadMemory(0, 0x2000),
            std::vector<uint8_t>(w.state.codeImage.begin(), w.state.codeImage.begin() + 0x2000));
  ASSERT_EQ(chunks.size(), 1024u);
  std::vector<uint32_t> pausedBefore;
  for (size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].size, 8u);
    if (i > 0 && chunks[i].ms - chunks[i - 1].ms >= 30) pausedBefore.push_back(static_cast<uint32_t>(i * 8));
  }
  // Before the last chunk of every page and before the first of the next.
  std::vector<uint32_t> expected;
  for (uint32_t page = 0; page < 0x2000; page += 0x100) {
    if (page) expected.push_back(page);
    expected.push_back(page + 0xF8);
  }
  EXPECT_EQ(pausedBefore, expected);
  // The memory checksum, then the memory read back in blocks of 1 KiB.
  std::vector<uint8_t> codes{kConnectProbe, cmd::kInitMemory, cmd::kDownload, cmd::kMemoryChecksum};
  codes.insert(codes.end(), 8, cmd::kReadMemoryBlock);
  EXPECT_EQ(w.Codes(), codes);
  EXPECT_EQ(w.Status(), "编程内存检查和 =  " + w.window.GetText(id::kChecksumField));
  EXPECT_TRUE(w.rig.Violations().empty());
}

TEST(Download, LastChunkRunsPastTheLastAddress) {
  Ops w;
  w.window.SetText(id::kFilePath, w.dir.Write("odd.hex", ":011234007742\n"));
  size_t sent = 0;
  w.port.onWrite = [&](const uint8_t*, size_t n) { sent += n; };
  AppContext c = w.Observed();
  w.RunWith(c, Op::kDownload);
  EXPECT_EQ(w.state.programEnd, 0x1234u);
  EXPECT_EQ(sent, 0x1238u);
  EXPECT_EQ(w.state.codeLoaded, 1) << w.Status();
  EXPECT_TRUE(w.rig.Violations().empty());
}

TEST(Download, DoubleClickInterruptsWithoutChecksum) {
  Ops w;
  size_t writes = 0;
  w.port.onWrite = [&](const uint8_t*, size_t) {
    if (++writes == 100) w.state.interruptRequested = 1;
  };
  AppContext c = w.Observed();
  w.RunWith(c, Op::kDownload);
  EXPECT_EQ(w.Status(), kTextDownloadInterrupted);
  EXPECT_EQ(w.state.codeLoaded, 0);
  EXPECT_EQ(w.Codes().back(), cmd::kDownload);
}

TEST(Download, WrongChecksumWarnsButShowsTheProgrammersValue) {
  Ops w;
  w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.wrongChecksum = true; });
  w.Run(Op::kDownload);
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.state.codeLoaded, 0);
  const std::string programmer = Hex4(static_cast<uint16_t>(SumImage(w.state, 0, 0x1FFF) + 1));
  EXPECT_EQ(w.window.GetText(id::kChecksumField), programmer);
  EXPECT_EQ(w.Status(), "编程内存检查和 =  " + programmer);
  EXPECT_EQ(w.state.memoryEnd, 0x1FFFu);
  ASSERT_EQ(w.window.MessageBoxes().size(), 1u);
  EXPECT_EQ(w.window.MessageBoxes()[0].caption, kWarningCaptionSpaced);
  EXPECT_EQ(w.window.MessageBoxes()[0].text.rfind("编程内存检查和错误!", 0), 0u);
}

TEST(Download, DsrStuckOnBreaksTheStream) {
  Ops w;
  w.state.autoRunState = 100;
  w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.dsrStuckOn = true; });
  w.Run(Op::kDownload);
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.state.autoRunState, 0);
  EXPECT_EQ(w.state.codeLoaded, 0);
  EXPECT_EQ(w.Status(), "代码下载过程出错!请尝试重新下载该代码");
}

TEST(Download, DebugModeOnlyLoadsAndSums) {
  Ops w;
  w.window.SetChecked(id::kDebugMode, true);
  w.Run(Op::kDownload);
  EXPECT_EQ(w.state.codeLoaded, 1);
  EXPECT_EQ(w.Status(), "编程内存检查和 =  " + Hex4(SumImage(w.state, 0, 0x1FFF)));
  EXPECT_EQ(w.Codes(), (std::vector<uint8_t>{kConnectProbe}));
}

struct ChipRun : Ops {
  ChipRun() {
    Run(Op::kDownload);
    rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kMtp, 0x2000));
  }
  void Capture(const char* start, const char* end) {
    window.SetText(id::kStartAddress, start);
    window.SetText(id::kEndAddress, end);
  }
};

TEST(BlankCheck, BlankChipAndTheAddressWhereItStops) {
  ChipRun w;
  w.Capture("0000", "0FFF");
  OnCommandRequest(w.ctx, id::kBlankCheck, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "芯片是空的, 在地址空间: 00000~~00FFF");
  EXPECT_EQ(w.state.linkError, 0);

  w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.stopProgressAt = 0x0123; });
  OnCommandRequest(w.ctx, id::kBlankCheck, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "芯片不空, 在地址: 00123");
  EXPECT_EQ(w.state.linkError, 1);
}

// A second click while the first operation still waits for the worker is
// refused: the operation runs on the range it was started with.
TEST(BlankCheck, ASecondClickLeavesTheQueuedRangeAlone) {
  ChipRun w;
  std::promise<void> release;
  ASSERT_TRUE(w.worker.PostSupervision([pass = release.get_future().share()] { pass.wait(); }));
  w.Capture("0000", "0FFF");
  OnCommandRequest(w.ctx, id::kBlankCheck, id::kGroupOperations);
  w.Capture("0000", "00FF");
  OnCommandRequest(w.ctx, id::kBlankCheck, id::kGroupOperations);
  release.set_value();
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "芯片是空的, 在地址空间: 00000~~00FFF");
}

TEST(VerifyChip, ReportsWhereTheChipDiffers) {
  ChipRun w;
  w.Capture("0000", "1FFF");
  w.rig.programmer.UpdateChip([&](sim::Chip& chip) {
    std::copy_n(w.state.codeImage.begin(), 0x2000, chip.rom.begin());
    chip.rom[0x0456] ^= 0x01;
  });
  OnCommandRequest(w.ctx, id::kVerifyChip, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.Status().rfind("校验芯片失败! 在地址: 00", 0), 0u) << w.Status();
  EXPECT_LE(HexToNumber(w.Status().substr(w.Status().size() - 5), 16), 0x0456u);
}

TEST(VerifyByReadback, ComparesBlocksOfAKilobyte) {
  ChipRun w;
  w.window.SetChecked(id::kDebugMode, true);
  w.Capture("0000", "07FF");
  w.rig.programmer.UpdateChip(
      [&](sim::Chip& chip) { std::copy_n(w.state.codeImage.begin(), 0x2000, chip.rom.begin()); });
  const size_t before = w.Frames().size();
  OnCommandRequest(w.ctx, id::kVerifyChip, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "校验芯片成功");
  const auto frames = w.Frames();
  ASSERT_EQ(frames.size() - before, 2u);
  EXPECT_EQ(frames[before][20], cmd::kReadChipBlock);
  EXPECT_EQ(frames[before + 1][17], 0x04);  // the second block starts at 0400H

  w.rig.programmer.UpdateChip([](sim::Chip& chip) { chip.rom[0x0456] ^= 0x80; });
  OnCommandRequest(w.ctx, id::kVerifyChip, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "校验芯片失败,在地址: 0456");
  EXPECT_EQ(w.state.linkError, 1);
}

TEST(CopyChip, IntoTheProgrammingMemory) {
  ChipRun w;
  w.Capture("0000", "0FFF");
  std::vector<uint8_t> chipBytes(0x2000);
  for (size_t i = 0; i < chipBytes.size(); ++i) chipBytes[i] = static_cast<uint8_t>(i * 13);
  w.rig.programmer.UpdateChip([&](sim::Chip& chip) { chip.rom = chipBytes; });
  w.window.QueueAnswer(MbAnswer::kYes);
  OnCommandRequest(w.ctx, id::kCopyChip, id::kGroupFiles);
  w.worker.WaitIdle();
  EXPECT_EQ(w.state.linkError, 0) << w.Status();
  EXPECT_EQ(w.rig.programmer.ReadMemory(0, 0x1000),
            std::vector<uint8_t>(chipBytes.begin(), chipBytes.begin() + 0x1000));
  uint32_t sum = 0;
  for (size_t i = 0; i < 0x1000; ++i) sum += chipBytes[i];
  EXPECT_EQ(w.Status(), "拷贝芯片数据检查和 =  " + Hex4(static_cast<uint16_t>(sum)));
  EXPECT_EQ(w.window.GetText(id::kChecksumField), Hex4(static_cast<uint16_t>(sum)));
  EXPECT_EQ(w.state.codeLoaded, 1);

  w.window.QueueAnswer(MbAnswer::kNo);
  OnCommandRequest(w.ctx, id::kCopyChip, id::kGroupFiles);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "操作已中止");
}

TEST(CopyChip, IntoTheImageInDebugMode) {
  ChipRun w;
  w.window.SetChecked(id::kDebugMode, true);
  w.Capture("0100", "03FF");
  w.rig.programmer.UpdateChip([](sim::Chip& chip) { std::fill(chip.rom.begin(), chip.rom.end(), 0x5A); });
  w.window.QueueAnswer(MbAnswer::kYes);
  OnCommandRequest(w.ctx, id::kCopyChip, id::kGroupFiles);
  w.worker.WaitIdle();
  EXPECT_EQ(w.state.linkError, 0) << w.Status();
  EXPECT_EQ(w.state.codeImage[0x0100], 0x5A);
  EXPECT_EQ(w.state.codeImage[0x03FF], 0x5A);
  EXPECT_NE(w.state.codeImage[0x0400], 0x5A);
  EXPECT_EQ(w.state.memoryStart, 0x100u);
  EXPECT_EQ(w.state.memoryEnd, 0x3FFu);
  EXPECT_EQ(w.Status(), "拷贝芯片数据检查和 =  " + Hex4(SumImage(w.state, 0x100, 0x3FF)));
}

TEST(OfflineMaster, WritesTheFrameAsConfiguration) {
  Ops w(0x1000);
  w.Run(Op::kDownload);
  w.window.SetChecked(id::kDebugMode, true);
  w.window.QueueAnswer(MbAnswer::kYes);
  OnCommandRequest(w.ctx, id::kMakeMaster, id::kGroupFiles);
  w.worker.WaitIdle();
  EXPECT_FALSE(w.window.IsChecked(id::kDebugMode));
  EXPECT_EQ(w.Status(), kTextMasterReady);
  const auto config = w.rig.programmer.OfflineConfig();
  ASSERT_TRUE(config.has_value());
  const auto& f = *config;
  const uint16_t sum = SumImage(w.state, 0, 0x0FFF);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 16, f.begin() + 20), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(f[6], 0x0F);
  EXPECT_EQ(f[7], 0xFF);
  EXPECT_EQ(f[8], sum >> 8);
  EXPECT_EQ(f[9], sum & 0xFF);
  EXPECT_EQ(f[4], 2);
  EXPECT_EQ(f[5], 0x71);  // verify, read protect, SMART, erase MTP
  EXPECT_EQ(f[20], cmd::kOfflineConfig);
  EXPECT_TRUE(w.rig.Violations().empty());
}

TEST(OfflineMaster, NoClearsDebugModeAndSendsNothing) {
  Ops w(0x1000);
  w.Run(Op::kDownload);
  w.window.SetChecked(id::kDebugMode, true);
  const size_t before = w.Frames().size();
  w.window.QueueAnswer(MbAnswer::kNo);
  OnCommandRequest(w.ctx, id::kMakeMaster, id::kGroupFiles);
  w.worker.WaitIdle();
  EXPECT_FALSE(w.window.IsChecked(id::kDebugMode));
  EXPECT_EQ(w.Status(), "操作已中止");
  EXPECT_EQ(w.Frames().size(), before);
}

struct HexSave : Ops {
  HexSave() {
    Run(Op::kDownload);
    target = dir.path() / "out.hex";
    std::ofstream(target) << "older file";
    dialogs.Answer(target.string());
    window.SetText(id::kStartAddress, "0000");
    window.SetText(id::kEndAddress, "02FF");
  }
  void Save(AppContext& c) {
    OnCommandRequest(c, id::kSaveHex, id::kGroupFiles);
    worker.WaitIdle();
  }
  std::filesystem::path target;
};

TEST(HexSaveFromMemory, ReadsPagesAndWritesTheRecords) {
  HexSave w;
  AppContext c = w.Observed();
  std::vector<std::pair<uint32_t, uint32_t>> blocks;
  w.port.onFrame = [&](uint8_t code) {
    if (code == cmd::kReadMemoryBlock) {
      const auto& f = w.state.requestFrame.bytes;
      blocks.push_back({uint32_t{f[17]} << 8 | f[18], uint32_t{f[6]} << 8 | f[7]});
    }
  };
  w.Save(c);
  EXPECT_EQ(w.state.linkError, 0) << w.Status();
  EXPECT_EQ(blocks, (std::vector<std::pair<uint32_t, uint32_t>>{{0x000, 0x0FF}, {0x100, 0x1FF}, {0x200, 0x2FF}}));
  const std::string text = ReadFile(w.target);
  EXPECT_EQ(text.substr(0, 9), ":10000000");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 0x30);
  EXPECT_EQ(w.Status().rfind(kSaveDone, 0), 0u);
}

TEST(HexSaveFromMemory, InterruptedOrFailedLeavesTheOlderFile) {
  for (bool interrupt : {true, false}) {
    SCOPED_TRACE(interrupt);
    HexSave w;
    AppContext c = w.Observed();
    int reads = 0;
    w.port.onFrame = [&](uint8_t code) {
      if (code != cmd::kReadMemoryBlock || ++reads != 2) return;
      if (interrupt) {
        w.state.interruptRequested = 1;
      } else {
        w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.wrongChecksum = true; });
      }
    };
    w.Save(c);
    EXPECT_EQ(ReadFile(w.target), "older file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.dir.path()), {}), 3);  // list, code, out
    if (interrupt) {
      EXPECT_EQ(w.Status(), kSaveInterrupted);
      EXPECT_EQ(w.state.linkError, 0);
    } else {
      EXPECT_EQ(w.Status(), kSaveFailed);
      EXPECT_EQ(w.state.linkError, 1);
    }
    // A block that did not arrive is the link's failure, not the file's.
    EXPECT_STREQ(FailureName(w.state.outcome.failure), interrupt ? "interrupted" : "link-lost");
  }
}

TEST(ReadBlock, ABlockLargerThanTheBufferIsRefusedAndFails) {
  Ops w;
  std::vector<uint8_t> buffer(16);
  const size_t before = w.Frames().size();
  ReadBlock(w.ctx, cmd::kReadMemoryBlock, buffer.data(), buffer.size(), 0, 0x1F);
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.Status(), "操作已中止");
  EXPECT_EQ(w.window.MessageBoxes().at(0).text, "指定的缓冲区不足以容纳要读取的数据,操作将中止!");
  EXPECT_EQ(w.Frames().size(), before);
}

TEST(ApplyChipSetting, AHalfVerdictIsNoSuccess) {
  ChipRun w;
  w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.shortAnswer = true; });
  OnCommandRequest(w.ctx, id::kReadProtect, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.Status(), "正在使能芯片读保护,请稍候......");

  w.rig.programmer.UpdateFaults([](sim::Faults& f) {
    f.shortAnswer = false;
    f.answerNo = true;
  });
  OnCommandRequest(w.ctx, id::kReadProtect, id::kGroupOperations);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), "使能芯片读保护失败!");
}

// Each operation's outcome names what the texts say, as data: the kind, the
// step and the address where there is one.
TEST(Outcome, EachOperationSaysWhatItCameTo) {
  const struct Case {
    const char* name;
    std::function<void(ChipRun&)> setup;
    Op op;
    Failure failure;
    const char* step;
    std::optional<uint32_t> address;
  } cases[] = {
      {"download passes", [](ChipRun&) {}, Op::kDownload, Failure::kNone, "download", std::nullopt},
      {"unreadable file", [](ChipRun& w) { w.window.SetText(id::kFilePath, w.dir.Write("bad.hex", ":10zz\n")); },
       Op::kDownload, Failure::kFileError, "download", std::nullopt},
      {"exchanged bytes keep the sum",
       [](ChipRun& w) {
         w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.toDevice = {sim::WireFault::Kind::kSwap, 40, 1}; });
       },
       Op::kDownload, Failure::kMemoryDiffers, "download", std::nullopt},
      {"checksum word differs",
       [](ChipRun& w) { w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.wrongChecksum = true; }); },
       Op::kMemoryChecksum, Failure::kMemoryDiffers, "memory checksum", std::nullopt},
      {"not blank", [](ChipRun& w) { w.rig.programmer.UpdateChip([](sim::Chip& chip) { chip.rom[0x0123] = 0; }); },
       Op::kBlankCheck, Failure::kNotBlank, "blank check", 0x0123},
      {"verify differs", [](ChipRun&) {}, Op::kVerifyChip, Failure::kVerifyFailed, "verify chip", 0x0000},
      {"erase answered NO",
       [](ChipRun& w) { w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.answerNo = true; }); }, Op::kEraseMtp,
       Failure::kSettingFailed, "erase MTP", std::nullopt},
      {"no link", [](ChipRun& w) { w.state.connected = 0; }, Op::kBlankCheck, Failure::kRefused, "blank check",
       std::nullopt},
      {"copy declined", [](ChipRun& w) { w.window.QueueAnswer(MbAnswer::kNo); }, Op::kCopyChip, Failure::kRefused,
       "copy chip", std::nullopt},
      {"voltage fault", [](ChipRun& w) { w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.voltage = '2'; }); },
       Op::kBlankCheck, Failure::kVoltageFault, "blank check", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRun w;
    w.Capture("0000", "1FFF");
    CaptureAddressRange(w.ctx);
    c.setup(w);
    w.Run(c.op);
    const Outcome& outcome = w.state.outcome;
    EXPECT_EQ(FailureName(outcome.failure), std::string(FailureName(c.failure))) << w.Status();
    EXPECT_EQ(outcome.step, c.step);
    EXPECT_EQ(outcome.hasAddress, c.address.has_value());
    EXPECT_EQ(outcome.address, c.address.value_or(0));
    EXPECT_EQ(outcome.passed(), w.state.linkError == 0 && c.failure == Failure::kNone);
  }
}

// Progress comes as events with the range, so nothing reads it back from
// the status line: a blank check walks to its end + 1, a download to its
// last address.
TEST(Outcome, ProgressEventsFollowTheWalk) {
  struct Events : ProgressListener {
    void OnProgress(const ProgressEvent& event) override { seen.push_back(event); }
    std::vector<ProgressEvent> seen;
  } events;
  ChipRun w;
  AppContext c = w.Observed();
  c.progress = &events;
  w.Capture("0100", "04FF");
  CaptureAddressRange(c);
  w.RunWith(c, Op::kBlankCheck);
  ASSERT_FALSE(events.seen.empty());
  for (size_t i = 0; i < events.seen.size(); ++i) {
    const ProgressEvent& e = events.seen[i];
    EXPECT_STREQ(e.operation, "blank check");
    EXPECT_EQ(e.start, 0x0100u);
    EXPECT_EQ(e.end, 0x04FFu);
    EXPECT_GT(e.address, i ? events.seen[i - 1].address : e.start);
  }
  EXPECT_EQ(events.seen.back().address, 0x0500u);

  events.seen.clear();
  w.RunWith(c, Op::kDownload);
  ASSERT_FALSE(events.seen.empty());
  EXPECT_STREQ(events.seen.front().operation, "download");
  EXPECT_EQ(events.seen.front().end, 0x1FFFu);
  EXPECT_STREQ(events.seen.back().operation, "compare memory");
  EXPECT_LE(events.seen.back().address, 0x1FFFu);
}

}  // namespace
}  // namespace kovra
