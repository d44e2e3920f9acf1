#include "ops/offline_master.h"

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "chips/target_rules.h"
#include "image/code_image.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "ops/download.h"

namespace kovra {
namespace {

void Status(AppContext& ctx, const char* text) { ctx.window.SetText(id::kStatusLine, text); }

}  // namespace

void MakeOfflineMaster(AppContext& ctx, void (*download)(AppContext& ctx)) {
  AppState& s = ctx.state;
  s.linkError = 0;
  if (!s.connected) {
    s.autoRunState = 0;
    ctx.window.SetTimer(kRetryTimer, kTickMs);
    s.linkError = 1;
    Status(ctx, kTextLinkError);
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
    Status(ctx, "操作已中止");
    return;
  }

  download(ctx);
  if (!s.codeLoaded) {
    // An interrupted download leaves a half-written memory: no
    // configuration may describe it.
    const bool interrupted = s.interruptRequested && !s.linkError;
    s.linkError = 1;
    Status(ctx, interrupted ? kTextDownloadInterrupted : "脱机编程母片制作失败!请尝试重新下载代码再进行该项操作");
    return;
  }
  CaptureAddressRange(ctx);
  // The file downloaded now may reach further than the one checked before.
  if (!RangeCoversCode(ctx)) {
    s.linkError = 1;
    Status(ctx, "操作已中止");
    return;
  }
  const uint16_t sum = SumImage(s, s.programStart, s.programEnd);
  ctx.window.SetText(id::kChecksumField, Hex4(sum));
  BuildRequestFrame(ctx);
  s.requestFrame.SetRange(s.programStart, s.programEnd);
  s.requestFrame.SetChecksum(sum);
  Status(ctx, "正在写入脱机编程设置数据.....");
  ctx.clock.SleepMs(pause::kBeforeConfigMs);

  if (!SendCommand(ctx, cmd::kOfflineConfig)) return;
  if (ReadVerdict(ctx, sizes::kConfigAnswer, tries::kConfigVerdict, false) == Verdict::kOk) {
    Status(ctx, "写入母片编程配置数据成功!");
    Status(ctx, kTextMasterReady);
  } else {
    Status(ctx, "写入母片编程配置数据失败!请尝试重新下载代码对母片内存进行初始化后再行写入!");
  }
}

}  // namespace kovra
