// SPDX-License-Identifier: MIT
// What a production line must be able to trust across operations: code that
// was not confirmed is never programmed, an interrupted master is never
// configured, a pulled cable is no chip failure, wide code files download,
// a download keeps step with the line, a drain event that never comes
// costs a bounded wait, and a damaged progress address never passes a chip.
#include <gtest/gtest.h>

#include <functional>

#include "app/command_dispatch.h"
#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "image/code_image.h"
#include "link/commands.h"
#include "ops/download.h"
#include "ops/run_operation.h"
#include "support/observed_port.h"
#include "support/sample_files.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

using test::ObservedPort;

// A connected world in normal mode whose programmer holds the code of the
// path field, confirmed; every command goes through an observed port.
struct Line : test::SimWorld {
  explicit Line(uint32_t codeSize = 0x1800) {
    window.SetChecked(id::kDebugMode, false);
    window.SetText(id::kFilePath, dir.Write("code.hex", test::SampleHex(codeSize)));
    Tick();
  }
  void Press(int control, int group) {
    OnCommandRequest(ctx2, control, group);
    worker.WaitIdle();
  }
  void Download() {
    Press(id::kRefreshMemory, id::kGroupFiles);
    ASSERT_EQ(state.codeLoaded, 1) << Status();
  }
  std::vector<uint8_t> CodesSince(size_t from) {
    std::vector<uint8_t> codes;
    const auto frames = Frames();
    for (size_t i = from; i < frames.size(); ++i) codes.push_back(frames[i][20]);
    return codes;
  }
  void NewBlankChip() { rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, 0x2000)); }

  ObservedPort port{rig.port};
  AppContext ctx2{state, window, registry, clock, sound, dialogs, port, portMap, worker, programFolder, records};
};

TEST(Trust, UnconfirmedMemoryIsNeverProgrammed) {
  const struct Case {
    const char* name;
    std::function<void(Line&)> damage;
  } cases[] = {
      {"re-download with a byte damaged on the wire",
       [](Line& l) {
         l.port.onFrame = [&l](uint8_t code) {
           if (code == cmd::kDownload) {
             l.rig.programmer.UpdateFaults([](sim::Faults& f) {
               f.toDevice = {sim::WireFault::Kind::kCorrupt, 600, 1};
             });
           }
         };
         l.Press(id::kRefreshMemory, id::kGroupFiles);
         EXPECT_EQ(l.window.MessageBoxes().back().caption, kWarningCaptionSpaced) << "the checksum warning";
       }},
      {"re-download interrupted",
       [](Line& l) {
         int writes = 0;
         l.port.onWrite = [&](const uint8_t*, size_t) {
           if (++writes == 100) l.state.interruptRequested = 1;
         };
         l.Press(id::kRefreshMemory, id::kGroupFiles);
         EXPECT_EQ(l.Status(), kTextDownloadInterrupted);
       }},
      {"memory initialised (F7)",
       [](Line& l) {
         OnHotKey(l.ctx2, kKeyF7);
         l.worker.WaitIdle();
         EXPECT_EQ(l.Status(), "初始化存储器成功!");
       }},
      {"chip copy failing after its initialisation",
       [](Line& l) {
         l.port.onFrame = [&l](uint8_t code) {
           if (code == cmd::kCopyChipToMemory) l.rig.programmer.UpdateFaults([](sim::Faults& f) { f.silent = true; });
         };
         l.Press(id::kCopyChip, id::kGroupFiles);
       }},
      {"reload of a file that is gone",
       [](Line& l) {
         std::filesystem::remove(l.window.GetText(id::kFilePath));
         l.Press(id::kRefreshMemory, id::kGroupFiles);
       }},
      {"debug mode ticked and unticked",
       [](Line& l) {
         for (bool on : {true, false}) {
           l.window.SetChecked(id::kDebugMode, on);
           l.Press(id::kDebugMode, id::kGroupControlData);
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Line l;
    l.Download();
    c.damage(l);
    l.port.onFrame = nullptr;
    l.port.onWrite = nullptr;
    l.rig.programmer.SetFaults({});
    EXPECT_EQ(l.state.codeLoaded, 0);

    l.NewBlankChip();
    const size_t boxes = l.window.MessageBoxes().size();
    const size_t frames = l.Frames().size();
    for (int control : {id::kAutoProgram, id::kVerifyChip}) l.Press(control, id::kGroupOperations);
    l.Press(id::kMakeMaster, id::kGroupFiles);
    const auto shown = l.window.MessageBoxes();
    ASSERT_EQ(shown.size(), boxes + 3);
    for (size_t i = boxes; i < shown.size(); ++i) EXPECT_EQ(shown[i].text, kNoCodeText);
    EXPECT_EQ(l.Frames().size(), frames) << "no command may reach the programmer";
    EXPECT_TRUE(l.rig.programmer.GetChip().IsBlank());
  }
}

// Unplugged, its memory changed on another PC (two bytes exchanged: the
// same 16-bit sum), plugged back: the reconnect reads the memory back, no
// chip is programmed from it, and the master asks for that code to be saved
// before it would overwrite it. The same programmer untouched is confirmed.
TEST(Trust, ReconnectConfirmsTheMemoryAgain) {
  for (const bool changed : {false, true}) {
    SCOPED_TRACE(changed ? "changed elsewhere" : "untouched");
    Line l;
    l.Download();
    l.rig.bridge.Unplug();
    l.Tick();
    EXPECT_EQ(l.state.codeLoaded, 0);
    if (changed) {
      std::vector<uint8_t> memory = l.rig.programmer.ReadMemory(0, 2);
      std::swap(memory[0], memory[1]);
      l.rig.programmer.WriteMemory(0, memory);
    }
    l.rig.bridge.Replug();
    l.Tick();
    ASSERT_EQ(l.state.connected, 1);
    EXPECT_EQ(l.state.codeLoaded, changed ? 0 : 1) << l.Status();
    EXPECT_EQ(l.Status(), changed ? "编程器内存中的代码已改变,请重新下载代码"
                                  : "编程内存检查和 =  " + l.window.GetText(id::kChecksumField));
    if (!changed) continue;
    const size_t boxes = l.window.MessageBoxes().size();
    const size_t frames = l.Frames().size();
    l.Press(id::kMakeMaster, id::kGroupFiles);
    ASSERT_EQ(l.window.MessageBoxes().size(), boxes + 1);
    EXPECT_TRUE(l.window.MessageBoxes().back().text.starts_with("编程内存代码已被重写"));
    EXPECT_EQ(l.Frames().size(), frames);
  }
}

TEST(Trust, InterruptedMasterIsNeverConfigured) {
  Line l;
  l.Download();
  int writes = 0;
  l.port.onWrite = [&](const uint8_t*, size_t) {
    if (++writes == 50) l.state.interruptRequested = 1;
  };
  const size_t from = l.Frames().size();
  l.Press(id::kMakeMaster, id::kGroupFiles);
  EXPECT_EQ(l.Status(), kTextDownloadInterrupted);
  EXPECT_EQ(l.state.linkError, 1);
  EXPECT_EQ(l.CodesSince(from), (std::vector<uint8_t>{cmd::kInitMemory, cmd::kDownload}));
  EXPECT_FALSE(l.rig.programmer.OfflineConfig());
}

// The cable goes at each step of a run, at its frame or in the middle of
// its answers: never a chip failure. A voltage fault at the verify step is
// one, with its own text.
TEST(Trust, PulledCableIsNoChipFailure) {
  const struct Case {
    uint8_t code;
    int readsBefore;  // -1: with the frame
  } cases[] = {{cmd::kBlankCheck, -1}, {cmd::kBlankCheck, 5},   {cmd::kProgramFromMemory, 10},
               {cmd::kVerifyChip, 3},  {cmd::kReadProtect, -1}, {cmd::kReadProtect, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "command " << int{c.code} << " reads " << c.readsBefore);
    Line l;
    l.Download();
    l.NewBlankChip();
    bool armed = false;
    int reads = 0;
    l.port.onFrame = [&](uint8_t code) {
      if (code != c.code || armed) return;
      armed = true;
      if (c.readsBefore < 0) l.rig.bridge.Unplug();
    };
    l.port.onRead = [&] {
      if (armed && c.readsBefore >= 0 && reads++ == c.readsBefore) l.rig.bridge.Unplug();
    };
    l.Press(id::kAutoProgram, id::kGroupOperations);
    EXPECT_TRUE(armed);
    EXPECT_EQ(l.state.linkError, 1);
    EXPECT_EQ(l.state.failureCount, 0u) << l.Status();
    EXPECT_EQ(l.state.successCount, 0u);
  }

  // Debug mode verifies by the chip checksum: a programmer fault there keeps
  // its own text and counts.
  Line l;
  l.window.SetChecked(id::kDebugMode, true);
  l.Download();
  l.NewBlankChip();
  l.port.onFrame = [&](uint8_t code) {
    if (code == cmd::kChipChecksum) l.rig.programmer.UpdateFaults([](sim::Faults& f) { f.voltage = '3'; });
  };
  l.Press(id::kAutoProgram, id::kGroupOperations);
  EXPECT_EQ(l.Status(), "编程电压错误,编程失败");
  EXPECT_EQ(l.state.failureCount, 1u);
}

TEST(Trust, CodeBeyondFfffDownloadsAndIsConfirmed) {
  Line l;
  std::string bytes(0x12700, '\0');
  for (size_t a = 0; a < bytes.size(); ++a) bytes[a] = static_cast<char>(a * 13 + (a >> 8));
  l.window.SetText(id::kFilePath, l.dir.Write("wide.bin", bytes));
  l.Download();
  EXPECT_EQ(l.Status(), "编程内存检查和 =  " + Hex4(SumImage(l.state, 0, 0x126FF)));
  EXPECT_EQ(l.rig.programmer.ReadMemory(0, bytes.size()), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_TRUE(l.rig.Violations().empty());
}

// One flipped bit in a verify's last progress address: space parity cannot
// see it, and no closing answer follows. Taken as such it would pass a chip
// the programmer stopped on.
TEST(Trust, DamagedProgressAddressNeverPassesAChip) {
  struct Case {
    const char* what;
    uint32_t codeSize;
    uint32_t differsAt;    // the chip holds the code up to here
    uint64_t damagedByte;  // counted from the frame answer (21) and acknowledgement (2)
    const char* status;
  };
  const Case cases[] = {
      {"high byte: 000000H read as 010000H", 0x1800, 0, 23, "校验芯片失败! 在地址: 00000"},
      {"middle byte: 001220H read as 001320H, within a page of the end", 0x1240, 0x1220, 24,
       "校验芯片失败! 在地址: 00000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Line l(c.codeSize);
    l.Download();
    sim::Chip chip = sim::Chip::Blank(sim::ChipType::kOtp, 0x2000);
    const std::vector<uint8_t> code = l.rig.programmer.ReadMemory(0, c.differsAt);
    std::copy(code.begin(), code.end(), chip.rom.begin());
    l.rig.programmer.SetChip(chip);
    l.port.onFrame = [&](uint8_t code) {
      if (code != cmd::kVerifyChip) return;
      l.rig.programmer.UpdateFaults([&](sim::Faults& f) {
        f.toHost = {sim::WireFault::Kind::kCorrupt, c.damagedByte, 1};
      });
    };
    l.Press(id::kVerifyChip, id::kGroupOperations);
    EXPECT_EQ(l.Status(), c.status);
    EXPECT_EQ(l.state.linkError, 1);
  }
}

// Behind a kernel queue (Linux's write() returns once the bytes are queued)
// the download's page pause and DSR polls run ahead of the line, and the
// next page arrives while the programmer writes the last. A write that
// waits for the queue to go out, as the Linux port's does, keeps in step.
TEST(Trust, DownloadKeepsStepWithTheLineBehindAKernelQueue) {
  struct QueuedPort : ObservedPort {
    QueuedPort(test::SimRig& rig, bool drains) : ObservedPort(rig.port), rig(rig), drains(drains) {}
    SerialTransfer Write(const uint8_t* data, size_t count) override {
      const SerialTransfer n = ObservedPort::Write(data, count);
      if (drains) rig.bridge.clock().AdvanceToUs(rig.programmer.TransmitIdleUs());
      return n;
    }
    test::SimRig& rig;
    bool drains;
  };
  for (bool drains : {false, true}) {
    SCOPED_TRACE(drains ? "drains" : "only queues");
    // The bridge takes a megabyte ahead of the line: the kernel's queue.
    test::SimWorld w("KV86P48", "COM5", test::kScenarioChipList, {.transmitFifo = size_t{1} << 20});
    w.window.SetChecked(id::kDebugMode, false);
    w.window.SetText(id::kFilePath, w.dir.Write("code.hex", test::SampleHex(0x800)));
    QueuedPort port(w.rig, drains);
    AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                   port,    w.portMap, w.worker,   w.programFolder, w.records};
    OnTimerTick(ctx);
    w.worker.WaitIdle();
    ASSERT_EQ(w.state.connected, 1) << w.Status();
    StartOperation(ctx, Op::kDownload);
    w.worker.WaitIdle();
    const std::vector<sim::Violation> violations = w.rig.Violations();
    bool overrun = false;
    for (const sim::Violation& v : violations) overrun |= v.text.find("page write in progress") != v.text.npos;
    EXPECT_EQ(overrun, !drains);
    if (drains) {
      EXPECT_TRUE(violations.empty());
      EXPECT_EQ(w.state.codeLoaded, 1) << w.Status();
    }
  }
}

// A port whose drain event never comes still gets every exchange done, at
// the cost of the bounded wait; armed before the frame, the event comes.
TEST(Trust, DrainWaitIsArmedFirstAndBounded) {
  struct DrainPort : ObservedPort {
    using ObservedPort::ObservedPort;
    bool WaitTransmitEmpty(uint32_t timeoutMs) override {
      bool came = false;
      if (neverDrains) {
        clock->SleepMs(timeoutMs);
      } else {
        came = ObservedPort::WaitTransmitEmpty(timeoutMs);
      }
      (came ? drained : missed)++;
      return came;
    }
    bool neverDrains = false;
    test::VirtualClock* clock = nullptr;
    int drained = 0, missed = 0;
  };
  uint64_t took[2] = {};
  for (bool neverDrains : {false, true}) {
    SCOPED_TRACE(neverDrains ? "never drains" : "drains");
    test::SimWorld w;
    w.window.SetChecked(id::kDebugMode, false);
    DrainPort port(w.rig.port);
    port.neverDrains = neverDrains;
    port.clock = &w.clock;
    AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                   port,    w.portMap, w.worker,   w.programFolder, w.records};
    OnTimerTick(ctx);
    w.worker.WaitIdle();
    ASSERT_EQ(w.state.connected, 1) << w.Status();
    port.drained = port.missed = 0;
    const uint64_t start = w.clock.NowMs();
    w.state.programStart = 0;
    w.state.programEnd = 0xFF;
    StartOperation(ctx, Op::kMemoryChecksum);
    w.worker.WaitIdle();
    took[neverDrains] = w.clock.NowMs() - start;
    EXPECT_EQ(w.Status(), "编程内存检查和 =  FF00");
    EXPECT_EQ(port.drained, neverDrains ? 0 : 1);
    EXPECT_EQ(port.missed, neverDrains ? 1 : 0);
  }
  // The one exchange waited the bound instead of the frame's 6 ms on the line.
  EXPECT_LE(took[1], took[0] + pause::kFrameDrainMs);
}

}  // namespace
}  // namespace kovra
