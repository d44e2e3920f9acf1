// SPDX-License-Identifier: MIT
#include "app/command_dispatch.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "app/counters.h"
#include "app/views.h"
#include "base/control_ids.h"
#include "base/texts.h"
#include "chips/target_rules.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "ops/code_view.h"
#include "ops/download.h"
#include "ops/production_record.h"
#include "ops/run_operation.h"

namespace kovra {
namespace {

// Groups whose controls a running operation would disturb.
bool BlockedWhileBusy(int parentId) {
  return parentId == id::kGroupOperations || parentId == id::kGroupFiles || parentId == id::kGroupChipModel ||
         parentId == id::kGroupCodeView;
}

void WarnNoCode(AppContext& ctx, Op op) {
  ctx.window.ShowMessageBox({kNoCodeText, kWarningCaptionSpaced, MbButtons::kOk, MbIcon::kWarning});
  RefuseOperation(ctx, op, "no code confirmed in the programmer's memory");
}

bool TargetAccepted(AppContext& ctx, Op op) {
  if (ValidateTarget(ctx)) return true;
  ctx.state.linkError = 1;
  SetStatus(ctx, "编程过程已终止");
  RefuseOperation(ctx, op, "the checks of the chip and its settings stopped it");
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
    RefuseOperation(ctx, Op::kAutoProgram, "the address range differs from the memory checksum's");
    return;
  }
  if (!s.codeLoaded) return WarnNoCode(ctx, Op::kAutoProgram);
  if (!TargetAccepted(ctx, Op::kAutoProgram)) return;
  if (!RecordWritable(ctx)) return RefuseOperation(ctx, Op::kAutoProgram, "the record file cannot be written");
  StartOperation(ctx, Op::kAutoProgram);
}

void StartOfflineMaster(AppContext& ctx) {
  if (ctx.state.memoryRewritten) {
    ctx.window.ShowMessageBox({"编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!", "提示",
                               MbButtons::kOk, MbIcon::kNone});
    RefuseOperation(ctx, Op::kMakeMaster, "the programmer's memory was rewritten elsewhere");
    return;
  }
  if (!ctx.state.codeLoaded) return WarnNoCode(ctx, Op::kMakeMaster);
  CaptureAddressRange(ctx);
  if (!TargetAccepted(ctx, Op::kMakeMaster)) return;
  StartOperation(ctx, Op::kMakeMaster);
}

void ShowCodeViewAndPage(AppContext& ctx) {
  ShowCodeView(ctx.window, true);
  if (!ctx.state.codeViewReady) SetupCodeView(ctx);
  ctx.state.codeViewReady = 1;
  StartOperation(ctx, Op::kPageShow);
}

void ShowMemoryPages(AppContext& ctx) {
  ctx.window.SetText(id::kGroupCodeView, "编程内存代码视图");
  StartOperation(ctx, Op::kPageFromMemory);
}

void ShowChipPages(AppContext& ctx) {
  ctx.window.SetText(id::kGroupCodeView, "芯片代码视图");
  StartOperation(ctx, Op::kPageFromChip);
}

void LeaveCodeView(AppContext& ctx) {
  ShowCodeView(ctx.window, false);
  SetStatus(ctx, "请选择编程操作");
}

void FollowBuzzerBox(AppContext& ctx) {
  if (ctx.window.IsChecked(id::kBuzzer)) {
    ctx.state.controlFlags |= kFlagBuzzerOn;
  } else {
    ctx.state.controlFlags &= ~kFlagBuzzerOn;
  }
}

// The mode names which memory the chips are programmed from: the code
// confirmed in the other one is none of this one's.
void ForgetConfirmedCode(AppContext& ctx) { ctx.state.codeLoaded = 0; }

template <ChipType type>
void ChooseChipType(AppContext& ctx, int) {
  ApplyChipTypeDefaults(ctx, type);
}

// Adapts the handlers that need nothing but the context.
template <void (*F)(AppContext&)>
void Do(AppContext& ctx, int) {
  F(ctx);
}

// What activating one control does. A control with a handler is left to
// it. The others start their operation: refused first with the no-code box
// when it needs code and none is loaded, and with the address fields read
// before when it takes the range.
struct Command {
  int controlId;
  std::optional<Op> op = std::nullopt;
  bool needsCode = false;
  bool takesRange = false;
  void (*handler)(AppContext&, int controlId) = nullptr;
  bool closesWindow = false;
};

constexpr Command kCommands[] = {
    {.controlId = id::kVerifyChip, .op = Op::kVerifyChip, .needsCode = true, .takesRange = true},
    {.controlId = id::kBlankCheck, .op = Op::kBlankCheck, .takesRange = true},
    {.controlId = id::kChipChecksum, .op = Op::kChipChecksum, .takesRange = true},
    {.controlId = id::kMemoryChecksum, .op = Op::kMemoryChecksum, .takesRange = true},
    {.controlId = id::kReadProtect, .op = Op::kReadProtect},
    {.controlId = id::kEraseMtp, .op = Op::kEraseMtp},
    {.controlId = id::kLdcProtect, .op = Op::kLdcProtect},
    {.controlId = id::kHwWriteProtect, .op = Op::kHwWriteProtect},
    {.controlId = id::kOpenFile, .op = Op::kOpenAndDownload},
    {.controlId = id::kRefreshMemory, .op = Op::kDownload},
    {.controlId = id::kCopyChip, .op = Op::kCopyChip, .takesRange = true},
    {.controlId = id::kSaveHex, .op = Op::kSaveHex, .takesRange = true},
    {.controlId = id::kPrevPage, .op = Op::kPagePrevious},
    {.controlId = id::kNextPage, .op = Op::kPageNext},
    {.controlId = id::kSetAddress, .op = Op::kPageGoTo},
    {.controlId = id::kAsciiView, .op = Op::kPageAscii},

    {.controlId = id::kAutoProgram, .handler = Do<StartAutoProgram>},
    {.controlId = id::kMakeMaster, .handler = Do<StartOfflineMaster>},
    {.controlId = id::kShowMemory, .handler = Do<ShowCodeViewAndPage>},
    {.controlId = id::kMemoryView, .handler = Do<ShowMemoryPages>},
    {.controlId = id::kChipView, .handler = Do<ShowChipPages>},
    {.controlId = id::kBack, .handler = Do<LeaveCodeView>},
    {.controlId = id::kChipOtp, .handler = ChooseChipType<ChipType::kOtp>},
    {.controlId = id::kChipMtp, .handler = ChooseChipType<ChipType::kMtp>},
    {.controlId = id::kVcc50, .handler = ApplyVoltageRadio},
    {.controlId = id::kVcc33, .handler = ApplyVoltageRadio},
    {.controlId = id::kVpp12, .handler = ApplyVoltageRadio},
    {.controlId = id::kVppVcc, .handler = ApplyVoltageRadio},
    {.controlId = id::kVpp11, .handler = ApplyVoltageRadio},
    {.controlId = id::kClearCounters, .handler = Do<ClearCounters>},
    {.controlId = id::kCounterSettings, .handler = Do<RunSetCount>},
    {.controlId = id::kBuzzer, .handler = Do<FollowBuzzerBox>},
    {.controlId = id::kPauseCounting, .handler = Do<TogglePauseCounting>},
    {.controlId = id::kDebugMode, .handler = Do<ForgetConfirmedCode>},
    {.controlId = id::kExit, .closesWindow = true},
};

}  // namespace

bool OnCommandRequest(AppContext& ctx, int controlId, int parentId) {
  if (ctx.state.busy && BlockedWhileBusy(parentId)) return false;
  const auto* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [controlId](const Command& c) { return c.controlId == controlId; });
  if (command == std::end(kCommands)) return false;
  if (command->handler) {
    command->handler(ctx, controlId);
  } else if (command->op) {
    if (command->needsCode && !ctx.state.codeLoaded) {
      WarnNoCode(ctx, *command->op);
      return false;
    }
    if (command->takesRange) CaptureAddressRange(ctx);
    StartOperation(ctx, *command->op);
  }
  return command->closesWindow;
}

void OnHotKey(AppContext& ctx, int virtualKey) {
  MainWindow& w = ctx.window;
  switch (virtualKey) {
    case kKeyF5:
      w.ShowMessageBox({kGreetingText, kGreetingCaption, MbButtons::kOk, MbIcon::kNone});
      break;
    case kKeyF7: {
      // Initialising the memory uses the port: never beside a running
      // operation, and like every other use of the port on the link worker.
      if (ctx.state.busy) {
        SetStatus(ctx, kTextBusyRefused);
        return;
      }
      if (w.ShowMessageBox({"确实要完全擦除当前存储器么?", "初始化存储器", MbButtons::kYesNo, MbIcon::kNone}) !=
          MbAnswer::kYes) {
        SetStatus(ctx, "操作已退出");
        return;
      }
      PostBusyOperation(ctx, [&ctx] { RunStep(ctx, Op::kInitMemory); });
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
