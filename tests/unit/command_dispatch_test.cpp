// SPDX-License-Identifier: MIT
#include "app/command_dispatch.h"

#include <gtest/gtest.h>

#include "app/views.h"
#include "base/control_ids.h"
#include "base/texts.h"
#include "link/programmer_link.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TestWorld;

constexpr const char* kMarker = "unchanged";

struct DispatchTest : ::testing::Test {
  TestWorld w;
  void SetUp() override {
    w.window.SetText(id::kStatusLine, kMarker);
    w.window.SetChecked(id::kChipOtp, true);
    w.window.SetChecked(id::kVcc50, true);
    w.window.SetText(id::kStartAddress, "0000");
    w.window.SetText(id::kEndAddress, "1FFF");
  }
  std::string Status() { return w.window.GetText(id::kStatusLine); }
};

struct ButtonCase {
  int id;
  int parent;
};

// The buttons that start an operation; without a link each ends in the
// same refusal, and none of them does anything while an operation runs.
const ButtonCase kOperationButtons[] = {
    {id::kBlankCheck, id::kGroupOperations},
    {id::kChipChecksum, id::kGroupOperations},
    {id::kMemoryChecksum, id::kGroupOperations},
    {id::kReadProtect, id::kGroupOperations},
    {id::kEraseMtp, id::kGroupOperations},
    {id::kLdcProtect, id::kGroupOperations},
    {id::kHwWriteProtect, id::kGroupOperations},
    {id::kOpenFile, id::kGroupFiles},
    {id::kRefreshMemory, id::kGroupFiles},
    {id::kCopyChip, id::kGroupFiles},
    {id::kSaveHex, id::kGroupFiles},
    {id::kPrevPage, id::kGroupCodeView},
    {id::kNextPage, id::kGroupCodeView},
    {id::kSetAddress, id::kGroupCodeView},
    {id::kAsciiView, id::kGroupCodeView},
};

TEST_F(DispatchTest, WithoutALinkOperationsAreRefused) {
  for (const ButtonCase& b : kOperationButtons) {
    w.window.SetText(id::kStatusLine, kMarker);
    EXPECT_FALSE(OnCommandRequest(w.ctx, b.id, b.parent));
    EXPECT_EQ(Status(), kTextNoLink) << b.id;
  }
  EXPECT_TRUE(w.worker.Idle());
}

TEST_F(DispatchTest, BusyIgnoresTheOperationGroups) {
  w.state.busy = 1;
  for (const ButtonCase& b : kOperationButtons) OnCommandRequest(w.ctx, b.id, b.parent);
  OnCommandRequest(w.ctx, id::kAutoProgram, id::kGroupOperations);
  OnCommandRequest(w.ctx, id::kShowMemory, id::kGroupOperations);
  OnCommandRequest(w.ctx, id::kBack, id::kGroupCodeView);
  EXPECT_EQ(Status(), kMarker);
  EXPECT_TRUE(w.window.MessageBoxes().empty());
  EXPECT_TRUE(w.window.IsVisible(id::kGroupOperations));

  // Selections, counters and the exit button keep working.
  OnCommandRequest(w.ctx, id::kVcc33, id::kGroupVcc);
  EXPECT_EQ(w.window.GetText(id::kVccField), "3.3");
  OnCommandRequest(w.ctx, id::kPauseCounting, id::kGroupCounters);
  EXPECT_NE(w.state.controlFlags & kFlagCountingPaused, 0u);
  EXPECT_TRUE(OnCommandRequest(w.ctx, id::kExit, 0));
}

TEST_F(DispatchTest, VoltageRadiosSetTheDisplays) {
  const struct {
    int id;
    int field;
    const char* text;
  } cases[] = {{id::kVcc50, id::kVccField, "5.0"},
               {id::kVcc33, id::kVccField, "3.3"},
               {id::kVpp12, id::kVppField, "12.0"},
               {id::kVppVcc, id::kVppField, "VCC"},
               {id::kVpp11, id::kVppField, "11.0"}};
  for (const auto& c : cases) {
    OnCommandRequest(w.ctx, c.id, 0);
    EXPECT_EQ(w.window.GetText(c.field), c.text);
  }
}

TEST_F(DispatchTest, AutoProgramRefusesAChangedRange) {
  w.state.memoryStart = 0;
  w.state.memoryEnd = 0x0FFF;
  w.state.codeLoaded = 1;
  OnCommandRequest(w.ctx, id::kAutoProgram, id::kGroupOperations);
  const auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "提 示");
  EXPECT_NE(boxes[0].text.find("编程地址已改变"), std::string::npos);
  EXPECT_EQ(Status(), kMarker);
}

TEST_F(DispatchTest, NoCodeRefusesAutoProgramVerifyAndMaster) {
  w.state.memoryEnd = 0x1FFF;
  for (int button : {id::kAutoProgram, id::kVerifyChip, id::kMakeMaster}) {
    OnCommandRequest(w.ctx, button, button == id::kMakeMaster ? id::kGroupFiles : id::kGroupOperations);
  }
  const auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, kNoCodeText);
    EXPECT_EQ(box.caption, kWarningCaptionSpaced);
    EXPECT_EQ(box.icon, MbIcon::kWarning);
  }
  EXPECT_EQ(Status(), kMarker);
}

TEST_F(DispatchTest, FailedTargetCheckStopsTheRun) {
  w.state.memoryEnd = 0x1FFF;
  w.state.codeLoaded = 1;
  w.window.SetChecked(id::kChipOtp, false);
  w.window.SetChecked(id::kChipMtp, true);  // MTP without SMART
  OnCommandRequest(w.ctx, id::kAutoProgram, id::kGroupOperations);
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(Status(), "编程过程已终止");
  EXPECT_EQ(w.window.MessageBoxes().at(0).caption, "错误:");
}

TEST_F(DispatchTest, CodeViewOnAndOff) {
  OnCommandRequest(w.ctx, id::kShowMemory, id::kGroupOperations);
  EXPECT_TRUE(w.window.IsVisible(id::kGroupCodeView));
  EXPECT_FALSE(w.window.IsVisible(id::kGroupOperations));
  EXPECT_EQ(w.state.codeViewReady, 1);
  EXPECT_TRUE(w.window.GridReady());
  EXPECT_EQ(Status(), kTextNoLink);

  OnCommandRequest(w.ctx, id::kChipView, id::kGroupCodeView);
  EXPECT_EQ(w.window.GetText(id::kGroupCodeView), "芯片代码视图");
  OnCommandRequest(w.ctx, id::kMemoryView, id::kGroupCodeView);
  EXPECT_EQ(w.window.GetText(id::kGroupCodeView), "编程内存代码视图");

  OnCommandRequest(w.ctx, id::kBack, 0);
  EXPECT_FALSE(w.window.IsVisible(id::kGroupCodeView));
  EXPECT_TRUE(w.window.IsVisible(id::kGroupOperations));
  EXPECT_EQ(Status(), "请选择编程操作");
}

TEST_F(DispatchTest, BuzzerBoxDrivesTheFlag) {
  w.window.SetChecked(id::kBuzzer, false);
  OnCommandRequest(w.ctx, id::kBuzzer, id::kGroupAux);
  EXPECT_EQ(w.state.controlFlags & kFlagBuzzerOn, 0u);
  w.window.SetChecked(id::kBuzzer, true);
  OnCommandRequest(w.ctx, id::kBuzzer, id::kGroupAux);
  EXPECT_NE(w.state.controlFlags & kFlagBuzzerOn, 0u);
}

TEST_F(DispatchTest, HotKeys) {
  OnHotKey(w.ctx, kKeyF9);
  EXPECT_EQ(w.state.fillZero, 1);
  OnHotKey(w.ctx, kKeyF5);
  OnHotKey(w.ctx, 0x70);  // F1 is nobody's
  OnWindowKeyDown(w.ctx, kKeyF8);
  w.window.QueueAnswer(MbAnswer::kNo);
  OnHotKey(w.ctx, kKeyF7);
  EXPECT_EQ(Status(), "操作已退出");
  const auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, "OK,已设置编程内存填充代码为00H\n请重新下载文件代码以刷新内存!");
  EXPECT_EQ(boxes[0].caption, "提 示") << "without one, Windows titles the box \"Error\"";
  EXPECT_EQ(boxes[1].caption, kGreetingCaption);
  EXPECT_EQ(boxes[2].text, "您好,谢谢您使用Lentaro正版软件.");
  EXPECT_EQ(boxes[2].caption, "亲爱的用户:");
  EXPECT_EQ(boxes[3].caption, "初始化存储器");

  // F7 while an operation runs would share the port: refused without
  // asking, and the operator is told.
  w.state.busy = 1;
  OnHotKey(w.ctx, kKeyF7);
  EXPECT_EQ(w.window.MessageBoxes().size(), 4u);
  EXPECT_EQ(Status(), kTextBusyRefused);
}

}  // namespace
}  // namespace kovra
