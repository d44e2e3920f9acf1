#include "ops/run_operation.h"

#include <algorithm>
#include <iterator>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "image/code_loader.h"
#include "link/commands.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "ops/chip_ops.h"
#include "ops/code_view.h"
#include "ops/download.h"
#include "ops/hex_save.h"
#include "ops/memory_ops.h"
#include "ops/offline_master.h"
#include "ops/production_counters.h"
#include "ops/production_record.h"

namespace kovra {
namespace {

constexpr int kCodeViewSelectors[] = {id::kMemoryView, id::kChipView, id::kAsciiView};

void LockSelectors(AppContext& ctx, bool locked) {
  for (int control : kCodeViewSelectors) ctx.window.SetLocked(control, locked);
}

constexpr AutoStep kAutoSteps[] = {
    {"blank", Op::kBlankCheck, Op::kBlankCheck, option::kBlankCheck, false},
    {"erase", Op::kEraseMtp, Op::kEraseMtp, option::kEraseMtp, true},
    {"program", Op::kProgramFromMemory, Op::kProgramFromImage, 0, false},
    {"verify", Op::kVerifyChip, Op::kChipChecksum, option::kVerify, false},
    {"smart", Op::kEnableSmart, Op::kEnableSmart, option::kSmart, true},
    {"ldc", Op::kLdcProtect, Op::kLdcProtect, option::kLdcProtect, false},
    {"read-protect", Op::kReadProtect, Op::kReadProtect, option::kReadProtect, false},
    {"write-protect", Op::kHwWriteProtect, Op::kHwWriteProtect, option::kHwWriteProtect, true},
};

// The steps the options ask for, stopping at the first failure; the outcome
// is left in linkError for RunOperation to count. A run the user declines
// ends with autoProgramActive clear and is not counted.
void AutoProgram(AppContext& ctx, const Operation&) {
  AppState& s = ctx.state;
  const bool imageVariant = DebugMode(ctx);
  if (imageVariant) Beeps(ctx, 1, kShortBeepMs);
  if (!ConfirmAutoOptions(ctx)) {
    ctx.window.SetText(id::kStatusLine, "操作已中止");
    s.autoProgramActive = 0;
    return;
  }
  if (!imageVariant) Beeps(ctx, 1, kShortBeepMs);
  s.autoProgramActive = 1;
  s.autoRunState = 100;
  s.runStartedMs = ctx.clock.NowMs();
  s.runSteps.clear();

  const uint32_t mask = s.optionMask;
  const bool mtp = s.requestFrame.chipType() == kFrameMtp;
  bool failed = false;
  for (size_t i = 0; i < std::size(kAutoSteps) && !failed; ++i) {
    const AutoStep& step = kAutoSteps[i];
    if (!StepRuns(step, mask, mtp)) continue;
    if (imageVariant && i > 0) ctx.clock.SleepMs(pause::kAutoStepMs);
    if (!s.runSteps.empty()) s.runSteps += ',';
    s.runSteps += step.name;
    RunStep(ctx, imageVariant ? step.imageVariant : step.memoryVariant);
    failed = s.linkError != 0;
    if (!failed && !imageVariant && i + 1 < std::size(kAutoSteps)) ctx.clock.SleepMs(pause::kAutoStepMs);
  }
}

// The end of a counted run: the counters, the status text and the beeps.
void CountOutcome(AppContext& ctx) {
  AppState& s = ctx.state;
  if (s.linkError) {
    // The cable may have gone in the middle of a step, where only silence
    // shows it: that is no chip failure either.
    if (!IsPortPresent(ctx)) s.autoRunState = 0;
    CountFailure(ctx);
    Beeps(ctx, 4, kShortBeepMs);
  } else {
    ctx.window.SetText(id::kStatusLine, "自动编程已成功完成");
    CountSuccess(ctx);
    Beeps(ctx, 1, kLongBeepMs);
  }
  AppendRunRecord(ctx, !s.linkError);
  s.autoProgramActive = 0;
}

void RunChipSetting(AppContext& ctx, const Operation& op) { ApplyChipSetting(ctx, op.command); }
void RunVerify(AppContext& ctx, const Operation&) { DebugMode(ctx) ? VerifyByReadback(ctx) : VerifyChip(ctx); }
void RunCopyChip(AppContext& ctx, const Operation&) { DebugMode(ctx) ? CopyChipToImage(ctx) : CopyChipToMemory(ctx); }
void RunMakeMaster(AppContext& ctx, const Operation&) { MakeOfflineMaster(ctx, DownloadImage); }
void RunOpenAndDownload(AppContext& ctx, const Operation&) {
  if (ChooseCodeFile(ctx)) DownloadImage(ctx);
}
void RunPage(AppContext& ctx, const Operation& op) {
  LockSelectors(ctx, true);
  ShowCodePage(ctx, op.id);
}

// Adapts the operations that need nothing from their table row.
template <void (*F)(AppContext&)>
void Run(AppContext& ctx, const Operation&) {
  F(ctx);
}

constexpr Operation kOperations[] = {
    {Op::kChipChecksum, cmd::kChipChecksum, "chip checksum", false, true, Run<ChipChecksum>},
    {Op::kBlankCheck, cmd::kBlankCheck, "blank check", false, true, Run<BlankCheck>},
    {Op::kEraseMtp, cmd::kEraseMtp, "erase MTP", false, true, RunChipSetting},
    {Op::kVerifyChip, cmd::kVerifyChip, "verify chip", false, true, RunVerify},
    {Op::kEnableSmart, cmd::kEnableSmart, "enable SMART", false, true, RunChipSetting},
    {Op::kReadProtect, cmd::kReadProtect, "read protection", false, true, RunChipSetting},
    {Op::kLdcProtect, cmd::kLdcProtect, "LDC protection", false, true, RunChipSetting},
    {Op::kHwWriteProtect, cmd::kHwWriteProtect, "hardware write protection", false, true, RunChipSetting},
    {Op::kProgramFromMemory, cmd::kProgramFromMemory, "program from memory", false, true, Run<ProgramFromMemory>},
    {Op::kMemoryChecksum, cmd::kMemoryChecksum, "memory checksum", false, true, Run<MemoryChecksum>},
    {Op::kDownload, cmd::kDownload, "download", false, true, Run<DownloadImage>},
    {Op::kCopyChip, cmd::kCopyChipToMemory, "copy chip", false, true, RunCopyChip},
    {Op::kProgramFromImage, cmd::kProgramFromStream, "program from image", false, true, Run<ProgramFromImage>},
    // F7 starts it on the worker without asking for the link.
    {Op::kInitMemory, cmd::kInitMemory, "initialise memory", false, false, Run<InitMemory>},
    {Op::kMakeMaster, cmd::kOfflineConfig, "offline master", false, true, RunMakeMaster},
    {Op::kAutoProgram, kNoCommand, "automatic programming", true, true, AutoProgram},
    {Op::kSaveHex, cmd::kReadMemoryBlock, "save HEX", false, true, Run<SaveProgrammingMemoryAsHex>},
    {Op::kOpenAndDownload, kNoCommand, "open and download", false, true, RunOpenAndDownload},
    {Op::kPageShow, kNoCommand, "show page", false, true, RunPage},
    {Op::kPageGoTo, kNoCommand, "go to page", false, true, RunPage},
    {Op::kPageAscii, kNoCommand, "page as ASCII", false, true, RunPage},
    {Op::kPagePrevious, kNoCommand, "previous page", false, true, RunPage},
    {Op::kPageNext, kNoCommand, "next page", false, true, RunPage},
    {Op::kPageFromMemory, kNoCommand, "page from memory", false, true, RunPage},
    {Op::kPageFromChip, kNoCommand, "page from chip", false, true, RunPage},
};

}  // namespace

std::span<const Operation> Operations() { return kOperations; }

std::span<const AutoStep> AutoSteps() { return kAutoSteps; }

bool StepRuns(const AutoStep& step, uint32_t optionMask, bool mtp) {
  if (step.optionBit && !(optionMask & step.optionBit)) return false;
  return !step.mtpOnly || mtp;
}

const Operation* FindOperation(uint8_t identifier) {
  const auto* op = std::find_if(std::begin(kOperations), std::end(kOperations),
                                [identifier](const Operation& o) { return static_cast<uint8_t>(o.id) == identifier; });
  return op == std::end(kOperations) ? nullptr : op;
}

void RunOperation(AppContext& ctx) {
  AppState& s = ctx.state;
  s.busy = 1;
  s.linkError = 0;
  ctx.window.RefreshCursor();
  if (const Operation* op = FindOperation(s.operationCode())) {
    op->run(ctx, *op);
    if (op->counts && s.autoProgramActive) CountOutcome(ctx);
  }
  if (!s.autoProgramActive) {
    LowerBusy(ctx);
    ctx.window.RefreshCursor();
    LockSelectors(ctx, false);
  }
}

void RunStep(AppContext& ctx, Op op) {
  ctx.state.operationCode() = static_cast<uint8_t>(op);
  RunOperation(ctx);
}

void StartOperation(AppContext& ctx, Op op) {
  const Operation* entry = FindOperation(static_cast<uint8_t>(op));
  if (entry->needsLink && (!ctx.state.linkReady || !ctx.state.connected)) {
    ctx.window.SetText(id::kStatusLine, kTextNoLink);
    return;
  }
  // The frame is built on the worker: a supervision pass that is still
  // running finishes first and cannot overwrite it.
  PostBusyOperation(ctx, [&ctx, op] {
    ctx.state.operationCode() = static_cast<uint8_t>(op);
    BuildRequestFrame(ctx);
    RunOperation(ctx);
  });
}

}  // namespace kovra
