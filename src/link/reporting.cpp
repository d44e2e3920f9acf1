// SPDX-License-Identifier: MIT
#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/texts.h"
#include "link/programmer_link.h"

namespace kovra {

void Beeps(AppContext& ctx, int count, uint32_t durationMs) {
  if ((ctx.state.controlFlags & kFlagBuzzerOn) == 0) return;
  for (int i = 0; i < count; ++i) {
    if (i > 0) ctx.clock.SleepMs(pause::kBeepGapMs);
    ctx.sound.Beep(1000, durationMs);
  }
}

void ReportVoltageFault(AppContext& ctx, const uint8_t* answer) {
  ctx.state.linkError = 1;
  ctx.state.outcome.Fail(Failure::kVoltageFault);
  ctx.state.outcome.fault = answer[1] >= '1' && answer[1] <= '4' ? answer[1] - '0' : 0;
  Beeps(ctx, 3, kShortBeepMs);
  const char* fault = "检测到未知错误!";
  switch (answer[1]) {
    case '1':
      fault = "检测到Vdd输出电压过低!";
      break;
    case '2':
      fault = "检测到Vdd输出电压过高!";
      break;
    case '3':
      fault = "检测到Vpp输出电压过低!";
      break;
    case '4':
      fault = "检测到Vpp输出电压过高!";
      break;
  }
  ctx.window.ShowMessageBox(
      {std::string(fault) + "编程操作将被异常中止!", kWarningCaptionWide, MbButtons::kOk, MbIcon::kWarning});
  ctx.window.SetText(id::kStatusLine, "编程电压错误,编程失败");
}

bool ConfirmAutoOptions(AppContext& ctx) {
  const uint32_t mask = ctx.state.optionMask;
  const bool mtp = ctx.state.requestFrame.chipType() == kFrameMtp;
  const struct {
    bool applies;
    const char* text;
  } questions[] = {
      {(mask & option::kVerify) == 0,
       "您没有勾选自动编程系统的[自动校验]选项,\n烧写的芯片将不会予以校验写入代码是否正确!\n"
       "建议您勾选该选项,以保证烧写到目标芯片中代码的准确无误!\n\n是否继续进行当前操作?"},
      {(mask & option::kReadProtect) == 0,
       "您没有勾选自动编程系统的[自动读保护]选项,\n烧写的芯片将不会予以加密保护!\n"
       "建议您勾选该选项,以保证烧写到目标芯片中代码不被他人非法读出!\n\n是否继续进行当前操作?"},
      {mtp && (mask & option::kSmart) == 0,
       "您没有勾选自动编程系统的[使能SMART]选项,\n烧写的芯片将不会写入SMART OPTION工作配置数据!\n"
       "对于MTP芯片类型,必须使能该选项,否则烧写的芯片可能无法正常工作!\n\n是否继续进行当前操作?"},
  };
  for (const auto& q : questions) {
    if (!q.applies) continue;
    if (ctx.window.ShowMessageBox({q.text, "提 示:", MbButtons::kYesNo, MbIcon::kNone}) == MbAnswer::kNo) return false;
  }
  return true;
}

}  // namespace kovra
