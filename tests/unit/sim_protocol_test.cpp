// SPDX-License-Identifier: MIT
// What the simulated programmer reports as protocol misuse by the host, and
// how it finds the next frame after misuse or after a stream's padding.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_raw_host.h"

namespace kovra::test {
namespace {

bool Mentions(const std::vector<sim::Violation>& violations, const std::string& part) {
  for (const auto& v : violations)
    if (v.text.find(part) != std::string::npos) return true;
  return false;
}

std::string Texts(const std::vector<sim::Violation>& violations) {
  std::string out;
  for (const auto& v : violations) out += v.text + "; ";
  return out;
}

// Each bad frame is still answered with 21 bytes; refused commands get
// nothing more, so the host's next read runs dry.
struct BadFrameCase {
  const char* name;
  FrameFields fields;
  const char* violation;
  bool refused;
  std::vector<uint8_t> data = {};  // what the command takes from the host
  uint32_t runsMs = 0;
};
// Test logs name the case instead of dumping its bytes.
void PrintTo(const BadFrameCase& c, std::ostream* os) { *os << c.name; }

class SimBadFrameTest : public ::testing::TestWithParam<BadFrameCase> {};

TEST_P(SimBadFrameTest, IsReportedAndAnswered) {
  const BadFrameCase& c = GetParam();
  SimRawWorld w;
  ASSERT_TRUE(w.opened);
  EXPECT_EQ(w.host.Exchange(c.fields).size(), 21u);
  EXPECT_TRUE(Mentions(w.Violations(), c.violation)) << Texts(w.Violations());
  if (c.refused) {
    EXPECT_TRUE(w.host.Answer(2, 50).empty());
  }
  w.host.Write(c.data);
  w.clock.SleepMs(c.runsMs);
  w.rig.Sync();
  w.rig.programmer.ClearViolations();
  EXPECT_EQ(w.host.Exchange({}).size(), 21u) << "the next good frame";
  EXPECT_TRUE(w.Violations().empty()) << Texts(w.Violations());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimBadFrameTest,
    ::testing::Values(
        BadFrameCase{"Byte10NotOne", {.byte10 = 0}, "byte 10", false},
        BadFrameCase{"ChipTypeThree", {.chipType = 3}, "chip type", false},
        BadFrameCase{"SupplyNeither", {.supply = 0x43}, "supply", false},
        BadFrameCase{"SupplyHighBits", {.supply = 0x11}, "bits 4 and 5", false},
        BadFrameCase{"BothProgrammingVoltages", {.supply = 0xC1}, "both", false},
        BadFrameCase{"OptionBitSeven", {.options = 0x80}, "bit 7", false},
        BadFrameCase{"Code12", {.code = 0x12}, "0x12 is not in the command set", true},
        BadFrameCase{"Code14", {.code = 0x14}, "0x14 is not in the command set", true},
        BadFrameCase{"Code00", {.code = 0x00}, "0x00 is not in the command set", true},
        BadFrameCase{"StartBeyondEnd", {.code = 0x0D, .start = 0x200, .end = 0x100}, "beyond end", true},
        BadFrameCase{"EndBeyondMemory", {.code = 0x0F, .end = 0x100000}, "beyond the programming memory", true},
        BadFrameCase{"InitialiseNotFromZero", {.code = 0x0C, .start = 0x10}, "always starts at 0", false, {}, 3000},
        BadFrameCase{"DownloadNotFromZero",
                     {.code = 0x0E, .start = 0x10, .end = 0x10},
                     "always starts at 0",
                     false,
                     std::vector<uint8_t>(8, 0),
                     100}),
    [](const auto& info) { return std::string(info.param.name); });

class SimProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(w.opened); }

  std::vector<uint8_t> Frame(const FrameFields& fields) {
    const auto f = MakeFrame(fields);
    return {f.begin(), f.end()};
  }

  SimRawWorld w;
};

TEST_F(SimProtocolTest, StrayBytesBeforeTheHeaderAreReportedAndTheFrameStillAnswered) {
  std::vector<uint8_t> bytes = {'X', 'S', 'T', 'S', 'T', 'A', 0x00};
  const auto frame = Frame({});
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  w.host.Write(bytes);
  w.clock.SleepMs(50);
  EXPECT_EQ(w.host.ReadBytes(21).size(), 21u);
  const auto violations = w.Violations();
  ASSERT_EQ(violations.size(), 1u) << Texts(violations);
  EXPECT_NE(violations[0].text.find("0x58 outside a frame"), std::string::npos);
}

TEST_F(SimProtocolTest, FrameCutShortIsDroppedAndTheNextOneAnswered) {
  const auto frame = Frame({});
  w.host.Write({frame.begin(), frame.begin() + 10});
  w.clock.SleepMs(100);
  EXPECT_TRUE(w.host.ReadBytes(21).empty());
  EXPECT_TRUE(Mentions(w.Violations(), "cut short after 10 bytes")) << Texts(w.Violations());
  EXPECT_EQ(w.host.Exchange({}).size(), 21u);
}

TEST_F(SimProtocolTest, FrameWhileBusyIsIgnoredAndReported) {
  ASSERT_EQ(w.host.Exchange({.code = 0x0C}).size(), 21u);
  EXPECT_TRUE(w.host.Exchange({}).empty()) << "erasing: the programmer is not listening";
  EXPECT_TRUE(Mentions(w.Violations(), "while busy with command 0x0C")) << Texts(w.Violations());
  EXPECT_EQ(AsText(w.host.Answer(5, 200)), "ROMOK");
}

TEST_F(SimProtocolTest, ShortDownloadStreamIsReported) {
  ASSERT_EQ(w.host.Exchange({.code = 0x0E, .end = 0xFF}).size(), 21u);
  w.host.Write(std::vector<uint8_t>(100, 0x11));
  w.clock.SleepMs(2000);
  EXPECT_TRUE(Mentions(w.Violations(), "stopped after 100 of 256 bytes")) << Texts(w.Violations());
  w.rig.Sync();
  EXPECT_EQ(w.rig.programmer.ReadMemory(99, 2), (std::vector<uint8_t>{0x11, 0xFF}));
  w.rig.programmer.ClearViolations();
  EXPECT_EQ(w.host.Exchange({}).size(), 21u);
  EXPECT_TRUE(w.Violations().empty()) << Texts(w.Violations());
}

TEST_F(SimProtocolTest, DownloadWhoseChecksumWordIsNotTheSumOfItsBytesIsReported) {
  ASSERT_EQ(w.host.Exchange({.code = 0x0E, .end = 0x7, .checksum = 0x1234}).size(), 21u);
  w.host.Write(std::vector<uint8_t>(8, 0x01));
  w.clock.SleepMs(100);
  EXPECT_TRUE(Mentions(w.Violations(), "download checksum word")) << Texts(w.Violations());
}

// Up to 7 bytes past the range do no harm, even bytes that look like the
// start of a frame; an 8th is misuse.
struct PaddingCase {
  const char* name;
  std::vector<uint8_t> extra;
  bool misuse;
};
// Test logs name the case instead of dumping its bytes.
void PrintTo(const PaddingCase& c, std::ostream* os) { *os << c.name; }

class SimPaddingTest : public ::testing::TestWithParam<PaddingCase> {};

TEST_P(SimPaddingTest, AfterAStreamedProgram) {
  const PaddingCase& c = GetParam();
  SimRawWorld w;
  ASSERT_TRUE(w.opened);
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5};
  ASSERT_EQ(w.host.Exchange({.code = 0x13, .end = 4, .checksum = Sum16(data)}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  std::vector<uint8_t> bytes = data;
  bytes.insert(bytes.end(), c.extra.begin(), c.extra.end());
  w.host.Write(bytes);
  EXPECT_EQ(AsText(w.host.Answer(2, 100)), "OK");
  EXPECT_EQ(w.host.Exchange({}).size(), 21u);
  EXPECT_EQ(Mentions(w.Violations(), "more than 7 bytes"), c.misuse) << Texts(w.Violations());
  if (!c.misuse) {
    EXPECT_TRUE(w.Violations().empty()) << Texts(w.Violations());
  }
}

INSTANTIATE_TEST_SUITE_P(Sim, SimPaddingTest,
                         ::testing::Values(PaddingCase{"None", {}, false}, PaddingCase{"Three", {9, 9, 9}, false},
                                           PaddingCase{"LooksLikeAHeader", {'S', 'T', 'A'}, false},
                                           PaddingCase{"Seven", {9, 9, 9, 9, 9, 9, 9}, false},
                                           PaddingCase{"Eight", {9, 9, 9, 9, 9, 9, 9, 9}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimProtocolTest, WritingWithTheWrongLineSettingsIsReported) {
  ASSERT_TRUE(w.rig.port.Configure({Baud::k9600, Parity::kNone, DataBits::k8, StopBits::kOne, false, false}));
  w.host.Write({0x55});
  EXPECT_TRUE(Mentions(w.Violations(), "38400")) << Texts(w.Violations());
}

TEST_F(SimProtocolTest, LogHoldsEveryFrameStreamAndAnswerInHex) {
  const std::vector<uint8_t> data = {0xA1, 0xA2, 0xA3};
  ASSERT_EQ(w.host.Exchange({.code = 0x13, .end = 2, .checksum = Sum16(data)}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  w.host.Write({0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0});
  ASSERT_EQ(w.host.Answer(2, 100).size(), 2u);
  const std::string log = w.rig.programmer.HexLog();
  // Each expectation: one line of the log holding all its parts.
  const auto hasLine = [&log](std::initializer_list<const char*> parts) {
    size_t at = 0;
    while (at < log.size()) {
      const size_t end = log.find('\n', at);
      const std::string line = log.substr(at, end - at);
      bool all = true;
      for (const char* part : parts) all = all && line.find(part) != std::string::npos;
      if (all) return true;
      at = end == std::string::npos ? log.size() : end + 1;
    }
    return false;
  };
  EXPECT_TRUE(hasLine({"host > frame 0x13", "53 54 41 52 01 25 00 02"})) << log;
  EXPECT_TRUE(hasLine({"< frame answer", "4B 4F 56 52 41"})) << log;
  EXPECT_TRUE(hasLine({"< ack", "41 4B"})) << log;
  EXPECT_TRUE(hasLine({"host > data stream", "A1 A2 A3"})) << log;
  EXPECT_TRUE(hasLine({"host > padding", "00 00 00 00 00"})) << log;
  EXPECT_TRUE(hasLine({"< verdict", "4F 4B"})) << log;
}

}  // namespace
}  // namespace kovra::test
