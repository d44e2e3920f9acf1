// SPDX-License-Identifier: MIT
#include "chips/target_rules.h"

#include <gtest/gtest.h>

#include "base/control_ids.h"
#include "base/texts.h"
#include "chips/chip_list.h"
#include "support/test_context.h"

namespace kovra {
namespace {

// A world with a small chip list and the given chip selected.
struct World : test::TestWorld {
  explicit World(const std::string& chip) {
    const std::vector<ChipRecord> rows = ParseChipList(
        "NOSELEC OTP 0 VCC 5V 1\nKV86C08 OTP 0 12V 5V 1\nKV88L07 OTP 0 11V 3V 1\nKV88M16 MTP 0 VCC 3V 1\n"
        "KV86M04 MTP 0 13V 3.3V 1\nKV88C0A OTP 0 12V 5V 1\nKV86Q02 MTPX 0 12V 5V 1\n");
    std::copy(rows.begin(), rows.end(), state.chipTable.begin());
    state.chipCount = static_cast<uint32_t>(rows.size());
    state.chipListLoaded = 1;
    FillChipCombo(ctx);
    for (int i = 0; i < window.ComboCount(id::kChipCombo); ++i) {
      if (window.ComboItem(id::kChipCombo, i) == chip) window.ComboSelect(id::kChipCombo, i);
    }
  }
};

// Per control: X ticked, o unticked, # ticked but disabled, - unticked and disabled.
std::string States(MainWindow& w, std::initializer_list<int> ids) {
  std::string out;
  for (int id : ids) out += w.IsChecked(id) ? (w.IsEnabled(id) ? 'X' : '#') : (w.IsEnabled(id) ? 'o' : '-');
  return out;
}

constexpr std::initializer_list<int> kRadios = {id::kChipOtp, id::kChipMtp, id::kVpp12, id::kVppVcc,
                                                id::kVpp11,   id::kVcc50,   id::kVcc33};
constexpr std::initializer_list<int> kOptions = {id::kOptAutoVerify,
                                                 id::kOptAutoBlankCheck,
                                                 id::kOptAutoReadProtect,
                                                 id::kOptAutoHwWriteProtect,
                                                 id::kOptAutoLdcProtect,
                                                 id::kOptEraseMtp,
                                                 id::kOptSmart};

TEST(ApplyChipSelection, SetsTypeVoltagesOptionsAndEndAddress) {
  struct Case {
    const char* chip;
    const char* radios;   // OTP MTP 12V Vcc 11V 5.0V 3.3V
    const char* options;  // 121 to 127, then buttons 143 and 145
    const char* vpp;
    const char* vcc;
    const char* end;
  } cases[] = {
      {"NOSELEC", "oXXooXo", "XoXooXXoo", "12.0", "5.0", "0FFF"},
      {"KV86C08", "X-X--Xo", "XXX#X##--", "12.0", "5.0", "1FFF"},  // MTP-only ticks kept, disabled
      {"KV88L07", "X---X-X", "XXX#X##--", "11.0", "3.3", "5FFF"},
      {"KV88M16", "-X-X--X", "XoXooXXoo", "VCC", "3.3", "7FFF"},
      {"KV86M04", "-X-X--X", "XoXooXXoo", "VCC", "3.3", "0FFF"},  // unknown Vpp and Vdd texts
      {"KV88C0A", "X-X--Xo", "XXX#X##--", "12.0", "5.0", "BFFF"},
      {"KV86Q02", "X-X--Xo", "XXX#X##--", "12.0", "5.0", "07FF"},  // only "MTP" is MTP
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    World w(c.chip);
    // Start from the opposite of everything, so that every state is really set.
    for (int id : kRadios) w.window.SetEnabled(id, false);
    for (int id : kRadios) w.window.SetChecked(id, true);
    for (int id : kOptions) w.window.SetChecked(id, true);
    w.window.SetText(id::kStartAddress, "0123");
    w.state.programStart = 0x123;

    ApplyChipSelection(w.ctx);

    EXPECT_EQ(States(w.window, kRadios), c.radios);
    std::string options = States(w.window, kOptions) + States(w.window, {id::kEraseMtp, id::kHwWriteProtect});
    EXPECT_EQ(options, c.options);
    EXPECT_EQ(w.window.GetText(id::kVppField) + " " + w.window.GetText(id::kVccField),
              std::string(c.vpp) + " " + c.vcc);
    EXPECT_EQ(w.window.GetText(id::kEndAddress), c.end);
    EXPECT_EQ(w.window.GetText(id::kStartAddress), "0123");
    EXPECT_EQ(w.state.programStart, 0x123u);
  }

  World notLoaded("KV86C08");
  notLoaded.state.chipListLoaded = 0;
  ApplyChipSelection(notLoaded.ctx);
  EXPECT_EQ(States(notLoaded.window, kRadios), "oXXooXo");
}

TEST(ApplyChipSelection, RomEndOfShortNamesAndOfTheSelection) {
  for (const char* name : {"", "KV86C0"}) EXPECT_EQ(ChipRomEnd(ChipRecord{name, "", "", "", ""}), 0x7FFFu) << name;
  World w("KV88L07");
  EXPECT_EQ(ChipRomEnd(w.ctx), 0x5FFFu);
}

TEST(CaptureAddressRange, ReadsClampsAndOrdersTheFields) {
  const std::string s40(40, '1'), s41(41, '1');
  struct Case {
    std::string start, end;
    uint32_t programStart, programEnd;
    std::string startAfter, endAfter;
  } cases[] = {
      {"0000", "1FFF", 0x0000, 0x1FFF, "0000", "1FFF"}, {"8000", "1FFF", 0x7FFF, 0x7FFF, "7FFF", "7FFF"},
      {"0100", "00FF", 0x0100, 0x0100, "0100", "0100"}, {"12345", "BFFF", 0x2345, 0x7FFF, "12345", "7FFF"},
      {"", "10", 0x0000, 0x0010, "0000", "10"},         {"ab", "", 0x00AB, 0x00AB, "ab", "00AB"},
      {s41, "0200", 0x0000, 0x0200, s41, "0200"},       {s40, "7000", 0x1111, 0x7000, s40, "7000"},
      {"0G00", "1FFF", 0xAAAA, 0xBBBB, "0G00", "1FFF"}, {"0 10", "1FFF", 0xAAAA, 0xBBBB, "0 10", "1FFF"},
      {"9000", "XYZ", 0x7FFF, 0xBBBB, "7FFF", "XYZ"},  // start already taken
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start + " / " + c.end);
    World w("NOSELEC");
    w.state.programStart = 0xAAAA;
    w.state.programEnd = 0xBBBB;
    w.window.SetText(id::kStartAddress, c.start);
    w.window.SetText(id::kEndAddress, c.end);
    CaptureAddressRange(w.ctx);
    EXPECT_EQ(w.state.programStart, c.programStart);
    EXPECT_EQ(w.state.programEnd, c.programEnd);
    EXPECT_EQ(w.window.GetText(id::kStartAddress), c.startAfter);
    EXPECT_EQ(w.window.GetText(id::kEndAddress), c.endAfter);
  }
}

// Caption, buttons, icon and default button, then the text.
std::string Box(const MessageBoxRequest& b) {
  return b.caption + " " + std::to_string(static_cast<int>(b.buttons)) + std::to_string(static_cast<int>(b.icon)) +
         std::to_string(b.defaultButton) + " " + b.text;
}

const std::string kSmartBox =
    "错误: 010 你所选的芯片类型为[串行MTP芯片]\n该类芯片烧写要求必须使能SMART配置,\n"
    "请勾选编程系统选项的[自动使能SMART]后再行烧写";

std::string VddBox(const std::string& chip, const std::string& vdd) {
  return std::string(kWarningCaption) +
         " 221 目标芯片VDD电压选择错误!\n错误的VDD电压可能会导致芯片烧写失败!\n注: " + chip +
         "的额定VDD电压是: " + vdd + "\n是否继续?";
}

std::string RomBox(const std::string& chip, const std::string& romEnd) {
  return "错误 211 加载的程序代码编程终止地址已超出了所选目标芯片\n最大ROM有效地址!这样会导致芯片烧写校验失败!\n注: " +
         chip + "的ROM最大有效地址是: " + romEnd + "\n是否继续?";
}

TEST(ValidateTarget, ChecksSmartSupplyAndRomSize) {
  using A = MbAnswer;
  struct Case {
    const char* label;
    const char* chip;
    int tick, untick;  // a radio or box changed after the selection, 0 for none
    uint32_t programEnd;
    std::vector<MbAnswer> answers;  // none: the default button
    bool pass;
    std::vector<std::string> boxes;
  } cases[] = {
      {"MTP without SMART", "KV88M16", 0, id::kOptSmart, 0, {}, false, {kSmartBox}},
      {"no chip, MTP without SMART", "NOSELEC", 0, id::kOptSmart, 0, {}, false, {kSmartBox}},
      {"no chip: nothing else checked", "NOSELEC", id::kVcc33, id::kVcc50, 0xFFFF, {}, true, {}},
      {"chip as applied", "KV88M16", 0, 0, 0x7FFF, {}, true, {}},
      {"5V chip at 3.3V, default No", "KV86C08", id::kVcc33, id::kVcc50, 0, {}, false, {VddBox("KV86C08", "5V")}},
      {"5V chip at 3.3V, Yes", "KV86C08", id::kVcc33, id::kVcc50, 0, {A::kYes}, true, {VddBox("KV86C08", "5V")}},
      {"3V chip at 5.0V, No", "KV88L07", id::kVcc50, id::kVcc33, 0x7FFF, {A::kNo}, false, {VddBox("KV88L07", "3V")}},
      {"end at the ROM end", "KV86C08", 0, 0, 0x1FFF, {}, true, {}},
      {"end past the ROM, default No", "KV86C08", 0, 0, 0x2000, {}, false, {RomBox("KV86C08", "1FFF")}},
      {"both asked, both Yes",
       "KV88L07",
       id::kVcc50,
       id::kVcc33,
       0x7FFF,
       {A::kYes, A::kYes},
       true,
       {VddBox("KV88L07", "3V"), RomBox("KV88L07", "5FFF")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    World w(c.chip);
    ApplyChipSelection(w.ctx);
    if (c.tick) w.window.SetChecked(c.tick, true);
    if (c.untick) w.window.SetChecked(c.untick, false);
    w.state.programEnd = c.programEnd;
    for (MbAnswer a : c.answers) w.window.QueueAnswer(a);

    EXPECT_EQ(ValidateTarget(w.ctx), c.pass);
    std::vector<std::string> boxes;
    for (const MessageBoxRequest& b : w.window.MessageBoxes()) boxes.push_back(Box(b));
    EXPECT_EQ(boxes, c.boxes);
  }
}

}  // namespace
}  // namespace kovra
