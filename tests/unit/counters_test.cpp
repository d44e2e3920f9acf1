// SPDX-License-Identifier: MIT
#include "app/counters.h"

#include <gtest/gtest.h>

#include "base/control_ids.h"
#include "ops/production_counters.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TestWorld;

struct CountersTest : ::testing::Test {
  TestWorld w;
  void SetUp() override {
    w.window.SetText(id::kSuccessCount, "00000");
    w.window.SetText(id::kFailureCount, "00000");
  }
  std::string Success() { return w.window.GetText(id::kSuccessCount); }
  std::string Failure() { return w.window.GetText(id::kFailureCount); }
};

TEST_F(CountersTest, SuccessShowsSixDigitsAndFailureFive) {
  CountSuccess(w.ctx);
  w.state.autoRunState = 100;
  CountFailure(w.ctx);
  EXPECT_EQ(Success(), "000001");
  EXPECT_EQ(Failure(), "00001");
  w.state.successCount = 1234567;
  CountSuccess(w.ctx);
  EXPECT_EQ(Success(), "1234568");  // the display grows past six digits
}

TEST_F(CountersTest, LinkFailureAndPauseCountNothing) {
  w.state.autoRunState = 0;  // the link failed during the run
  CountFailure(w.ctx);
  EXPECT_EQ(w.state.failureCount, 0u);

  TogglePauseCounting(w.ctx);
  EXPECT_EQ(w.window.GetText(id::kPauseCounting), "开始计数");
  EXPECT_FALSE(w.window.IsEnabled(id::kSuccessCount));
  EXPECT_FALSE(w.window.IsEnabled(id::kFailureCount));
  w.state.autoRunState = 100;
  CountSuccess(w.ctx);
  CountFailure(w.ctx);
  EXPECT_EQ(w.state.successCount, 0u);
  EXPECT_EQ(w.state.failureCount, 0u);
  EXPECT_EQ(Success(), "00000");

  TogglePauseCounting(w.ctx);
  EXPECT_EQ(w.window.GetText(id::kPauseCounting), "暂停计数");
  EXPECT_TRUE(w.window.IsEnabled(id::kSuccessCount));
}

TEST_F(CountersTest, ClearAsksAndCancelKeepsTheCounts) {
  w.state.successCount = 12;
  w.state.failureCount = 3;
  w.window.SetText(id::kSuccessCount, "000012");
  w.window.QueueAnswer(MbAnswer::kCancel);
  ClearCounters(w.ctx);
  EXPECT_EQ(w.state.successCount, 12u);
  EXPECT_EQ(Success(), "000012");

  w.window.QueueAnswer(MbAnswer::kOk);
  ClearCounters(w.ctx);
  EXPECT_EQ(w.state.successCount, 0u);
  EXPECT_EQ(w.state.failureCount, 0u);
  EXPECT_EQ(Success(), "00000");
  EXPECT_EQ(Failure(), "00000");

  const auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "计数器将被清零!确定吗?");
  EXPECT_EQ(boxes[0].caption, "确 认");
  EXPECT_EQ(boxes[0].buttons, MbButtons::kOkCancel);
  EXPECT_EQ(boxes[0].icon, MbIcon::kQuestion);
  EXPECT_EQ(boxes[0].defaultButton, 1);  // Cancel is the safe default
}

TEST(CounterFromText, KeepsTheLastSixDigits) {
  struct Case {
    const char* text;
    uint32_t want;
  } cases[] = {{"42", 42}, {"1234567", 234567}, {"", 0}, {"000000", 0}, {"999999", 999999}};
  for (const Case& c : cases) EXPECT_EQ(CounterFromText(c.text), c.want) << c.text;
}

TEST_F(CountersTest, SetCountTakesTextsAndMaskAndResumes) {
  w.state.failureCountMask = 0x05;
  TogglePauseCounting(w.ctx);
  w.window.QueueSetCount(CounterSettings{"1234567", "", 0x22});
  RunSetCount(w.ctx);

  ASSERT_TRUE(w.window.lastSetCount.has_value());
  EXPECT_EQ(w.window.lastSetCount->successText, "00000");
  EXPECT_EQ(w.window.lastSetCount->failureMask, 0x05u);
  EXPECT_EQ(w.state.successCount, 234567u);
  EXPECT_EQ(w.state.failureCount, 0u);
  EXPECT_EQ(Success(), "234567");
  EXPECT_EQ(Failure(), "000000");
  EXPECT_EQ(w.state.failureCountMask, 0x22u);
  EXPECT_EQ(w.state.controlFlags & kFlagCountingPaused, 0u);
  EXPECT_EQ(w.window.GetText(id::kPauseCounting), "暂停计数");
}

TEST_F(CountersTest, SetCountCancelChangesNothing) {
  w.state.successCount = 7;
  w.state.failureCountMask = 0x10;
  w.window.QueueSetCount(std::nullopt);
  RunSetCount(w.ctx);
  EXPECT_EQ(w.state.successCount, 7u);
  EXPECT_EQ(w.state.failureCountMask, 0x10u);
}

}  // namespace
}  // namespace kovra
