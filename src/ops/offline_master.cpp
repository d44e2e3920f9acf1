// SPDX-License-Identifier: MIT
#include "ops/offline_master.h"

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "chips/target_rules.h"
#include "image/code_image.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "ops/download.h"
#include "ops/memory_ops.h"

namespace kovra {
namespace {}  // namespace

void MakeOfflineMaster(AppContext& ctx, void (*download)(AppContext& ctx)) {
  AppState& s = ctx.state;
  s.linkError = 0;
  if (!s.connected) {
    s.autoRunState = 0;
    ctx.window.SetTimer(kRetryTimer, kTickMs);
    s.linkError = 1;
    SetStatus(ctx, kTextLinkError);
    return;
  }
  // A master is made from the programmer's memory, never from the image.
  if (ctx.window.IsChecked(id::kDebugMode)) {
    download(ctx);
    ctx.window.SetChecked(id::kDebugMode, false);
    // What the image download confirmed is not the programmer's memory.
    s.codeLoaded = 0;
  }
  const MbAnswer answer = ctx.window.ShowMessageBox(
      {"制作脱机母片操作之前,\n请确认您已调入了合适的代码文件\n并设置了相关的编程系统选项,\n是否继续?", "操作提示",
       MbButtons::kYesNo, MbIcon::kNone});
  if (answer != MbAnswer::kYes || !ConfirmAutoOptions(ctx)) {
    SetStatus(ctx, kTextAborted);
    s.outcome.Refuse("declined by the operator");
    return;
  }

  download(ctx);
  if (!s.codeLoaded) {
    // An interrupted download leaves a half-written memory: no
    // configuration may describe it.
    const bool interrupted = s.interruptRequested && !s.linkError;
    if (interrupted) s.outcome.Fail(Failure::kInterrupted);
    s.linkError = 1;
    SetStatus(ctx, interrupted ? kTextDownloadInterrupted : "脱机编程母片制作失败!请尝试重新下载代码再进行该项操作");
    return;
  }
  CaptureAddressRange(ctx);
  // The file downloaded now may reach further than the one checked before.
  if (!RangeCoversCode(ctx)) {
    s.linkError = 1;
    s.outcome.Refuse("the programming range ends before the code");
    SetStatus(ctx, kTextAborted);
    return;
  }
  const uint16_t sum = SumImage(s, s.programStart, s.programEnd);
  ctx.window.SetText(id::kChecksumField, Hex4(sum));
  BuildRequestFrame(ctx);
  s.requestFrame.SetRange(s.programStart, s.programEnd);
  s.requestFrame.SetChecksum(sum);
  SetStatus(ctx, "正在写入脱机编程设置数据.....");
  ctx.clock.SleepMs(pause::kBeforeConfigMs);

  if (!SendCommand(ctx, cmd::kOfflineConfig)) return;
  const Verdict verdict = ReadVerdict(ctx, sizes::kConfigAnswer, tries::kConfigVerdict, false);
  if (verdict == Verdict::kOk) {
    SetStatus(ctx, "写入母片编程配置数据成功!");
    SetStatus(ctx, kTextMasterReady);
  } else {
    if (verdict == Verdict::kNo) s.outcome.Fail(Failure::kSettingFailed);
    SetStatus(ctx, "写入母片编程配置数据失败!请尝试重新下载代码对母片内存进行初始化后再行写入!");
  }
}

}  // namespace kovra
