// SPDX-License-Identifier: MIT
#include "chips/target_rules.h"

#include <algorithm>
#include <string>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "chips/chip_list.h"

namespace kovra {
namespace {

constexpr size_t kAddressFieldMax = 128;
constexpr std::string_view kHexDigits{"0123456789ABCDEFabcdef"};

void Set(MainWindow& w, int id, bool checked, bool enabled) {
  w.SetChecked(id, checked);
  w.SetEnabled(id, enabled);
}

// One address field as four hexadecimal digits; false when it holds
// anything else. An empty field is filled with 0000.
bool ReadAddressField(MainWindow& w, int id, uint32_t& value) {
  std::string text = w.GetText(id).substr(0, kAddressFieldMax);
  if (text.empty()) {
    text = "0000";
    w.SetText(id, text);
  }
  // FitDigits gives nothing for very long texts, which reads as 0.
  const std::string digits = FitDigits(text, 4);
  if (!AllCharsIn(digits, kHexDigits)) return false;
  value = HexToNumber(digits, 16);
  return true;
}

bool Confirmed(MainWindow& w, std::string text, std::string caption, MbIcon icon) {
  const MbAnswer answer = w.ShowMessageBox({.text = std::move(text),
                                            .caption = std::move(caption),
                                            .buttons = MbButtons::kYesNo,
                                            .icon = icon,
                                            .defaultButton = 1});
  return answer == MbAnswer::kYes;
}

}  // namespace

void ApplyChipTypeDefaults(AppContext& ctx, ChipType type) {
  MainWindow& w = ctx.window;
  w.SetChecked(id::kOptAutoVerify, true);
  w.SetChecked(id::kOptAutoReadProtect, true);
  // Disabled boxes keep their ticks; they add nothing to the option mask.
  const bool mtp = type == ChipType::kMtp;
  for (int id : {id::kOptAutoHwWriteProtect, id::kOptSmart, id::kOptEraseMtp, id::kEraseMtp, id::kHwWriteProtect}) {
    w.SetEnabled(id, mtp);
  }
  if (mtp) {
    w.SetChecked(id::kOptSmart, true);
    w.SetChecked(id::kOptEraseMtp, true);
    w.SetChecked(id::kOptAutoLdcProtect, false);
    w.SetChecked(id::kOptAutoHwWriteProtect, false);
    w.SetChecked(id::kOptAutoBlankCheck, false);
  } else {
    w.SetChecked(id::kOptAutoBlankCheck, true);
  }
}

void ApplyChipSelection(AppContext& ctx) {
  MainWindow& w = ctx.window;
  const int row = SelectedChipIndex(ctx);
  if (row == 0 || ctx.state.chipListLoaded == 0) {
    Set(w, id::kChipOtp, false, true);
    Set(w, id::kChipMtp, true, true);
    ApplyChipTypeDefaults(ctx, ChipType::kMtp);
    Set(w, id::kVpp12, true, true);
    Set(w, id::kVppVcc, false, true);
    Set(w, id::kVpp11, false, true);
    Set(w, id::kVcc50, true, true);
    Set(w, id::kVcc33, false, true);
    w.SetText(id::kVppField, "12.0");
    w.SetText(id::kVccField, "5.0");
    w.SetText(id::kEndAddress, "0FFF");
    return;
  }

  const ChipRecord& chip = ctx.state.chipTable[static_cast<size_t>(row)];
  const bool mtp = chip.memoryType == "MTP";
  Set(w, id::kChipOtp, !mtp, !mtp);
  Set(w, id::kChipMtp, mtp, mtp);
  ApplyChipTypeDefaults(ctx, mtp ? ChipType::kMtp : ChipType::kOtp);

  int vppRadio = id::kVppVcc;
  const char* vppText = "VCC";
  if (chip.vpp == "12V") {
    vppRadio = id::kVpp12;
    vppText = "12.0";
  } else if (chip.vpp == "11V") {
    vppRadio = id::kVpp11;
    vppText = "11.0";
  }
  for (int id : {id::kVpp12, id::kVppVcc, id::kVpp11}) Set(w, id, id == vppRadio, id == vppRadio);
  w.SetText(id::kVppField, vppText);

  // A 5 V chip may still be run at 3.3 V; a 3 V chip never at 5 V.
  const bool fiveVolt = chip.vdd == "5V";
  Set(w, id::kVcc50, fiveVolt, fiveVolt);
  Set(w, id::kVcc33, !fiveVolt, true);
  w.SetText(id::kVccField, fiveVolt ? "5.0" : "3.3");

  w.SetText(id::kEndAddress, Hex4(ChipRomEnd(chip)));
}

uint32_t ChipRomEnd(const ChipRecord& chip) {
  const char size = chip.name.size() > 6 ? chip.name[6] : '\0';
  switch (size) {
    case '2':
      return 0x07FF;
    case '4':
      return 0x0FFF;
    case '8':
      return 0x1FFF;
    case '5':
      return 0x3FFF;
    case '7':
      return 0x5FFF;
    case 'A':
      return 0xBFFF;
    case 'B':
      return 0xFFFF;
    default:
      return 0x7FFF;
  }
}

uint32_t ChipRomEnd(AppContext& ctx) {
  return ChipRomEnd(ctx.state.chipTable[static_cast<size_t>(SelectedChipIndex(ctx))]);
}

void CaptureAddressRange(AppContext& ctx) {
  MainWindow& w = ctx.window;
  AppState& s = ctx.state;
  // The chips whose ROM ends beyond 7FFFH are programmed whole: the frame
  // carries 24-bit addresses.
  const uint32_t limit = std::max(kLowestRangeLimit, ChipRomEnd(ctx));
  uint32_t value = 0;
  if (!ReadAddressField(w, id::kStartAddress, value)) return;
  s.programStart = value;
  if (s.programStart >= limit) {
    s.programStart = limit;
    w.SetText(id::kStartAddress, Hex4(limit));
  }

  if (!ReadAddressField(w, id::kEndAddress, value)) return;
  s.programEnd = value;
  if (s.programEnd > limit) {
    s.programEnd = limit;
    w.SetText(id::kEndAddress, Hex4(limit));
  }
  if (s.programStart >= s.programEnd) {
    s.programEnd = s.programStart;
    w.SetText(id::kEndAddress, Hex4(s.programEnd));
  }
}

bool ValidateTarget(AppContext& ctx, TargetRefusal* refusal) {
  MainWindow& w = ctx.window;
  auto refuse = [refusal](TargetRefusal why) {
    if (refusal) *refusal = why;
    return false;
  };
  if (refusal) *refusal = TargetRefusal::kNone;
  if (w.IsChecked(id::kChipMtp) && !w.IsChecked(id::kOptSmart)) {
    w.ShowMessageBox({.text = "你所选的芯片类型为[串行MTP芯片]\n该类芯片烧写要求必须使能SMART配置,\n"
                              "请勾选编程系统选项的[自动使能SMART]后再行烧写",
                      .caption = "错误:",
                      .buttons = MbButtons::kOk,
                      .icon = MbIcon::kError,
                      .defaultButton = 0});
    return refuse(TargetRefusal::kMtpWithoutSmart);
  }

  const int row = SelectedChipIndex(ctx);
  if (row == 0) return RangeCoversCode(ctx) || refuse(TargetRefusal::kCodeBeyondRange);
  const ChipRecord& chip = ctx.state.chipTable[static_cast<size_t>(row)];

  const bool wrongVdd = (w.IsChecked(id::kVcc50) && chip.vdd == "3V") || (w.IsChecked(id::kVcc33) && chip.vdd == "5V");
  if (wrongVdd && !Confirmed(w,
                             "目标芯片VDD电压选择错误!\n错误的VDD电压可能会导致芯片烧写失败!\n注: " + chip.name +
                                 "的额定VDD电压是: " + chip.vdd + "\n是否继续?",
                             kWarningCaption, MbIcon::kWarning)) {
    return refuse(TargetRefusal::kWrongVdd);
  }

  const uint32_t romEnd = ChipRomEnd(chip);
  if (romEnd < ctx.state.programEnd &&
      !Confirmed(w,
                 "加载的程序代码编程终止地址已超出了所选目标芯片\n最大ROM有效地址!"
                 "这样会导致芯片烧写校验失败!\n注: " +
                     chip.name + "的ROM最大有效地址是: " + Hex4(romEnd) + "\n是否继续?",
                 "错误", MbIcon::kError)) {
    return refuse(TargetRefusal::kBeyondRom);
  }
  return RangeCoversCode(ctx) || refuse(TargetRefusal::kCodeBeyondRange);
}

bool RangeCoversCode(AppContext& ctx) {
  const AppState& s = ctx.state;
  if (s.programEnd >= s.codeEnd) return true;
  return Confirmed(ctx.window,
                   "编程终止地址 " + Hex4(s.programEnd) + " 之后还有代码(代码终止地址: " + Hex4(s.codeEnd) +
                       "),\n这部分代码将不会被烧写和校验!\n是否继续?",
                   "错误", MbIcon::kError);
}

void ApplyVoltageRadio(AppContext& ctx, int controlId) {
  switch (controlId) {
    case id::kVcc50:
      ctx.window.SetText(id::kVccField, "5.0");
      break;
    case id::kVcc33:
      ctx.window.SetText(id::kVccField, "3.3");
      break;
    case id::kVpp12:
      ctx.window.SetText(id::kVppField, "12.0");
      break;
    case id::kVppVcc:
      ctx.window.SetText(id::kVppField, "VCC");
      break;
    case id::kVpp11:
      ctx.window.SetText(id::kVppField, "11.0");
      break;
    default:
      break;
  }
}

}  // namespace kovra
