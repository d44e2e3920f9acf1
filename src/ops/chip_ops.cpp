// SPDX-License-Identifier: MIT
#include "ops/chip_ops.h"

#include <algorithm>
#include <vector>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "image/code_image.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "ops/memory_ops.h"

namespace kovra {
namespace {

constexpr const char* kProgrammingProgress = "请稍候,正在编程芯片";
constexpr const char* kReadbackProgress = "请稍候,校验芯片,在地址: ";

// The start every range operation shares: progress text, frame range,
// connection check and acknowledgement. Some operations report a failed
// check as a connection error of their own.
bool BeginRangeOperation(AppContext& ctx, uint8_t code, const char* progress, bool reportLinkFailure) {
  AppState& s = ctx.state;
  SetStatus(ctx, std::string(progress) + "......");
  s.requestFrame.SetRange(s.programStart, s.programEnd);
  s.linkError = 0;
  if (!SendCommand(ctx, code)) {
    if (reportLinkFailure) {
      s.linkError = 1;
      s.autoRunState = 0;
      ctx.window.SetTimer(kRetryTimer, kTickMs);
      SetStatus(ctx, kTextLinkError);
    }
    return false;
  }
  return ReadAcknowledgement(ctx);
}

// A blank check or a verify: the programmer walks the range and passes its
// end only when every byte is as it should be; where it stops is the
// failure's address. True when it passed (the caller says so).
struct RangeWalk {
  uint8_t code;
  const char* progress;
  bool reportLinkFailure;
  Failure failure;
  const char* failedText;
};

bool WalkRange(AppContext& ctx, const RangeWalk& walk) {
  AppState& s = ctx.state;
  if (!BeginRangeOperation(ctx, walk.code, walk.progress, walk.reportLinkFailure)) return false;
  const uint32_t last = RunProgressPhase(ctx, walk.code, s.programStart, s.programEnd, walk.progress);
  if (last > s.programEnd) {
    s.linkError = 0;
    return true;
  }
  s.linkError = 1;
  s.outcome.FailAt(walk.failure, last);
  SetStatus(ctx, walk.failedText + Hex5(last));
  return false;
}

// The programmer's verdict on what it programmed. The window calls any
// answer but OK a checksum error; as an outcome, silence is a lost link.
bool ProgrammingVerdict(AppContext& ctx, uint32_t tries) {
  const Verdict verdict = ReadVerdict(ctx, sizes::kAnswer, tries, false);
  if (verdict == Verdict::kOk) {
    SetStatus(ctx, "编程成功");
    return true;
  }
  if (verdict == Verdict::kNo) ctx.state.outcome.Fail(Failure::kProgramChecksum);
  return false;
}

struct ChipSetting {
  uint8_t code;
  const char* progress;
  const char* ok;
  const char* no;
};

constexpr ChipSetting kChipSettings[] = {
    {cmd::kEraseMtp, "正在擦除MTP,请稍候......", "芯片已擦除!", "擦除芯片失败!"},
    {cmd::kEnableSmart, "使能芯片SMART系统,请稍候....", "芯片SMART系统已使能!", "使能芯片SMART系统失败!"},
    {cmd::kReadProtect, "正在使能芯片读保护,请稍候......", "芯片读保护已使能!", "使能芯片读保护失败!"},
    {cmd::kLdcProtect, "正在使能芯片LDC保护,请稍候......", "芯片LDC保护已使能!", "使能芯片LDC保护失败!"},
    {cmd::kHwWriteProtect, "正在使能硬件写保护,请稍候......", "芯片硬件写保护成功!", "使能芯片硬件写保护失败!"},
};

}  // namespace

void ChipChecksum(AppContext& ctx) {
  AppState& s = ctx.state;
  constexpr const char* kProgress = "请稍候,得到芯片检查和";
  if (!BeginRangeOperation(ctx, cmd::kChipChecksum, kProgress, false)) return;
  const uint32_t last = RunProgressPhase(ctx, cmd::kChipChecksum, s.programStart, s.programEnd, kProgress);
  if (last < s.programEnd) s.linkError = 1;
  const uint16_t word = ReadWord16(ctx);
  SetStatus(ctx, std::string("芯片检查和 =  ") + (s.linkError ? "XXXX" : Hex4(word)));
  // Only a word that arrived is compared: a chip whose checksum could not
  // be read has failed already, with its own text.
  if (!s.autoProgramActive || s.linkError) return;
  if (word == SumImage(s, s.programStart, s.programEnd)) {
    SetStatus(ctx, "校验芯片成功!");
  } else {
    s.linkError = 1;
    s.outcome.Fail(Failure::kVerifyFailed);
    SetStatus(ctx, "编程失败,校验芯片错误!");
  }
}

void BlankCheck(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!WalkRange(ctx, {.code = cmd::kBlankCheck,
                       .progress = "请稍候,芯片空检查",
                       .reportLinkFailure = true,
                       .failure = Failure::kNotBlank,
                       .failedText = "芯片不空, 在地址: "})) {
    return;
  }
  SetStatus(ctx, "芯片是空的, 在地址空间: " + Hex5(s.programStart) + "~~" + Hex5(s.programEnd));
}

void VerifyChip(AppContext& ctx) {
  if (!WalkRange(ctx, {.code = cmd::kVerifyChip,
                       .progress = "请稍候,校验芯片数据",
                       .reportLinkFailure = false,
                       .failure = Failure::kVerifyFailed,
                       .failedText = "校验芯片失败! 在地址: "})) {
    return;
  }
  SetStatus(ctx, "校验芯片成功");
}

void VerifyByReadback(AppContext& ctx) {
  AppState& s = ctx.state;
  ResetRequestFrame(ctx);
  s.operationCode() = cmd::kReadChipBlock;
  s.linkError = 0;
  SetStatus(ctx, std::string(kReadbackProgress) + "......");
  ctx.clock.SleepMs(pause::kChipReadMs);

  std::vector<uint8_t> buffer(sizes::kReadback);
  for (uint32_t address = s.programStart; address <= s.programEnd;) {
    SetStatus(ctx, std::string(kReadbackProgress) + "  地址: " + Hex5(address));
    ReportProgress(ctx, "verify by read-back", address, s.programStart, s.programEnd);
    const uint32_t blockEnd = std::min(address + sizes::kReadbackBlock - 1, s.programEnd);
    s.linkError = 0;
    ReadBlock(ctx, cmd::kReadChipBlock, buffer.data(), buffer.size(), address, blockEnd);
    uint32_t failedAt = address;
    bool failed = s.linkError != 0;
    for (uint32_t a = address; !failed && a <= blockEnd; ++a) {
      if (buffer[a - address] != s.codeImage[a]) {
        failed = true;
        failedAt = a;
      }
    }
    if (failed) {
      s.linkError = 1;
      s.outcome.FailAt(Failure::kVerifyFailed, failedAt);
      SetStatus(ctx, "校验芯片失败,在地址: " + Hex4(failedAt));
      return;
    }
    address = blockEnd + 1;
  }
  SetStatus(ctx, "校验芯片成功");
}

void ProgramFromMemory(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!BeginRangeOperation(ctx, cmd::kProgramFromMemory, kProgrammingProgress, false)) return;
  const uint32_t last =
      RunProgressPhase(ctx, cmd::kProgramFromMemory, s.programStart, s.programEnd, kProgrammingProgress);
  if (last < s.programEnd) {
    s.linkError = 1;
    SetStatus(ctx, "编程芯片失败! [读取编程信息错误]");
    return;
  }
  if (!ProgrammingVerdict(ctx, tries::kProgramVerdict)) SetStatus(ctx, "编程芯片失败! [校验和错]");
}

void ProgramFromImage(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!BeginRangeOperation(ctx, cmd::kProgramFromStream, kProgrammingProgress, true)) return;
  uint32_t sinceText = 0;
  for (uint32_t address = s.programStart; address <= s.programEnd;) {
    if (sinceText >= 128) {
      SetStatus(ctx, std::string(kProgrammingProgress) + ", 地址: " + Hex4(address));
      ReportProgress(ctx, "program from image", address, s.programStart, s.programEnd);
      sinceText = 0;
    }
    // The last write may run past the end, never past the image.
    const size_t chunk = std::min<size_t>(8, kImageSize - address);
    const size_t written = WriteBytes(ctx, s.codeImage.data() + address, chunk);
    if (s.linkError) break;
    address += static_cast<uint32_t>(written);
    sinceText += static_cast<uint32_t>(written);
  }
  if (s.linkError) {
    SetStatus(ctx, "编程失败!");
    return;
  }
  if (ProgrammingVerdict(ctx, tries::kStreamVerdict)) return;
  ctx.window.ShowMessageBox(
      {"发送数据校验和错误!\n请尝试重新编程\n注意: 烧写时请不要切换当前窗口\n"
       "或启动其它需要实时处理的软件,\n以免影响下载稳定性",
       kWarningCaptionSpaced, MbButtons::kOk, MbIcon::kWarning});
  SetStatus(ctx, "编程芯片失败! [校验和错]");
}

void ApplyChipSetting(AppContext& ctx, uint8_t code) {
  AppState& s = ctx.state;
  const auto* setting = std::find_if(std::begin(kChipSettings), std::end(kChipSettings),
                                     [code](const ChipSetting& c) { return c.code == code; });
  if (setting == std::end(kChipSettings)) return;
  if (!s.linkReady || !s.connected) {
    s.linkError = 1;
    s.outcome.Refuse("no link to the programmer");
    SetStatus(ctx, "请先启动编程器连接");
    return;
  }
  s.linkError = 0;
  SetStatus(ctx, setting->progress);
  if (!SendCommand(ctx, code)) return;
  switch (ReadVerdict(ctx, sizes::kSettingAnswer, tries::kSettingVerdict)) {
    case Verdict::kOk:
      SetStatus(ctx, setting->ok);
      break;
    case Verdict::kNo:
      s.outcome.Fail(Failure::kSettingFailed);
      SetStatus(ctx, setting->no);
      break;
    case Verdict::kFault:
    case Verdict::kOther:
      break;
  }
}

}  // namespace kovra
