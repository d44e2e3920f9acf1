// SPDX-License-Identifier: MIT
// A production day against the simulated programmer: load, download, then
// chip after chip with one button, in both variants of the automatic run.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_dispatch.h"
#include "app/settings.h"
#include "base/control_ids.h"
#include "base/program_key.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "chips/chip_list.h"
#include "image/code_image.h"
#include "ops/production_record.h"
#include "support/sample_files.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

using test::SimWorld;

struct Day : SimWorld {
  explicit Day(const char* chip) : SimWorld(chip) {
    window.SetText(id::kFilePath, dir.Write("code.hex", test::SampleHex(0x1800)));
    Tick();
  }
  void Button(int controlId, int parent = id::kGroupOperations) {
    OnCommandRequest(ctx, controlId, parent);
    worker.WaitIdle();
  }
  void InsertBlank(sim::ChipType type) { rig.programmer.SetChip(sim::Chip::Blank(type, 0x2000)); }
  std::vector<uint8_t> ChipBytes(uint32_t first, uint32_t last) {
    const sim::Chip chip = rig.programmer.GetChip();
    return {chip.rom.begin() + first, chip.rom.begin() + last + 1};
  }
  std::vector<uint8_t> ImageBytes(uint32_t first, uint32_t last) {
    return {state.codeImage.begin() + first, state.codeImage.begin() + last + 1};
  }
  std::vector<uint8_t> Codes() {
    std::vector<uint8_t> codes;
    for (const auto& f : Frames()) codes.push_back(f[20]);
    return codes;
  }
};

struct OptionCase {
  const char* name;
  const char* chip;
  sim::ChipType type;
  bool debugMode;
  std::vector<std::pair<int, bool>> options;  // boxes changed from the chip's defaults
  std::vector<uint8_t> commands;              // the chip commands of one run, in order
  bool readProtected, ldcProtected, writeProtected, smart;
};
// Test logs name the case instead of dumping its bytes.
void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class ProductionDay : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ProductionDay, EveryChipHoldsTheCodeWithTheAskedProtections) {
  const OptionCase& c = GetParam();
  Day d(c.chip);
  d.window.SetChecked(id::kDebugMode, c.debugMode);
  for (auto [box, ticked] : c.options) d.window.SetChecked(box, ticked);

  d.Button(id::kRefreshMemory, id::kGroupFiles);
  ASSERT_EQ(d.state.codeLoaded, 1) << d.Status();
  EXPECT_EQ(d.window.GetText(id::kEndAddress), "17FF");
  const std::string sum = Hex4(SumImage(d.state, 0, 0x17FF));
  EXPECT_EQ(d.window.GetText(id::kChecksumField), sum);
  EXPECT_EQ(d.Status(), "编程内存检查和 =  " + sum);
  if (!c.debugMode) {
    EXPECT_EQ(d.rig.programmer.ReadMemory(0, 0x1800), d.ImageBytes(0, 0x17FF));
  }

  for (uint32_t chip = 1; chip <= 3; ++chip) {
    SCOPED_TRACE(chip);
    d.InsertBlank(c.type);
    const size_t before = d.Frames().size();
    d.Button(id::kAutoProgram);
    EXPECT_EQ(d.Status(), "自动编程已成功完成");
    EXPECT_EQ(d.state.linkError, 0);
    EXPECT_EQ(d.state.successCount, chip);
    EXPECT_EQ(d.window.GetText(id::kSuccessCount), NumberToText(chip, 10, 6));
    EXPECT_EQ(d.state.busy, 0);

    const auto codes = d.Codes();
    EXPECT_EQ(std::vector<uint8_t>(codes.begin() + static_cast<long>(before), codes.end()), c.commands);
    const sim::Chip programmed = d.rig.programmer.GetChip();
    EXPECT_EQ(d.ChipBytes(0, 0x17FF), d.ImageBytes(0, 0x17FF));
    EXPECT_EQ(programmed.readProtected, c.readProtected);
    EXPECT_EQ(programmed.ldcProtected, c.ldcProtected);
    EXPECT_EQ(programmed.writeProtected, c.writeProtected);
    EXPECT_EQ(programmed.smartEnabled, c.smart);
  }
  EXPECT_EQ(d.state.failureCount, 0u);
  // Start beep, then the long success beep, for every chip.
  EXPECT_EQ(d.sound.beeps.size(), 6u);
  EXPECT_TRUE(d.rig.Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, ProductionDay,
    ::testing::Values(
        OptionCase{"otp_defaults", "KV86P48", sim::ChipType::kOtp, false, {}, {3, 11, 5, 7}, true, false, false, false},
        OptionCase{"otp_image", "KV86P48", sim::ChipType::kOtp, true, {}, {3, 0x13, 2, 7}, true, false, false, false},
        OptionCase{"otp_ldc_no_blank_check",
                   "KV86P48",
                   sim::ChipType::kOtp,
                   false,
                   {{id::kOptAutoLdcProtect, true}, {id::kOptAutoBlankCheck, false}},
                   {11, 5, 8, 7},
                   true,
                   true,
                   false,
                   false},
        // OTP skips erase, SMART and hardware write protection whatever the boxes say.
        OptionCase{"otp_ignores_mtp_steps",
                   "KV86P48",
                   sim::ChipType::kOtp,
                   false,
                   {{id::kOptSmart, true}, {id::kOptEraseMtp, true}, {id::kOptAutoHwWriteProtect, true}},
                   {3, 11, 5, 7},
                   true,
                   false,
                   false,
                   false},
        OptionCase{
            "mtp_defaults", "KV88M48", sim::ChipType::kMtp, false, {}, {4, 11, 5, 6, 7}, true, false, false, true},
        OptionCase{"mtp_image_with_hw_protect",
                   "KV88M48",
                   sim::ChipType::kMtp,
                   true,
                   {{id::kOptAutoHwWriteProtect, true}},
                   {4, 0x13, 2, 6, 7, 9},
                   true,
                   false,
                   true,
                   true},
        OptionCase{"mtp_everything",
                   "KV88M48",
                   sim::ChipType::kMtp,
                   false,
                   {{id::kOptAutoHwWriteProtect, true}, {id::kOptAutoLdcProtect, true}, {id::kOptAutoBlankCheck, true}},
                   {3, 4, 11, 5, 6, 8, 7, 9},
                   true,
                   true,
                   true,
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

// The line's record from the window: one row a run, and only when the
// settings name a file.
TEST(ProductionRecord, TheWindowRecordsEachRunWhenTheSettingsNameAFile) {
  Day d("KV86P48");
  d.window.SetChecked(id::kDebugMode, false);
  OnCommandRequest(d.ctx, id::kDebugMode, 0);
  d.Button(id::kRefreshMemory, id::kGroupFiles);
  d.InsertBlank(sim::ChipType::kOtp);
  d.Button(id::kAutoProgram);
  ASSERT_EQ(d.Status(), "自动编程已成功完成");
  EXPECT_TRUE(d.records.Contents("C:\\line\\record.csv").empty());

  d.registry.WriteString(Hive::kUser, kSettingsKey, "record", "C:\\line\\record.csv");
  LoadSettings(d.ctx);
  d.InsertBlank(sim::ChipType::kOtp);
  d.Button(id::kAutoProgram);
  d.Button(id::kAutoProgram);  // the same chip again: not blank
  const std::string sum = Hex4(SumImage(d.state, 0, 0x17FF));
  const std::string fields = ",COM5,KV86P48," + d.window.GetText(id::kFilePath) + "," + sum + "," + sum + ",";
  const std::string text = d.records.Contents("C:\\line\\record.csv");
  const size_t first = text.find("\r\n") + 2;
  const size_t second = text.find("\r\n", first) + 2;
  EXPECT_EQ(text.substr(0, first), kRecordHeader);
  EXPECT_NE(text.find(fields + "\"blank,program,verify,read-protect\",pass,自动编程已成功完成,", first),
            std::string::npos)
      << text;
  // The failed run's steps end at the step that failed.
  EXPECT_NE(text.find(fields + "blank,fail,\"芯片不空, 在地址: 00000\",", second), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

// A record file that cannot be written refuses the run before any chip
// command: the line never holds a chip its record does not account for.
TEST(ProductionRecord, TheWindowStartsNoRunItCannotRecord) {
  Day d("KV86P48");
  d.Button(id::kRefreshMemory, id::kGroupFiles);
  ASSERT_EQ(d.state.codeLoaded, 1) << d.Status();
  d.InsertBlank(sim::ChipType::kOtp);
  const std::string path = "R:\\line\\record.csv";
  d.registry.WriteString(Hive::kUser, kSettingsKey, "record", path);
  LoadSettings(d.ctx);
  d.records.Refuse(path);
  const size_t frames = d.Frames().size();

  d.Button(id::kAutoProgram);

  const auto boxes = d.window.MessageBoxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().text, kTextRecordFailed + path);
  EXPECT_EQ(boxes.back().caption, kWarningCaptionSpaced);
  EXPECT_EQ(d.Frames().size(), frames);
  EXPECT_EQ(d.ChipBytes(0, 0x17FF), std::vector<uint8_t>(0x1800, 0xFF));
  EXPECT_EQ(d.state.successCount, 0u);
  EXPECT_EQ(d.state.failureCount, 0u);
  EXPECT_EQ(d.state.busy, 0);
}

}  // namespace
}  // namespace kovra
