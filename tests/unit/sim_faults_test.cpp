// SPDX-License-Identifier: MIT
// The simulated programmer's fault switches, and unplugging its bridge.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_raw_host.h"

namespace kovra::test {
namespace {

using sim::Faults;
using sim::WireFault;

// Read protection on an OTP chip, whose sound answer is "OK"; the connect
// probe (nothing after the frame answer) where the frame answer is hit.
struct AnswerFaultCase {
  const char* name;
  Faults faults;
  size_t frameAnswer;
  std::vector<uint8_t> verdict;
  uint8_t code = 0x07;
};
// Test logs name the case instead of dumping its bytes.
void PrintTo(const AnswerFaultCase& c, std::ostream* os) { *os << c.name; }

class SimAnswerFaultTest : public ::testing::TestWithParam<AnswerFaultCase> {};

TEST_P(SimAnswerFaultTest, ShapesTheAnswers) {
  const AnswerFaultCase& c = GetParam();
  SimRawWorld w;
  ASSERT_TRUE(w.opened);
  w.rig.programmer.SetFaults(c.faults);
  EXPECT_EQ(w.host.Exchange({.code = c.code}).size(), c.frameAnswer);
  EXPECT_EQ(w.host.Answer(2, 100), c.verdict);
  w.rig.programmer.SetFaults({});
  EXPECT_EQ(w.host.Exchange({.code = 0x01}).size(), 21u) << "sound again once the switch is off";
}

std::vector<uint8_t> Bytes(const char* text) { return {text, text + std::char_traits<char>::length(text)}; }

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAnswerFaultTest,
    ::testing::Values(AnswerFaultCase{"None", {}, 21, Bytes("OK")}, AnswerFaultCase{"Silent", {.silent = true}, 0, {}},
                      AnswerFaultCase{"No", {.answerNo = true}, 21, Bytes("NO")},
                      AnswerFaultCase{"VddLow", {.voltage = '1'}, 21, Bytes("E1")},
                      AnswerFaultCase{"VddHigh", {.voltage = '2'}, 21, Bytes("E2")},
                      AnswerFaultCase{"VppLow", {.voltage = '3'}, 21, Bytes("E3")},
                      AnswerFaultCase{"VppHigh", {.voltage = '4'}, 21, Bytes("E4")},
                      AnswerFaultCase{"UnknownFault", {.voltage = '9'}, 21, Bytes("E9")},
                      AnswerFaultCase{"ShortAnswer", {.shortAnswer = true}, 21, Bytes("O")},
                      AnswerFaultCase{"ShortFrameAnswer", {.shortFrameAnswer = true}, 20, {}, 0x01},
                      AnswerFaultCase{"DroppedToHost", {.toHost = {WireFault::Kind::kDrop, 5, 2}}, 19, {}, 0x01},
                      AnswerFaultCase{
                          "CorruptedToHost", {.toHost = {WireFault::Kind::kCorrupt, 21, 1}}, 21, Bytes("NK")}),
    [](const auto& info) { return std::string(info.param.name); });

class SimFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(w.opened); }
  SimRawWorld w;
};

TEST_F(SimFaultTest, GarbageReplacesTheAnswersButNotTheFrameAnswer) {
  w.rig.programmer.SetFaults({.garbage = true});
  const auto frameAnswer = w.host.Exchange({.code = 0x07});
  ASSERT_EQ(frameAnswer.size(), 21u);
  EXPECT_EQ(AsText({frameAnswer.begin(), frameAnswer.begin() + 5}), "KOVRA");
  const auto verdict = w.host.Answer(2, 100);
  EXPECT_EQ(verdict.size(), 2u);
  EXPECT_NE(AsText(verdict), "OK");
}

TEST_F(SimFaultTest, VoltageFaultReplacesTheAcknowledgementOfChipCommandsOnly) {
  w.rig.programmer.SetFaults({.voltage = '3'});
  ASSERT_EQ(w.host.Exchange({.code = 0x03, .end = 0xFF}).size(), 21u);
  EXPECT_EQ(AsText(w.host.Answer(2, 50)), "E3");
  EXPECT_TRUE(w.host.Answer(3, 30).empty()) << "the command ends there";
  ASSERT_EQ(w.host.Exchange({.code = 0x0D, .end = 0x0}).size(), 21u);
  EXPECT_EQ(AsText(w.host.Answer(2, 50)), "AK") << "the memory needs no chip supply";
}

TEST_F(SimFaultTest, ProgressStopsAtTheGivenAddress) {
  w.rig.programmer.SetFaults({.stopProgressAt = 0x1234});
  ASSERT_EQ(w.host.Exchange({.code = 0x0D, .end = 0x7FFF}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  std::optional<uint32_t> last;
  while (const auto address = w.host.Progress()) last = address;
  EXPECT_EQ(last, 0x1234u);
  EXPECT_TRUE(w.host.ReadBytes(8).empty());
}

TEST_F(SimFaultTest, WrongChecksumIsOneOffInProgressCommandsAndBlockReads) {
  const std::vector<uint8_t> memory = {1, 2, 3, 4};
  w.rig.programmer.WriteMemory(0, memory);
  w.rig.programmer.SetFaults({.wrongChecksum = true});
  ASSERT_EQ(w.host.Exchange({.code = 0x0D, .end = 3}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  EXPECT_EQ(w.host.Progress(), 4u);
  EXPECT_EQ(w.host.Word(), 11);
  ASSERT_EQ(w.host.Exchange({.code = 0x0F, .end = 3}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  EXPECT_EQ(w.host.ReadBytes(4), memory);
  EXPECT_EQ(w.host.Word(), 11);
}

TEST_F(SimFaultTest, DsrStuckOnEvenWhenIdle) {
  EXPECT_FALSE(w.host.Dsr());
  w.rig.programmer.SetFaults({.dsrStuckOn = true});
  EXPECT_TRUE(w.host.Dsr());
  w.clock.SleepMs(5000);
  EXPECT_TRUE(w.host.Dsr());
}

TEST_F(SimFaultTest, BytesCorruptedOnTheWayInSpoilTheDownload) {
  const std::vector<uint8_t> image(0x100, 0x42);
  ASSERT_EQ(w.host.Exchange({.code = 0x0E, .end = 0xFF, .checksum = Sum16(image)}).size(), 21u);
  w.rig.programmer.SetFaults({.toDevice = {WireFault::Kind::kCorrupt, 10, 1}});
  w.host.Write(image);
  w.rig.Sync();
  EXPECT_EQ(w.rig.programmer.ReadMemory(10, 1), std::vector<uint8_t>{0x43});
  EXPECT_NE(w.rig.programmer.MemorySum(0, 0xFF), Sum16(image));
}

TEST_F(SimFaultTest, ByteDroppedOnTheWayInCutsTheFrameShort) {
  w.rig.programmer.SetFaults({.toDevice = {WireFault::Kind::kDrop, 7, 1}});
  EXPECT_TRUE(w.host.Exchange({}).empty());
  w.clock.SleepMs(100);
  const auto violations = w.Violations();
  ASSERT_FALSE(violations.empty());
  EXPECT_NE(violations[0].text.find("cut short after 20 bytes"), std::string::npos);
}

TEST_F(SimFaultTest, NoiseArrivesUnasked) {
  w.rig.programmer.InjectNoise(5, w.clock.NowUs());
  w.clock.SleepMs(10);
  EXPECT_EQ(w.host.ReadBytes(16).size(), 5u);
}

TEST_F(SimFaultTest, SwitchesMayBeSetFromAnotherThreadWhileTheHostTalks) {
  std::atomic<bool> done{false};
  std::thread host([&] {
    for (int i = 0; i < 5; ++i) {
      w.host.Exchange({.code = 0x0D, .end = 0x3FFF});
      while (w.host.Progress()) {
      }
    }
    done = true;
  });
  // Racing the host is the point: the sanitizers judge the sharing, and no
  // flip may be lost on the way.
  int flips = 0;
  do {
    w.rig.programmer.UpdateFaults([](Faults& f) { f.dsrStuckOn = !f.dsrStuckOn; });
    (void)w.rig.programmer.GetChip();
    (void)w.rig.programmer.Violations();
    ++flips;
  } while (!done);
  host.join();
  EXPECT_EQ(w.rig.programmer.GetFaults().dsrStuckOn, flips % 2 == 1);
}

// Unplugging: the serial port map loses the bridge's value, the open
// handle dies for good, the programmer loses power (and the command under
// way) but keeps its memory and chip.
class SimUnplugTest : public SimFaultTest {
 protected:
  std::optional<std::string> MapEntry() {
    return w.registry.ReadString(Hive::kMachine, kSerialPortMapKey, "\\Device\\ProlificSerial0");
  }
};

TEST_F(SimUnplugTest, RemovesTheMapEntryAndKillsTheHandleUntilReopened) {
  EXPECT_EQ(MapEntry(), "COM5");
  w.rig.bridge.Unplug();
  EXPECT_FALSE(MapEntry());
  EXPECT_TRUE(w.rig.port.IsOpen());
  uint8_t bytes[3] = {1, 2, 3};
  EXPECT_EQ(w.rig.port.Write(bytes, 3), (SerialTransfer{.failed = true}));
  EXPECT_EQ(w.rig.port.Read(bytes, 1), (SerialTransfer{.failed = true}));
  uint32_t status = 0;
  EXPECT_FALSE(w.rig.port.GetModemStatus(status));
  EXPECT_FALSE(w.rig.port.Purge());
  EXPECT_FALSE(w.host.Open()) << "nothing to open while unplugged";

  w.rig.bridge.Replug();
  EXPECT_EQ(MapEntry(), "COM5");
  w.clock.SleepMs(100);  // the programmer starts up
  ASSERT_TRUE(w.host.Open());
  EXPECT_EQ(w.host.Exchange({}).size(), 21u);
}

TEST_F(SimUnplugTest, HandleOpenedBeforeStaysDeadAfterReplug) {
  w.rig.bridge.Unplug();
  w.rig.bridge.Replug();
  EXPECT_EQ(w.host.Write({1}), 0u);
}

TEST_F(SimUnplugTest, AtAMomentInTheMiddleOfProgramming) {
  std::vector<uint8_t> code(0x2000, 0x5A);
  w.rig.programmer.WriteMemory(0, code);
  ASSERT_EQ(w.host.Exchange({.code = 0x0B, .end = 0x1FFF, .checksum = Sum16(code)}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  const uint64_t unplugAt = w.clock.NowUs() + 500'000;
  w.rig.bridge.UnplugAt(unplugAt);
  std::optional<uint32_t> last;
  while (const auto address = w.host.Progress()) last = address;
  EXPECT_FALSE(MapEntry());
  EXPECT_LE(w.clock.NowUs(), unplugAt + 1000) << "the read fails as the bridge goes";
  ASSERT_TRUE(last);
  const auto rom = w.rig.programmer.GetChip().rom;
  EXPECT_EQ(rom[*last - 1], 0x5A);
  EXPECT_EQ(rom[0x1FFF], 0xFF) << "power went before the end";
  EXPECT_EQ(w.rig.programmer.ReadMemory(0, 2), (std::vector<uint8_t>{0x5A, 0x5A}));
}

TEST_F(SimUnplugTest, SecondBridgeNumberAndName) {
  SimRig other(w.clock, w.registry, {.comName = "COM12", .number = 7});
  EXPECT_EQ(w.registry.ReadString(Hive::kMachine, kSerialPortMapKey, "\\Device\\ProlificSerial7"), "COM12");
  other.bridge.Unplug();
  EXPECT_FALSE(w.registry.ReadString(Hive::kMachine, kSerialPortMapKey, "\\Device\\ProlificSerial7"));
  EXPECT_EQ(MapEntry(), "COM5");
}

}  // namespace
}  // namespace kovra::test
