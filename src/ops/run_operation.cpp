#include "ops/run_operation.h"

#include <iterator>

#include "base/control_ids.h"
#include "image/code_loader.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "ops/chip_ops.h"
#include "ops/code_view.h"
#include "ops/download.h"
#include "ops/hex_save.h"
#include "ops/memory_ops.h"
#include "ops/offline_master.h"
#include "ops/production_counters.h"

namespace kovra {
namespace {

constexpr int kCodeViewSelectors[] = {id::kMemoryView, id::kChipView, id::kAsciiView};

void LockSelectors(AppContext& ctx, bool locked) {
  for (int control : kCodeViewSelectors) ctx.window.SetLocked(control, locked);
}

// One step of an automatic run: the identifier it runs and whether the
// options ask for it.
struct AutoStep {
  uint8_t memoryVariant;
  uint8_t imageVariant;
  uint32_t optionBit;  // 0: always
  bool mtpOnly;
};

constexpr AutoStep kAutoSteps[] = {
    {3, 3, 0x04, false},   // blank check
    {4, 4, 0x40, true},    // erase MTP
    {11, 19, 0, false},    // program
    {5, 2, 0x20, false},   // verify
    {6, 6, 0x10, true},    // enable SMART
    {8, 8, 0x02, false},   // LDC protection
    {7, 7, 0x01, false},   // read protection
    {9, 9, 0x08, true},    // hardware write protection
};

void AutoProgram(AppContext& ctx, bool imageVariant) {
  AppState& s = ctx.state;
  if (imageVariant) Beeps(ctx, 1, 100);
  if (!ConfirmAutoOptions(ctx)) {
    ctx.window.SetText(id::kStatusLine, "操作已中止");
    s.autoProgramActive = 0;
    return;
  }
  if (!imageVariant) Beeps(ctx, 1, 100);
  s.autoProgramActive = 1;
  s.autoRunState = 100;

  const uint32_t mask = s.optionMask;
  const bool mtp = s.requestFrame[4] == 2;
  bool failed = false;
  for (size_t i = 0; i < std::size(kAutoSteps) && !failed; ++i) {
    const AutoStep& step = kAutoSteps[i];
    if (step.optionBit && !(mask & step.optionBit)) continue;
    if (step.mtpOnly && !mtp) continue;
    if (imageVariant && i > 0) ctx.clock.SleepMs(50);
    RunStep(ctx, imageVariant ? step.imageVariant : step.memoryVariant);
    failed = s.linkError != 0;
    if (!failed && !imageVariant && i + 1 < std::size(kAutoSteps)) ctx.clock.SleepMs(50);
  }

  if (failed) {
    CountFailure(ctx);
    Beeps(ctx, 4, 100);
  } else {
    ctx.window.SetText(id::kStatusLine, "自动编程已成功完成");
    CountSuccess(ctx);
    Beeps(ctx, 1, 500);
  }
  s.autoProgramActive = 0;
}

void Dispatch(AppContext& ctx, uint8_t identifier) {
  switch (identifier) {
    case 2:
      return ChipChecksum(ctx);
    case 3:
      return BlankCheck(ctx);
    case 4:
    case 6:
    case 7:
    case 8:
    case 9:
      return ApplyChipSetting(ctx, identifier);
    case 5:
      return DebugMode(ctx) ? VerifyByReadback(ctx) : VerifyChip(ctx);
    case 11:
      return ProgramFromMemory(ctx);
    case 13:
      return MemoryChecksum(ctx);
    case 14:
      return DownloadImage(ctx);
    case 16:
      return DebugMode(ctx) ? CopyChipToImage(ctx) : CopyChipToMemory(ctx);
    case 19:
      return ProgramFromImage(ctx);
    case 20:
      return InitMemory(ctx);
    case 21:
      return MakeOfflineMaster(ctx);
    case 23:
      return AutoProgram(ctx, DebugMode(ctx));
    case 24:
      return SaveProgrammingMemoryAsHex(ctx);
    case 27:
      if (ChooseCodeFile(ctx)) DownloadImage(ctx);
      return;
    default:
      return;
  }
}

}  // namespace

int RunOperation(AppContext& ctx) {
  AppState& s = ctx.state;
  s.busy = 1;
  s.linkError = 0;
  ctx.window.RefreshCursor();
  const uint8_t identifier = s.operationCode();
  s.linkError = 0;
  if (identifier >= page::kShow) {
    LockSelectors(ctx, true);
    ShowCodePage(ctx, identifier);
  } else {
    Dispatch(ctx, identifier);
  }
  if (!s.autoProgramActive) {
    s.busy = 0;
    ctx.window.RefreshCursor();
    LockSelectors(ctx, false);
  }
  return 0;
}

void RunStep(AppContext& ctx, uint8_t identifier) {
  ctx.state.operationCode() = identifier;
  RunOperation(ctx);
}

void StartOperation(AppContext& ctx, uint8_t code) {
  if (!ctx.state.linkReady || !ctx.state.connected) {
    ctx.window.SetText(id::kStatusLine, kTextNoLink);
    return;
  }
  // The frame is built on the worker: a supervision pass that is still
  // running finishes first and cannot overwrite it.
  ctx.worker.PostOperation([&ctx, code] {
    ctx.state.operationCode() = code;
    BuildRequestFrame(ctx);
    RunOperation(ctx);
  });
}

}  // namespace kovra
