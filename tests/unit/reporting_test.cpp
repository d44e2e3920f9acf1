// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "base/control_ids.h"
#include "base/texts.h"
#include "link/programmer_link.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TestWorld;

TEST(ReportVoltageFault, ShowsTheFaultBeepsThreeTimesAndFails) {
  const struct {
    char code;
    const char* fault;
  } cases[] = {{'1', "检测到Vdd输出电压过低!"},
               {'2', "检测到Vdd输出电压过高!"},
               {'3', "检测到Vpp输出电压过低!"},
               {'4', "检测到Vpp输出电压过高!"},
               {'9', "检测到未知错误!"}};
  for (const auto& c : cases) {
    TestWorld w;
    const uint8_t answer[2] = {'E', static_cast<uint8_t>(c.code)};
    ReportVoltageFault(w.ctx, answer);
    EXPECT_EQ(w.state.linkError, 1);
    const auto boxes = w.window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string(c.fault) + "编程操作将被异常中止!");
    EXPECT_EQ(boxes[0].caption, kWarningCaptionWide);
    EXPECT_EQ(boxes[0].icon, MbIcon::kWarning);
    EXPECT_EQ(w.window.GetText(id::kStatusLine), "编程电压错误,编程失败");
    EXPECT_EQ(w.sound.beeps, (std::vector<std::pair<uint32_t, uint32_t>>(3, {1000, 100})));
    EXPECT_EQ(w.clock.NowMs(), 200u);  // the silences between the beeps
  }
}

TEST(ReportVoltageFault, SilentWithTheBuzzerOff) {
  TestWorld w;
  w.state.controlFlags = 0;
  const uint8_t answer[2] = {'E', '1'};
  ReportVoltageFault(w.ctx, answer);
  EXPECT_TRUE(w.sound.beeps.empty());
  EXPECT_EQ(w.window.MessageBoxes().size(), 1u);
}

struct OptionCase {
  const char* name;
  uint32_t mask;
  uint8_t chipType;
  std::vector<MbAnswer> answers;
  std::vector<const char*> asked;  // a word of each question, in order
  bool result;
};

TEST(ConfirmAutoOptions, AsksAboutEachMissingOptionInOrder) {
  const OptionCase cases[] = {
      {"all set, OTP", 0x21, 1, {}, {}, true},
      {"OTP without SMART asks nothing", 0x21, 1, {}, {}, true},
      {"MTP without SMART", 0x21, 2, {MbAnswer::kYes}, {"[使能SMART]"}, true},
      {"nothing ticked, MTP",
       0x00,
       2,
       {MbAnswer::kYes, MbAnswer::kYes, MbAnswer::kYes},
       {"[自动校验]", "[自动读保护]", "[使能SMART]"},
       true},
      {"No to the first ends at once", 0x00, 2, {MbAnswer::kNo}, {"[自动校验]"}, false},
      {"No to the second", 0x10, 2, {MbAnswer::kYes, MbAnswer::kNo}, {"[自动校验]", "[自动读保护]"}, false},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestWorld w;
    w.state.optionMask = c.mask;
    w.state.requestFrame.chipType() = c.chipType;
    for (MbAnswer a : c.answers) w.window.QueueAnswer(a);
    EXPECT_EQ(ConfirmAutoOptions(w.ctx), c.result);
    const auto boxes = w.window.MessageBoxes();
    ASSERT_EQ(boxes.size(), c.asked.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_NE(boxes[i].text.find(c.asked[i]), std::string::npos) << boxes[i].text;
      EXPECT_EQ(boxes[i].caption, "提 示:");
      EXPECT_EQ(boxes[i].buttons, MbButtons::kYesNo);
      EXPECT_EQ(boxes[i].icon, MbIcon::kNone);
    }
  }
}

}  // namespace
}  // namespace kovra
