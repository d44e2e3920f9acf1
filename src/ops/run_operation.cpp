// SPDX-License-Identifier: MIT
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
#include "ops/serial_run.h"

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
// is left in linkError for RunOperation to count, and in the state's
// outcome with the step it happened in. A run the user declines ends with
// autoProgramActive clear and is not counted.
void AutoProgram(AppContext& ctx, const Operation&) {
  AppState& s = ctx.state;
  const bool imageVariant = DebugMode(ctx);
  if (imageVariant) Beeps(ctx, 1, kShortBeepMs);
  if (!ConfirmAutoOptions(ctx)) {
    ctx.window.SetText(id::kStatusLine, kTextAborted);
    s.outcome.Refuse("declined by the operator");
    s.autoProgramActive = 0;
    return;
  }
  s.runSerial.clear();
  std::optional<GivenSerial> serial;
  if (imageVariant && ctx.serials) {
    serial = GiveSerial(ctx);
    if (!serial) {
      s.autoProgramActive = 0;
      return;
    }
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
    s.outcome = OutcomeOf(step.name);
    // kVerifyChip reads the chip back in debug mode.
    const bool readback = imageVariant && s.verifyByReadback && step.memoryVariant == Op::kVerifyChip;
    RunStep(ctx, imageVariant && !readback ? step.imageVariant : step.memoryVariant);
    failed = s.linkError != 0;
    if (!failed && !imageVariant && i + 1 < std::size(kAutoSteps)) ctx.clock.SleepMs(pause::kAutoStepMs);
  }
  if (serial) TakeBackSerial(ctx, *serial);
}

// The outcome is what linkError, which counting reads, says; the kind an
// operation noted tells why it failed. A refusal or an interruption stands
// on its own: neither leaves linkError set.
void SettleOutcome(AppState& s) {
  Outcome& outcome = s.outcome;
  if (outcome.failure == Failure::kRefused || outcome.failure == Failure::kInterrupted) return;
  if (!s.linkError) {
    outcome = OutcomeOf(outcome.step);
  } else if (outcome.passed()) {
    outcome.Fail(Failure::kLinkLost);
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
    {.id = Op::kChipChecksum, .command = cmd::kChipChecksum, .name = "chip checksum", .run = Run<ChipChecksum>},
    {.id = Op::kBlankCheck, .command = cmd::kBlankCheck, .name = "blank check", .run = Run<BlankCheck>},
    {.id = Op::kEraseMtp, .command = cmd::kEraseMtp, .name = "erase MTP", .run = RunChipSetting},
    {.id = Op::kVerifyChip, .command = cmd::kVerifyChip, .name = "verify chip", .run = RunVerify},
    {.id = Op::kEnableSmart, .command = cmd::kEnableSmart, .name = "enable SMART", .run = RunChipSetting},
    {.id = Op::kReadProtect, .command = cmd::kReadProtect, .name = "read protection", .run = RunChipSetting},
    {.id = Op::kLdcProtect, .command = cmd::kLdcProtect, .name = "LDC protection", .run = RunChipSetting},
    {.id = Op::kHwWriteProtect,
     .command = cmd::kHwWriteProtect,
     .name = "hardware write protection",
     .run = RunChipSetting},
    {.id = Op::kProgramFromMemory,
     .command = cmd::kProgramFromMemory,
     .name = "program from memory",
     .run = Run<ProgramFromMemory>},
    {.id = Op::kMemoryChecksum, .command = cmd::kMemoryChecksum, .name = "memory checksum", .run = Run<MemoryChecksum>},
    {.id = Op::kDownload, .command = cmd::kDownload, .name = "download", .run = Run<DownloadImage>},
    {.id = Op::kCopyChip, .command = cmd::kCopyChipToMemory, .name = "copy chip", .run = RunCopyChip},
    {.id = Op::kProgramFromImage,
     .command = cmd::kProgramFromStream,
     .name = "program from image",
     .run = Run<ProgramFromImage>},
    // F7 starts it on the worker without asking for the link.
    {.id = Op::kInitMemory,
     .command = cmd::kInitMemory,
     .name = "initialise memory",
     .needsLink = false,
     .run = Run<InitMemory>},
    {.id = Op::kMakeMaster, .command = cmd::kOfflineConfig, .name = "offline master", .run = RunMakeMaster},
    {.id = Op::kAutoProgram,
     .command = kNoCommand,
     .name = "automatic programming",
     .counts = true,
     .run = AutoProgram},
    {.id = Op::kSaveHex, .command = cmd::kReadMemoryBlock, .name = "save HEX", .run = Run<SaveProgrammingMemoryAsHex>},
    {.id = Op::kOpenAndDownload, .command = kNoCommand, .name = "open and download", .run = RunOpenAndDownload},
    {.id = Op::kPageShow, .command = kNoCommand, .name = "show page", .run = RunPage},
    {.id = Op::kPageGoTo, .command = kNoCommand, .name = "go to page", .run = RunPage},
    {.id = Op::kPageAscii, .command = kNoCommand, .name = "page as ASCII", .run = RunPage},
    {.id = Op::kPagePrevious, .command = kNoCommand, .name = "previous page", .run = RunPage},
    {.id = Op::kPageNext, .command = kNoCommand, .name = "next page", .run = RunPage},
    {.id = Op::kPageFromMemory, .command = kNoCommand, .name = "page from memory", .run = RunPage},
    {.id = Op::kPageFromChip, .command = kNoCommand, .name = "page from chip", .run = RunPage},
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
    // A step of an automatic run keeps the outcome the run gave it.
    if (!s.autoProgramActive) s.outcome = OutcomeOf(op->name);
    op->run(ctx, *op);
    SettleOutcome(s);
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

void RefuseOperation(AppContext& ctx, Op op, const char* why) {
  ctx.state.outcome = OutcomeOf(FindOperation(static_cast<uint8_t>(op))->name);
  ctx.state.outcome.Refuse(why);
}

void StartOperation(AppContext& ctx, Op op) {
  const Operation* entry = FindOperation(static_cast<uint8_t>(op));
  if (entry->needsLink && (!ctx.state.linkReady || !ctx.state.connected)) {
    SetStatus(ctx, kTextNoLink);
    RefuseOperation(ctx, op, "no link to the programmer");
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
