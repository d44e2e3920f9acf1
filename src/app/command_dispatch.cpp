#include "app/command_dispatch.h"

#include "app/counters.h"
#include "app/views.h"
#include "base/control_ids.h"
#include "chips/target_rules.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "ops/code_view.h"
#include "ops/download.h"
#include "ops/production_record.h"
#include "ops/run_operation.h"

namespace kovra {
namespace {

constexpr const char* kGreetingText =
    "感谢您选用Lentaro经济型编程器Kovra V3.0C!\n如有任何问题或建议,欢迎访问 www.lentaro.cn 与我们联系.";

// Groups whose controls a running operation would disturb.
bool BlockedWhileBusy(int parentId) {
  return parentId == id::kGroupOperations || parentId == id::kGroupFiles || parentId == id::kGroupChipModel ||
         parentId == id::kGroupCodeView;
}

void Status(AppContext& ctx, const char* text) { ctx.window.SetText(id::kStatusLine, text); }

void WarnNoCode(AppContext& ctx) {
  ctx.window.ShowMessageBox({kNoCodeText, "警 告", MbButtons::kOk, MbIcon::kWarning});
}

bool TargetAccepted(AppContext& ctx) {
  if (ValidateTarget(ctx)) return true;
  ctx.state.linkError = 1;
  Status(ctx, "编程过程已终止");
  return false;
}

void StartAutoProgram(AppContext& ctx) {
  AppState& s = ctx.state;
  CaptureAddressRange(ctx);
  if (s.programStart != s.memoryStart || s.programEnd != s.memoryEnd) {
    ctx.window.ShowMessageBox(
        {"编程地址已改变,请点击[缓冲区检查和]按钮以刷新编程内存检查和,\n"
         "如果你在下载代码后又选择了新的芯片型号,请重新下载文件代码",
         "提 示", MbButtons::kOk, MbIcon::kNone});
    return;
  }
  if (!s.codeLoaded) return WarnNoCode(ctx);
  if (!TargetAccepted(ctx)) return;
  if (!RecordWritable(ctx)) return;
  StartOperation(ctx, Op::kAutoProgram);
}

void StartOfflineMaster(AppContext& ctx) {
  if (ctx.state.memoryRewritten) {
    ctx.window.ShowMessageBox({"编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!", "提示",
                               MbButtons::kOk, MbIcon::kNone});
    return;
  }
  if (!ctx.state.codeLoaded) return WarnNoCode(ctx);
  CaptureAddressRange(ctx);
  if (!TargetAccepted(ctx)) return;
  StartOperation(ctx, Op::kMakeMaster);
}

void ShowCodeViewAndPage(AppContext& ctx) {
  ShowCodeView(ctx.window, true);
  if (!ctx.state.codeViewReady) SetupCodeView(ctx);
  ctx.state.codeViewReady = 1;
  StartOperation(ctx, Op::kPageShow);
}

void CaptureAndStart(AppContext& ctx, Op op) {
  CaptureAddressRange(ctx);
  StartOperation(ctx, op);
}

}  // namespace

bool OnCommandRequest(AppContext& ctx, int controlId, int parentId) {
  if (ctx.state.busy && BlockedWhileBusy(parentId)) return false;
  switch (controlId) {
    case id::kChipOtp:
      ApplyChipTypeDefaults(ctx, ChipType::kOtp);
      break;
    case id::kChipMtp:
      ApplyChipTypeDefaults(ctx, ChipType::kMtp);
      break;
    case id::kVcc50:
    case id::kVcc33:
    case id::kVpp12:
    case id::kVppVcc:
    case id::kVpp11:
      ApplyVoltageRadio(ctx, controlId);
      break;
    case id::kAutoProgram:
      StartAutoProgram(ctx);
      break;
    case id::kVerifyChip:
      if (!ctx.state.codeLoaded) {
        WarnNoCode(ctx);
      } else {
        CaptureAndStart(ctx, Op::kVerifyChip);
      }
      break;
    case id::kBlankCheck:
      CaptureAndStart(ctx, Op::kBlankCheck);
      break;
    case id::kShowMemory:
      ShowCodeViewAndPage(ctx);
      break;
    case id::kChipChecksum:
      CaptureAndStart(ctx, Op::kChipChecksum);
      break;
    case id::kMemoryChecksum:
      CaptureAndStart(ctx, Op::kMemoryChecksum);
      break;
    case id::kReadProtect:
      StartOperation(ctx, Op::kReadProtect);
      break;
    case id::kEraseMtp:
      StartOperation(ctx, Op::kEraseMtp);
      break;
    case id::kLdcProtect:
      StartOperation(ctx, Op::kLdcProtect);
      break;
    case id::kHwWriteProtect:
      StartOperation(ctx, Op::kHwWriteProtect);
      break;
    case id::kOpenFile:
      StartOperation(ctx, Op::kOpenAndDownload);
      break;
    case id::kRefreshMemory:
      StartOperation(ctx, Op::kDownload);
      break;
    case id::kCopyChip:
      CaptureAndStart(ctx, Op::kCopyChip);
      break;
    case id::kMakeMaster:
      StartOfflineMaster(ctx);
      break;
    case id::kSaveHex:
      CaptureAndStart(ctx, Op::kSaveHex);
      break;
    case id::kExit:
      return true;
    case id::kPrevPage:
      StartOperation(ctx, Op::kPagePrevious);
      break;
    case id::kNextPage:
      StartOperation(ctx, Op::kPageNext);
      break;
    case id::kSetAddress:
      StartOperation(ctx, Op::kPageGoTo);
      break;
    case id::kMemoryView:
      ctx.window.SetText(id::kGroupCodeView, "编程内存代码视图");
      StartOperation(ctx, Op::kPageFromMemory);
      break;
    case id::kChipView:
      ctx.window.SetText(id::kGroupCodeView, "芯片代码视图");
      StartOperation(ctx, Op::kPageFromChip);
      break;
    case id::kAsciiView:
      StartOperation(ctx, Op::kPageAscii);
      break;
    case id::kBack:
      ShowCodeView(ctx.window, false);
      Status(ctx, "请选择编程操作");
      break;
    case id::kClearCounters:
      ClearCounters(ctx);
      break;
    case id::kCounterSettings:
      RunSetCount(ctx);
      break;
    case id::kBuzzer:
      if (ctx.window.IsChecked(id::kBuzzer)) {
        ctx.state.controlFlags |= kFlagBuzzerOn;
      } else {
        ctx.state.controlFlags &= ~kFlagBuzzerOn;
      }
      break;
    case id::kPauseCounting:
      TogglePauseCounting(ctx);
      break;
    case id::kDebugMode:
      // The mode names which memory the chips are programmed from: the
      // code confirmed in the other one is none of this one's.
      ctx.state.codeLoaded = 0;
      break;
    default:
      break;
  }
  return false;
}

void OnHotKey(AppContext& ctx, int virtualKey) {
  MainWindow& w = ctx.window;
  switch (virtualKey) {
    case kKeyF5:
      w.ShowMessageBox({kGreetingText, "尊敬的用户", MbButtons::kOk, MbIcon::kNone});
      break;
    case kKeyF7: {
      // Initialising the memory uses the port: never beside a running
      // operation, and like every other use of the port on the link worker.
      if (ctx.state.busy) {
        Status(ctx, kTextBusyRefused);
        return;
      }
      if (w.ShowMessageBox({"确实要完全擦除当前存储器么?", "初始化存储器", MbButtons::kYesNo, MbIcon::kNone}) !=
          MbAnswer::kYes) {
        Status(ctx, "操作已退出");
        return;
      }
      ctx.worker.PostOperation([&ctx] { RunStep(ctx, Op::kInitMemory); });
      break;
    }
    case kKeyF9:
      w.ShowMessageBox({"OK,已设置编程内存填充代码为00H\n请重新下载文件代码以刷新内存!", "提 示", MbButtons::kOk});
      ctx.state.fillZero = 1;
      break;
    default:
      break;
  }
}

void OnWindowKeyDown(AppContext& ctx, int virtualKey) {
  if (virtualKey != kKeyF8) return;
  ctx.window.ShowMessageBox({"您好,谢谢您使用Lentaro正版软件.", "亲爱的用户:", MbButtons::kOk, MbIcon::kNone});
}

void OnWindowTimer(AppContext& ctx) { OnTimerTick(ctx, ReconfirmMemory); }

}  // namespace kovra
