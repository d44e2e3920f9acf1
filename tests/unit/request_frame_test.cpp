// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "base/control_ids.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TestWorld;

struct FrameCase {
  const char* name;
  std::vector<int> ticked;
  std::vector<int> disabled;
  const char* checksumText;
  uint8_t chipType;
  uint8_t options;
  uint8_t voltages;
  uint8_t sumHigh, sumLow;
};

TEST(BuildRequestFrame, FillsTheCommonFieldsFromTheWindow) {
  const FrameCase cases[] = {
      {"otp 5V 12V verify+read",
       {id::kChipOtp, id::kVcc50, id::kVpp12, id::kOptAutoVerify, id::kOptAutoReadProtect},
       {},
       "1A2B",
       1,
       0x21,
       0x41,
       0x1A,
       0x2B},
      {"mtp 3.3V Vcc all options",
       {id::kChipMtp, id::kVcc33, id::kVppVcc, id::kOptAutoVerify, id::kOptAutoReadProtect, id::kOptSmart,
        id::kOptEraseMtp, id::kOptAutoHwWriteProtect, id::kOptAutoLdcProtect, id::kOptAutoBlankCheck},
       {},
       "0",
       2,
       0x7F,
       0x82,
       0x00,
       0x00},
      {"11V sets no Vpp bit", {id::kChipMtp, id::kVcc50, id::kVpp11}, {}, "", 2, 0x00, 0x01, 0, 0},
      {"disabled boxes add nothing",
       {id::kChipOtp, id::kVcc50, id::kVpp12, id::kOptSmart, id::kOptEraseMtp, id::kOptAutoHwWriteProtect},
       {id::kOptSmart, id::kOptEraseMtp, id::kOptAutoHwWriteProtect},
       "FFFF",
       1,
       0x00,
       0x41,
       0xFF,
       0xFF},
      {"both chip types: MTP wins", {id::kChipOtp, id::kChipMtp, id::kVcc50}, {}, "12", 2, 0, 0x01, 0x00, 0x12},
      {"non-hexadecimal checksum", {id::kChipOtp, id::kVcc50}, {}, "12G4", 1, 0, 0x01, 0xFF, 0xFF},
      {"checksum read to nine characters", {id::kChipOtp, id::kVcc50}, {}, "0000000012345", 1, 0, 0x01, 0x00, 0x01},
  };
  for (const FrameCase& c : cases) {
    TestWorld w;
    for (int id : c.ticked) w.window.SetChecked(id, true);
    for (int id : c.disabled) w.window.SetEnabled(id, false);
    w.window.SetText(id::kChecksumField, c.checksumText);
    for (int i = 0; i < 4; ++i) w.state.codeImage[0x3C + i] = static_cast<uint8_t>(0xA0 + i);
    w.state.requestFrame.Fill(0x55);
    BuildRequestFrame(w.ctx);
    const auto& f = w.state.requestFrame.bytes;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "STAR");
    EXPECT_EQ(f[4], c.chipType);
    EXPECT_EQ(f[5], c.options);
    EXPECT_EQ(f[8], c.sumHigh);
    EXPECT_EQ(f[9], c.sumLow);
    EXPECT_EQ(f[10], 1);
    EXPECT_EQ(f[11], c.voltages);
    EXPECT_EQ(f[12], 0xA0);
    EXPECT_EQ(f[15], 0xA3);
    // The operation's own fields are left alone.
    EXPECT_EQ(f[6], 0x55);
    EXPECT_EQ(f[16], 0x55);
    EXPECT_EQ(f[20], 0x55);
    EXPECT_EQ(w.state.optionMask, c.options);
  }
}

TEST(BuildRequestFrame, KeepsOldVoltageBitsWhenNoSupplyIsChosen) {
  TestWorld w;
  w.state.requestFrame.supply() = 0xC2;
  w.window.SetChecked(id::kVpp12, true);
  BuildRequestFrame(w.ctx);
  EXPECT_EQ(w.state.requestFrame.supply(), 0x42);
}

TEST(FrameFields, RangeAndChecksumAreBigEndian) {
  AppState s;
  s.requestFrame.SetRange(0x012345, 0x0ABCDE);
  s.requestFrame.SetChecksum(0xBEEF);
  const auto& f = s.requestFrame.bytes;
  EXPECT_EQ(f[16], 0x01);
  EXPECT_EQ(f[17], 0x23);
  EXPECT_EQ(f[18], 0x45);
  EXPECT_EQ(f[19], 0x0A);
  EXPECT_EQ(f[6], 0xBC);
  EXPECT_EQ(f[7], 0xDE);
  EXPECT_EQ(f[8], 0xBE);
  EXPECT_EQ(f[9], 0xEF);
}

TEST(ProgressReached, BlankCheckAndVerifyMustPassTheEnd) {
  EXPECT_FALSE(ProgressReached(cmd::kBlankCheck, 0x0FFF, 0x0FFF));
  EXPECT_TRUE(ProgressReached(cmd::kBlankCheck, 0x1000, 0x0FFF));
  EXPECT_FALSE(ProgressReached(cmd::kVerifyChip, 0x0FFF, 0x0FFF));
  EXPECT_TRUE(ProgressReached(cmd::kChipChecksum, 0x0FFF, 0x0FFF));
  EXPECT_TRUE(ProgressReached(cmd::kMemoryChecksum, 0x0FFF, 0x0FFF));
  EXPECT_TRUE(ProgressReached(cmd::kProgramFromMemory, 0x0FFF, 0x0FFF));
  EXPECT_FALSE(ProgressReached(cmd::kCopyChipToMemory, 0x0FFE, 0x0FFF));
}

}  // namespace
}  // namespace kovra
