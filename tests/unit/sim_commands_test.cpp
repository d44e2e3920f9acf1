// SPDX-License-Identifier: MIT
// The simulated programmer's commands over the in-process port, raw bytes
// with the host's waits: shapes of the answers, their timing, and what each
// command does to the chip and the programming memory.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_raw_host.h"

namespace kovra::test {
namespace {

using sim::Chip;
using sim::ChipType;

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return bytes;
}

std::string ViolationTexts(const std::vector<sim::Violation>& violations) {
  std::string out;
  for (const auto& v : violations) out += v.text + "; ";
  return out;
}

class SimCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(w.opened); }
  void TearDown() override { EXPECT_TRUE(w.Violations().empty()) << ViolationTexts(w.Violations()); }

  // Progress reads as the host makes them: a pause, then up to 30 tries,
  // until the address is "reached" or a read runs dry.
  struct Walk {
    std::vector<uint32_t> addresses;
    bool ranDry = false;
  };
  Walk ReadProgress(uint32_t start, uint32_t end, uint32_t pauseMs, bool pastEnd) {
    Walk walk;
    uint32_t last = start;
    while (pastEnd ? last <= end : last < end) {
      w.clock.SleepMs(pauseMs);
      const auto address = w.host.Progress();
      if (!address) {
        walk.ranDry = true;
        break;
      }
      walk.addresses.push_back(*address);
      last = *address;
    }
    return walk;
  }

  void LoadChip(const std::vector<uint8_t>& rom, ChipType type = ChipType::kOtp) {
    Chip chip = Chip::Blank(type, static_cast<uint32_t>(rom.size()));
    chip.rom = rom;
    w.rig.programmer.SetChip(chip);
  }

  bool NothingMoreWithin(uint32_t ms) {
    w.clock.SleepMs(ms);
    return w.host.ReadBytes(64).empty();
  }

  SimRawWorld w;
};

TEST_F(SimCommandTest, ConnectProbeGetsTwentyOneBytesSoon) {
  const uint64_t before = w.clock.NowUs();
  const auto answer = w.host.Exchange({.code = 0x01});
  ASSERT_EQ(answer.size(), 21u);
  EXPECT_EQ(AsText({answer.begin(), answer.begin() + 5}), "KOVRA");
  EXPECT_EQ(answer[6], 0x01);
  // Frame out, 50 ms pause, answer in: well inside the 50 + 2 x 16 ms read.
  EXPECT_LT(w.clock.NowUs() - before, 70'000u);
  EXPECT_TRUE(NothingMoreWithin(100));
}

struct VerdictCase {
  const char* name;
  uint8_t code;
  ChipType type;
  bool writeProtected;
  const char* verdict;
  bool (*effect)(const Chip&);
};

class SimVerdictTest : public SimCommandTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(SimVerdictTest, AnswersWithinTheHostsTriesAndActsOnTheChip) {
  const VerdictCase& c = GetParam();
  Chip chip = Chip::Blank(c.type, 0x1000);
  chip.rom[0x10] = 0x12;
  chip.writeProtected = c.writeProtected;
  w.rig.programmer.SetChip(chip);
  ASSERT_EQ(w.host.Exchange({.code = c.code, .chipType = static_cast<uint8_t>(c.type)}).size(), 21u);
  EXPECT_EQ(AsText(w.host.Answer(2, 100)), c.verdict);
  EXPECT_TRUE(c.effect(w.rig.programmer.GetChip()));
  EXPECT_TRUE(NothingMoreWithin(200));
}

bool Erased(const Chip& chip) { return chip.IsBlank(); }
bool NotErased(const Chip& chip) { return chip.rom[0x10] == 0x12; }
bool Smart(const Chip& chip) { return chip.smartEnabled; }
bool NoSmart(const Chip& chip) { return !chip.smartEnabled; }
bool ReadProtected(const Chip& chip) { return chip.readProtected; }
bool NotReadProtected(const Chip& chip) { return !chip.readProtected; }
bool LdcProtected(const Chip& chip) { return chip.ldcProtected; }
bool WriteProtected(const Chip& chip) { return chip.writeProtected; }
bool NotWriteProtected(const Chip& chip) { return !chip.writeProtected; }

INSTANTIATE_TEST_SUITE_P(
    Sim, SimVerdictTest,
    ::testing::Values(VerdictCase{"EraseMtp", 0x04, ChipType::kMtp, false, "OK", Erased},
                      VerdictCase{"EraseOtpRefused", 0x04, ChipType::kOtp, false, "NO", NotErased},
                      VerdictCase{"EraseWriteProtectedMtpRefused", 0x04, ChipType::kMtp, true, "NO", NotErased},
                      VerdictCase{"SmartMtp", 0x06, ChipType::kMtp, false, "OK", Smart},
                      VerdictCase{"SmartOtpRefused", 0x06, ChipType::kOtp, false, "NO", NoSmart},
                      VerdictCase{"ReadProtectOtp", 0x07, ChipType::kOtp, false, "OK", ReadProtected},
                      VerdictCase{"ReadProtectWriteProtectedRefused", 0x07, ChipType::kMtp, true, "NO",
                                  NotReadProtected},
                      VerdictCase{"LdcProtectMtp", 0x08, ChipType::kMtp, false, "OK", LdcProtected},
                      VerdictCase{"WriteProtectMtp", 0x09, ChipType::kMtp, false, "OK", WriteProtected},
                      VerdictCase{"WriteProtectOtpRefused", 0x09, ChipType::kOtp, false, "NO", NotWriteProtected}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimCommandTest, VerdictIsNoWhenTheFrameNamesAnotherChipType) {
  w.rig.programmer.SetChip(Chip::Blank(ChipType::kOtp, 0x1000));
  ASSERT_EQ(w.host.Exchange({.code = 0x07, .chipType = 2}).size(), 21u);
  EXPECT_EQ(AsText(w.host.Answer(2, 100)), "NO");
  EXPECT_FALSE(w.rig.programmer.GetChip().readProtected);
}

// Each progress command over 0..7FFFH with the host's pause: addresses rise,
// only the last one is "reached", and the closing answer follows it.
struct ProgressCase {
  const char* name;
  uint8_t code;
  uint32_t pauseMs;
  bool pastEnd;
};

class SimProgressTest : public SimCommandTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(SimProgressTest, AddressesRiseToTheEndThenTheClosingAnswer) {
  const ProgressCase& c = GetParam();
  constexpr uint32_t kEnd = 0x7FFF;
  const auto memory = Pattern(kEnd + 1, 3);
  w.rig.programmer.WriteMemory(0, memory);
  const auto rom = c.code == 0x03 ? std::vector<uint8_t>(0x8000, 0xFF) : Pattern(0x8000, 3);
  if (c.code != 0x0B) LoadChip(rom);

  ASSERT_EQ(w.host.Exchange({.code = c.code, .end = kEnd, .checksum = Sum16(memory)}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  const Walk walk = ReadProgress(0, kEnd, c.pauseMs, c.pastEnd);
  ASSERT_FALSE(walk.ranDry);
  ASSERT_GE(walk.addresses.size(), 2u) << "a walk this long reports on the way";
  for (size_t i = 0; i + 1 < walk.addresses.size(); ++i) {
    EXPECT_LT(walk.addresses[i], walk.addresses[i + 1]);
    EXPECT_LT(walk.addresses[i], kEnd + (c.pastEnd ? 1 : 0)) << "only the last address may be reached";
  }
  EXPECT_EQ(walk.addresses.back(), kEnd + 1);

  switch (c.code) {
    case 0x02:
      EXPECT_EQ(w.host.Word(), Sum16(rom, 0, kEnd + 1));
      break;
    case 0x0D:
      EXPECT_EQ(w.host.Word(), Sum16(memory));
      break;
    case 0x10:
      EXPECT_EQ(w.host.Word(), Sum16(rom, 0, kEnd + 1));
      EXPECT_EQ(w.rig.programmer.ReadMemory(0, kEnd + 1), std::vector<uint8_t>(rom.begin(), rom.begin() + kEnd + 1));
      break;
    case 0x0B:
      EXPECT_EQ(AsText(w.host.Answer(2, 50)), "OK");
      EXPECT_EQ(w.rig.programmer.GetChip().rom, memory);
      break;
    default:
      break;  // blank check and verify end with the address alone
  }
  EXPECT_TRUE(NothingMoreWithin(2000));
}

INSTANTIATE_TEST_SUITE_P(Sim, SimProgressTest,
                         ::testing::Values(ProgressCase{"ChipChecksum", 0x02, 100, false},
                                           ProgressCase{"BlankCheck", 0x03, 50, true},
                                           ProgressCase{"Verify", 0x05, 150, true},
                                           ProgressCase{"ProgramFromMemory", 0x0B, 0, false},
                                           ProgressCase{"MemoryChecksum", 0x0D, 50, false},
                                           ProgressCase{"CopyChipToMemory", 0x10, 300, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimCommandTest, OneByteRangeSendsTheChecksumWordRightAfterTheAcknowledgement) {
  w.rig.programmer.WriteMemory(0, {0x9A});
  w.rig.programmer.WriteMemory(0x40, {0x5B});
  for (const uint32_t at : {0x0u, 0x40u}) {
    ASSERT_EQ(w.host.Exchange({.code = 0x0D, .start = at, .end = at}).size(), 21u);
    ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
    EXPECT_EQ(w.host.Word(), at == 0 ? 0x9A : 0x5B);
    EXPECT_TRUE(NothingMoreWithin(500));
  }
}

// Blank check and verify stop their addresses at the first failing byte,
// so the host's next read runs dry and it reports that address.
struct StopCase {
  const char* name;
  uint8_t code;
  uint32_t pauseMs;
  uint32_t failAt;
};

class SimFirstFailureTest : public SimCommandTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(SimFirstFailureTest, LastAddressIsTheFailingByte) {
  const StopCase& c = GetParam();
  std::vector<uint8_t> rom(0x1000, 0xFF);
  if (c.code == 0x05) {
    rom = Pattern(0x1000, 9);
    w.rig.programmer.WriteMemory(0, rom);
    rom[c.failAt] ^= 0x40;
  } else {
    rom[c.failAt] = 0x00;
    rom[c.failAt + 1] = 0x00;
  }
  LoadChip(rom);
  ASSERT_EQ(w.host.Exchange({.code = c.code, .end = 0x0FFF}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  const Walk walk = ReadProgress(0, 0x0FFF, c.pauseMs, true);
  EXPECT_TRUE(walk.ranDry);
  ASSERT_FALSE(walk.addresses.empty());
  EXPECT_EQ(walk.addresses.back(), c.failAt);
  EXPECT_TRUE(NothingMoreWithin(1000));
}

INSTANTIATE_TEST_SUITE_P(Sim, SimFirstFailureTest,
                         ::testing::Values(StopCase{"BlankCheckAt0123", 0x03, 50, 0x123},
                                           StopCase{"BlankCheckAtStart", 0x03, 50, 0x000},
                                           StopCase{"VerifyAt0456", 0x05, 150, 0x456},
                                           StopCase{"VerifyAtLastByte", 0x05, 150, 0xFFF}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimCommandTest, BlockReadsSendTheBytesThenTheirSum) {
  const auto rom = Pattern(0x2000, 5);
  LoadChip(rom);
  const auto memory = Pattern(0x2000, 77);
  w.rig.programmer.WriteMemory(0, memory);
  for (const uint8_t code : {uint8_t{0x0A}, uint8_t{0x0F}}) {
    const auto& source = code == 0x0A ? rom : memory;
    ASSERT_EQ(w.host.Exchange({.code = code, .start = 0x100, .end = 0x4FF}).size(), 21u);
    ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
    w.clock.SleepMs(50);
    const auto data = w.host.ReadBytes(0x400);
    ASSERT_EQ(data, std::vector<uint8_t>(source.begin() + 0x100, source.begin() + 0x500));
    EXPECT_EQ(w.host.Word(), Sum16(data));
  }
}

TEST_F(SimCommandTest, ReadProtectedChipReadsAsZeros) {
  LoadChip(Pattern(0x1000, 1));
  w.rig.programmer.UpdateChip([](Chip& chip) { chip.readProtected = true; });
  ASSERT_EQ(w.host.Exchange({.code = 0x0A, .end = 0xFF}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  EXPECT_EQ(w.host.ReadBytes(0x100), std::vector<uint8_t>(0x100, 0x00));
  EXPECT_EQ(w.host.Word(), 0);
}

TEST_F(SimCommandTest, ChipReadsPastItsRomAsErased) {
  LoadChip(Pattern(0x800, 1));
  ASSERT_EQ(w.host.Exchange({.code = 0x0A, .start = 0x7F0, .end = 0x80F}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  const auto data = w.host.ReadBytes(0x20);
  ASSERT_EQ(data.size(), 0x20u);
  EXPECT_EQ(data[0x0F], Pattern(0x800, 1)[0x7FF]);
  EXPECT_EQ(data[0x10], 0xFF);
}

TEST_F(SimCommandTest, InitialisationErasesTheMemoryAndSaysRomokWithin200Tries) {
  w.rig.programmer.WriteMemory(0x1234, {1, 2, 3});
  ASSERT_EQ(w.host.Exchange({.code = 0x0C, .checksum = 0x1234}).size(), 21u);
  EXPECT_TRUE(w.host.Dsr()) << "busy while erasing";
  EXPECT_EQ(AsText(w.host.Answer(5, 200)), "ROMOK");
  EXPECT_FALSE(w.host.Dsr());
  EXPECT_EQ(w.rig.programmer.ReadMemory(0x1234, 3), std::vector<uint8_t>(3, 0xFF));
}

TEST_F(SimCommandTest, OfflineConfigurationIsKeptWhenTheMemoryMatchesItsChecksum) {
  const auto code = Pattern(0x1000, 4);
  w.rig.programmer.WriteMemory(0, code);
  const FrameFields wrong{.code = 0x11, .end = 0x0FFF, .checksum = static_cast<uint16_t>(Sum16(code) + 1)};
  ASSERT_EQ(w.host.Exchange(wrong).size(), 21u);
  EXPECT_EQ(AsText(w.host.Answer(2, 50)), "NO");
  EXPECT_FALSE(w.rig.programmer.OfflineConfig());

  const FrameFields right{.code = 0x11, .end = 0x0FFF, .checksum = Sum16(code), .chipType = 2, .options = 0x7F};
  ASSERT_EQ(w.host.Exchange(right).size(), 21u);
  EXPECT_EQ(AsText(w.host.Answer(2, 50)), "OK");
  ASSERT_TRUE(w.rig.programmer.OfflineConfig());
  EXPECT_EQ(*w.rig.programmer.OfflineConfig(), MakeFrame(right));
}

TEST_F(SimCommandTest, ProgrammingOnlyClearsBitsSoAConflictingByteFails) {
  std::vector<uint8_t> rom(0x1000, 0xFF);
  rom[0x20] = 0x0F;
  LoadChip(rom);
  std::vector<uint8_t> memory(0x100, 0x33);
  w.rig.programmer.WriteMemory(0, memory);
  ASSERT_EQ(w.host.Exchange({.code = 0x0B, .end = 0xFF, .checksum = Sum16(memory)}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_FALSE(ReadProgress(0, 0xFF, 0, false).ranDry);
  EXPECT_EQ(AsText(w.host.Answer(2, 50)), "NO");
  EXPECT_EQ(w.rig.programmer.GetChip().rom[0x20], 0x03);
  EXPECT_EQ(w.rig.programmer.GetChip().rom[0x21], 0x33);
}

TEST_F(SimCommandTest, ProgramFromMemoryRefusesWhenTheFramesChecksumIsNotTheMemorys) {
  LoadChip(std::vector<uint8_t>(0x1000, 0xFF));
  const auto memory = Pattern(0x100, 2);
  w.rig.programmer.WriteMemory(0, memory);
  ASSERT_EQ(
      w.host.Exchange({.code = 0x0B, .end = 0xFF, .checksum = static_cast<uint16_t>(Sum16(memory) ^ 0x100)}).size(),
      21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_FALSE(ReadProgress(0, 0xFF, 0, false).ranDry);
  EXPECT_EQ(AsText(w.host.Answer(2, 50)), "NO");
}

// The download as the host paces it: 8-byte chunks that never cross a page,
// a 30 ms pause and a DSR poll before the last chunk of a page and before
// the first of the next.
class SimDownloadTest : public SimCommandTest {
 protected:
  struct Outcome {
    int pagesSeenBusy = 0;
    bool dsrTimedOut = false;
  };

  Outcome Stream(const std::vector<uint8_t>& image, uint32_t last, bool pace = true) {
    Outcome outcome;
    uint32_t address = 0;
    uint32_t reference = 0;
    uint32_t previous = 0;
    while (address <= last) {
      if (pace && (((address + previous) ^ reference) & 0xFF00) != 0) {
        w.clock.SleepMs(30);
        int polls = 0;
        while (polls < 50) {
          w.clock.SleepMs(1);
          if (!w.host.Dsr()) break;
          ++polls;
        }
        if (polls == 50) {
          outcome.dsrTimedOut = true;
          break;
        }
        reference = address;
      }
      const uint32_t chunk = (address & 0xFF) <= 0xF7 ? 8 : 256 - (address & 0xFF);
      EXPECT_EQ(w.host.Write({image.begin() + address, image.begin() + address + chunk}), chunk);
      if (((address + chunk) & 0xFF) == 0 && address + chunk <= last && w.host.Dsr()) ++outcome.pagesSeenBusy;
      address += chunk;
      previous = chunk;
    }
    return outcome;
  }
};

TEST_F(SimDownloadTest, PacedStreamLandsInMemoryWithDsrBusyAfterEachPage) {
  constexpr uint32_t kLast = 0x1234;  // the host sends up to 1237H
  const auto image = Pattern(0x2000, 11);
  ASSERT_EQ(w.host.Exchange({.code = 0x0C, .checksum = Sum16(image, 0, kLast + 1)}).size(), 21u);
  ASSERT_EQ(AsText(w.host.Answer(5, 200)), "ROMOK");
  w.clock.SleepMs(200);
  ASSERT_EQ(w.host.Exchange({.code = 0x0E, .end = kLast, .checksum = Sum16(image, 0, kLast + 1)}).size(), 21u);
  const Outcome outcome = Stream(image, kLast);
  EXPECT_FALSE(outcome.dsrTimedOut);
  EXPECT_EQ(outcome.pagesSeenBusy, 0x12);

  w.clock.SleepMs(500);
  ASSERT_EQ(w.host.Exchange({.code = 0x0D, .end = kLast}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_FALSE(ReadProgress(0, kLast, 50, false).ranDry);
  EXPECT_EQ(w.host.Word(), Sum16(image, 0, kLast + 1));
  EXPECT_EQ(w.rig.programmer.ReadMemory(0, kLast + 1), std::vector<uint8_t>(image.begin(), image.begin() + kLast + 1));
  EXPECT_EQ(w.rig.programmer.ReadMemory(kLast + 1, 3), std::vector<uint8_t>(3, 0xFF)) << "padding is not stored";
}

TEST_F(SimDownloadTest, StreamThatIgnoresDsrIsReported) {
  const auto image = Pattern(0x400, 1);
  ASSERT_EQ(w.host.Exchange({.code = 0x0E, .end = 0x3FF, .checksum = Sum16(image)}).size(), 21u);
  Stream(image, 0x3FF, false);
  const auto violations = w.Violations();
  ASSERT_FALSE(violations.empty());
  EXPECT_NE(violations.front().text.find("page write in progress"), std::string::npos);
  w.rig.programmer.ClearViolations();
}

TEST_F(SimCommandTest, StreamedProgramAcknowledgesTakesEightByteWritesAndSaysOk) {
  LoadChip(std::vector<uint8_t>(0x1000, 0xFF));
  const auto image = Pattern(0x200, 6);
  constexpr uint32_t kStart = 0x10;
  constexpr uint32_t kEnd = kStart + 99;  // 100 bytes: the last write carries 4 more
  const uint16_t sum = Sum16(image, kStart, 100);
  ASSERT_EQ(w.host.Exchange({.code = 0x13, .start = kStart, .end = kEnd, .checksum = sum}).size(), 21u);
  ASSERT_EQ(AsText(w.host.Answer(2, 50)), "AK");
  EXPECT_FALSE(w.host.Dsr()) << "ready for the data";
  for (uint32_t a = kStart; a <= kEnd; a += 8) ASSERT_EQ(w.host.Write({image.begin() + a, image.begin() + a + 8}), 8u);
  EXPECT_EQ(AsText(w.host.Answer(2, 100)), "OK");
  const Chip chip = w.rig.programmer.GetChip();
  EXPECT_EQ(std::vector<uint8_t>(chip.rom.begin() + kStart, chip.rom.begin() + kEnd + 1),
            std::vector<uint8_t>(image.begin() + kStart, image.begin() + kEnd + 1));
  EXPECT_EQ(chip.rom[kEnd + 1], 0xFF) << "padding is not programmed";
  EXPECT_EQ(w.host.Exchange({.code = 0x01}).size(), 21u) << "the next frame after the padding";
}

TEST_F(SimCommandTest, StreamedProgramSaysNoWhenTheBytesDoNotSumToTheFramesChecksum) {
  LoadChip(std::vector<uint8_t>(0x1000, 0xFF));
  const auto image = Pattern(0x40, 6);
  ASSERT_EQ(w.host.Exchange({.code = 0x13, .end = 0x3F, .checksum = static_cast<uint16_t>(Sum16(image) + 1)}).size(),
            21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  for (uint32_t a = 0; a < 0x40; a += 8) w.host.Write({image.begin() + a, image.begin() + a + 8});
  EXPECT_EQ(AsText(w.host.Answer(2, 100)), "NO");
}

// A whole 32 KiB run: initialise, download, memory checksum, blank check,
// program, verify. Every answer comes within the host's tries.
TEST_F(SimDownloadTest, WholeProgrammingRunOf32KiB) {
  constexpr uint32_t kLast = 0x7FFF;
  const auto image = Pattern(0x8000, 21);
  const uint16_t sum = Sum16(image);
  LoadChip(std::vector<uint8_t>(0x8000, 0xFF));

  ASSERT_EQ(w.host.Exchange({.code = 0x0C, .checksum = sum}).size(), 21u);
  ASSERT_EQ(AsText(w.host.Answer(5, 200)), "ROMOK");
  w.clock.SleepMs(200);
  ASSERT_EQ(w.host.Exchange({.code = 0x0E, .end = kLast, .checksum = sum}).size(), 21u);
  ASSERT_FALSE(Stream(image, kLast).dsrTimedOut);
  w.clock.SleepMs(500);

  ASSERT_EQ(w.host.Exchange({.code = 0x0D, .end = kLast, .checksum = sum}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_FALSE(ReadProgress(0, kLast, 50, false).ranDry);
  ASSERT_EQ(w.host.Word(), sum);

  ASSERT_EQ(w.host.Exchange({.code = 0x03, .end = kLast, .checksum = sum}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_EQ(ReadProgress(0, kLast, 50, true).addresses.back(), kLast + 1);

  ASSERT_EQ(w.host.Exchange({.code = 0x0B, .end = kLast, .checksum = sum}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_FALSE(ReadProgress(0, kLast, 0, false).ranDry);
  ASSERT_EQ(AsText(w.host.Answer(2, 50)), "OK");

  ASSERT_EQ(w.host.Exchange({.code = 0x05, .end = kLast, .checksum = sum}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_EQ(ReadProgress(0, kLast, 150, true).addresses.back(), kLast + 1);

  EXPECT_EQ(w.rig.programmer.GetChip().rom, image);
  // Virtual time of the run: mostly the download's wire time and pacing
  // plus programming at 200 us a byte; a figure for the record, in seconds.
  RecordProperty("virtual_ms", std::to_string(w.clock.NowMs()));
}

}  // namespace
}  // namespace kovra::test
