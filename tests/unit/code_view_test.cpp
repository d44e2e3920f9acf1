// SPDX-License-Identifier: MIT
#include "ops/code_view.h"

#include <gtest/gtest.h>

#include "base/control_ids.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TestWorld;

// The view in debug mode: pages come from the image, no programmer needed.
struct CodeViewTest : ::testing::Test {
  TestWorld w;
  void SetUp() override {
    w.window.SetChecked(id::kDebugMode, true);
    SetupCodeView(w.ctx);
  }
  std::string Status() { return w.window.GetText(id::kStatusLine); }
  void GoTo(const char* text) {
    w.window.SetText(id::kDisplayAddress, text);
    ShowCodePage(w.ctx, Op::kPageGoTo);
  }
};

TEST_F(CodeViewTest, SetupStartsAtPageZeroInHexMode) {
  EXPECT_TRUE(w.window.GridReady());
  EXPECT_EQ(w.window.GetText(id::kDisplayAddress), "00000");
  EXPECT_TRUE(w.window.IsChecked(id::kMemoryView));
  EXPECT_FALSE(w.window.IsChecked(id::kAsciiView));
}

TEST_F(CodeViewTest, PagingStaysInsideTheFirst64K) {
  ShowCodePage(w.ctx, Op::kPagePrevious);
  EXPECT_EQ(w.state.displayAddress, 0);
  ShowCodePage(w.ctx, Op::kPageNext);
  EXPECT_EQ(w.state.displayAddress, 0x100);
  w.state.displayAddress = 0xFF00;
  ShowCodePage(w.ctx, Op::kPageNext);
  EXPECT_EQ(w.state.displayAddress, 0xFF00);
  EXPECT_EQ(Status(), "当前显示代码区段:  0FF00~0FFFF");
}

TEST_F(CodeViewTest, AddressEntryPicksThePage) {
  struct Case {
    const char* entered;
    int32_t page;
    const char* field;
  } cases[] = {
      {"1FFFF", 0xFF00, "0FF00"}, {"123", 0x100, "00100"},   {"12345678", 0xFF00, "0FF00"},
      {"", 0, "00000"},           {"00380", 0x300, "00300"},
  };
  for (const Case& c : cases) {
    GoTo(c.entered);
    EXPECT_EQ(w.state.displayAddress, c.page) << c.entered;
    EXPECT_EQ(w.window.GetText(id::kDisplayAddress), c.field) << c.entered;
  }
  EXPECT_EQ(Status(), "当前显示代码区段:  00300~003FF");
  EXPECT_EQ(w.window.GetGridCell(0, 0), "00300");
  EXPECT_EQ(w.window.GetGridCell(15, 0), "003F0");
}

TEST_F(CodeViewTest, PastedAddressWithForeignCharactersIsRefused) {
  ShowCodePage(w.ctx, Op::kPageNext);
  GoTo("12 45");
  EXPECT_EQ(Status(), "显示地址设置错误!");
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.state.displayAddress, 0x100);
}

TEST_F(CodeViewTest, CellsShowHexOrPrintableAscii) {
  w.state.codeImage[0x00] = 0x41;
  w.state.codeImage[0x01] = 0x20;
  w.state.codeImage[0x02] = 0x7F;
  w.state.codeImage[0x1F] = 0x0A;
  ShowCodePage(w.ctx, Op::kPageShow);
  EXPECT_EQ(w.window.GetGridCell(0, 1), "41");
  EXPECT_EQ(w.window.GetGridCell(1, 16), "0A");
  w.window.SetChecked(id::kAsciiView, true);
  ShowCodePage(w.ctx, Op::kPageAscii);
  EXPECT_EQ(w.window.GetGridCell(0, 1), "A");
  EXPECT_EQ(w.window.GetGridCell(0, 2), "");
  EXPECT_EQ(w.window.GetGridCell(0, 3), "");
}

TEST_F(CodeViewTest, ByteEditsStoreTwoDigits) {
  w.state.displayAddress = 0x1200;
  ShowCodePage(w.ctx, Op::kPageShow);
  struct Case {
    const char* typed;
    const char* cell;
    uint8_t stored;
  } cases[] = {{"5", "05", 0x05}, {"ABC", "BC", 0xBC}, {"", "00", 0x00}};
  for (const Case& c : cases) {
    w.window.QueueEdit(std::string(c.typed));
    EditCodeByte(w.ctx, 3, 6);  // row 01230, column "5"
    EXPECT_EQ(w.window.GetGridCell(3, 6), c.cell) << c.typed;
    EXPECT_EQ(w.state.codeImage[0x1235], c.stored) << c.typed;
  }
  ASSERT_TRUE(w.window.lastEdit.has_value());
  EXPECT_EQ(w.window.lastEdit->second, "01235");
}

TEST_F(CodeViewTest, EditsThatMustNotHappen) {
  ShowCodePage(w.ctx, Op::kPageShow);
  w.window.QueueEdit(std::string("G1"));
  EditCodeByte(w.ctx, 0, 1);
  EXPECT_EQ(w.state.codeImage[0], 0xFF);
  ASSERT_EQ(w.window.MessageBoxes().size(), 1u);
  EXPECT_EQ(w.window.MessageBoxes()[0].text, "代码输入错误!");

  w.window.lastEdit.reset();
  w.window.QueueEdit(std::string("00"));
  EditCodeByte(w.ctx, 0, 0);   // the ADDR column
  EditCodeByte(w.ctx, 16, 1);  // below the last row
  w.state.busy = 1;
  EditCodeByte(w.ctx, 0, 1);
  w.state.busy = 0;
  EXPECT_FALSE(w.window.lastEdit.has_value());
  EXPECT_EQ(w.state.codeImage[0], 0xFF);

  w.window.SetChecked(id::kAsciiView, true);
  EditCodeByte(w.ctx, 0, 1);
  w.window.SetChecked(id::kAsciiView, false);
  w.window.SetChecked(id::kChipView, true);
  EditCodeByte(w.ctx, 0, 1);
  const auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].text, "不能在ASCII码方式改变代码!");
  EXPECT_EQ(boxes[2].text, "不能改变芯片代码数据!");
  EXPECT_EQ(boxes[2].caption, "错误操作");
}

TEST_F(CodeViewTest, DoubleClickBeforeAnyPageDoesNothing) {
  w.window.QueueEdit(std::string("12"));
  EditCodeByte(w.ctx, 0, 1);
  EXPECT_FALSE(w.window.lastEdit.has_value());
}

}  // namespace
}  // namespace kovra
