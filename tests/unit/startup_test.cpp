// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include <gtest/gtest.h>

#include "app/settings.h"
#include "base/control_ids.h"
#include "link/programmer_link.h"
#include "support/sample_files.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TempDir;
using test::TestWorld;

constexpr const char* kList =
    "NOSELEC OTP 0 VCC 5V 1\n"
    "KV86P4A OTP 0 12V 5V 1\n"
    "KV88MB8 MTP 0 VCC 3V 1\n";

TEST(Startup, LeavesTheWindowReadyForTheOperator) {
  TempDir dir;
  dir.Write("samlist.txt", kList);
  TestWorld w;
  w.registry.WriteString(Hive::kMachine, kSettingsKey, "setup", dir.path().string());
  w.registry.WriteString(Hive::kMachine, kSettingsKey, "chip", "KV88MB8");
  w.registry.WriteString(Hive::kMachine, kSettingsKey, "com", "COM7");
  w.state.fillZero = 1;
  w.state.codeImage[5] = 0;

  InitializeMainWindow(w.ctx);
  HeadlessWindow& win = w.window;

  EXPECT_EQ(w.state.chipCount, 3u);
  EXPECT_EQ(win.ComboCount(id::kChipCombo), 3);
  EXPECT_EQ(win.GetText(id::kChipCombo), "KV88MB8");
  EXPECT_EQ(w.state.currentPortName, "COM7");
  // The MTP chip is applied: type, voltages and its ROM end.
  EXPECT_TRUE(win.IsChecked(id::kChipMtp));
  EXPECT_FALSE(win.IsEnabled(id::kChipOtp));
  EXPECT_EQ(win.GetText(id::kVccField), "3.3");
  EXPECT_EQ(win.GetText(id::kVppField), "VCC");
  EXPECT_EQ(win.GetText(id::kEndAddress), "1FFF");
  EXPECT_EQ(win.GetText(id::kStartAddress), "0000");

  EXPECT_TRUE(win.IsChecked(id::kDataSam48));
  EXPECT_FALSE(win.IsEnabled(id::kDataCalmRisc));
  EXPECT_TRUE(win.IsChecked(id::kDebugMode));
  EXPECT_TRUE(win.IsChecked(id::kBuzzer));
  EXPECT_NE(w.state.controlFlags & kFlagBuzzerOn, 0u);
  EXPECT_FALSE(win.IsEnabled(id::kVppField));
  EXPECT_FALSE(win.IsEnabled(id::kVccField));
  EXPECT_EQ(win.GetText(id::kSuccessCount), "00000");
  EXPECT_EQ(win.GetText(id::kFailureCount), "00000");

  EXPECT_FALSE(win.IsVisible(id::kGroupCodeView));
  EXPECT_FALSE(win.IsVisible(id::kCodeGrid));
  EXPECT_FALSE(win.IsVisible(id::kBack));
  EXPECT_TRUE(win.IsVisible(id::kGroupOperations));

  EXPECT_EQ(w.state.fillZero, 0);
  EXPECT_EQ(w.state.codeImage[5], 0xFF);
  EXPECT_EQ(w.state.memoryStart, 0u);
  EXPECT_EQ(w.state.memoryEnd, 0x1FFFu);
  EXPECT_EQ(win.Timers().at(kMainTimer), 500u);
  EXPECT_EQ(w.state.firstTickDone, 0);
  EXPECT_EQ(win.GetText(id::kStatusLine), kWelcomeText);
  EXPECT_TRUE(win.MessageBoxes().empty());
}

TEST(Startup, MissingListFallsBackToNoChip) {
  TestWorld w;
  w.registry.WriteString(Hive::kMachine, kSettingsKey, "setup", "/no/such/folder");
  InitializeMainWindow(w.ctx);
  EXPECT_EQ(w.window.ComboCount(id::kChipCombo), 1);
  EXPECT_EQ(w.window.GetText(id::kChipCombo), "NOSELEC");
  EXPECT_EQ(w.state.currentPortName, "COM1");
  EXPECT_EQ(w.window.GetText(id::kEndAddress), "0FFF");
  ASSERT_EQ(w.window.MessageBoxes().size(), 1u);
  EXPECT_EQ(w.window.MessageBoxes()[0].text, "调入指定安装路径的烧写器芯片列表文件失败!");
  EXPECT_EQ(w.window.GetText(id::kStatusLine), kWelcomeText);
}

}  // namespace
}  // namespace kovra
