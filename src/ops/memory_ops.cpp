// SPDX-License-Identifier: MIT
#include "ops/memory_ops.h"

#include <algorithm>
#include <array>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "image/code_image.h"
#include "link/commands.h"
#include "link/programmer_link.h"

namespace kovra {
namespace {

constexpr const char* kMemoryChecksumProgress = "请稍候,得到编程内存检查和";
constexpr const char* kCopyProgress = "请稍候,拷贝芯片数据到编程内存";
constexpr const char* kCopyResult = "拷贝芯片数据检查和 =  ";

// Command 0x0C: the programming memory is cleared for a code of the given
// sum; its "ROMOK" comes when the programmer is done.
bool SendInitCommand(AppContext& ctx, uint32_t end) {
  ResetRequestFrame(ctx);
  const uint16_t sum = SumImage(ctx.state, 0, ctx.state.programEnd);
  ctx.state.programStart = 0;
  ctx.state.requestFrame.SetRange(0, end);
  ctx.state.requestFrame.SetChecksum(sum);
  return SendCommand(ctx, cmd::kInitMemory);
}

}  // namespace

bool DebugMode(AppContext& ctx) { return ctx.window.IsChecked(id::kDebugMode); }

void ResetRequestFrame(AppContext& ctx) {
  ctx.state.requestFrame.Fill(0);
  BuildRequestFrame(ctx);
}

bool ConfirmMemoryOverwrite(AppContext& ctx) {
  const MbAnswer answer = ctx.window.ShowMessageBox(
      {"这个操作将改变编程内存代码数据,是否继续?,", kWarningCaptionSpaced, MbButtons::kYesNo, MbIcon::kWarning});
  if (answer != MbAnswer::kYes) {
    SetStatus(ctx, kTextAborted);
    ctx.state.outcome.Refuse("declined by the operator");
    return false;
  }
  ctx.state.memoryRewritten = 0;
  return true;
}

void ReadBlock(AppContext& ctx, uint8_t code, uint8_t* buffer, size_t size, uint32_t first, uint32_t last) {
  AppState& s = ctx.state;
  const size_t count = last - first + 1;
  if (size < count) {
    ctx.window.ShowMessageBox({"指定的缓冲区不足以容纳要读取的数据,操作将中止!", "", MbButtons::kOk, MbIcon::kWarning});
    SetStatus(ctx, kTextAborted);
    // Nothing was read: the caller must not take the buffer for data.
    s.linkError = 1;
    return;
  }
  s.requestFrame.SetRange(first, last);
  s.linkError = 0;
  if (!SendCommand(ctx, code)) return;
  if (!ReadAcknowledgement(ctx)) return;
  ctx.clock.SleepMs(pause::kBlockDataMs);
  bool good = ReadBytes(ctx, buffer, count) == count && !s.linkError;
  if (good) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += buffer[i];
    const uint16_t word = ReadWord16(ctx);
    good = !s.linkError && word == static_cast<uint16_t>(sum);
  }
  if (!good) {
    s.linkError = 1;
    SetStatus(ctx, "读取数据错误");
    return;
  }
  s.linkError = 0;
}

void MemoryChecksum(AppContext& ctx) {
  AppState& s = ctx.state;
  SetStatus(ctx, std::string(kMemoryChecksumProgress) + "......");
  s.linkError = 0;
  uint16_t programmerValue = 0;
  const bool debug = DebugMode(ctx);
  if (!debug) {
    s.requestFrame.SetRange(s.programStart, s.programEnd);
    if (!SendCommand(ctx, cmd::kMemoryChecksum)) return;
    // A missing acknowledgement leaves linkError set, and every later read
    // of the command then fails: the command ends as failed.
    ReadAcknowledgement(ctx, sizes::kChecksumAnswer, false);
    const uint32_t last =
        RunProgressPhase(ctx, cmd::kMemoryChecksum, s.programStart, s.programEnd, kMemoryChecksumProgress);
    if (last < s.programEnd) s.linkError = 1;
    programmerValue = ReadWord16(ctx);
  }

  std::string result = "编程内存检查和 =  ";
  if (s.linkError) {
    SetStatus(ctx, result + "XXXX");
    return;
  }
  const uint16_t hostValue = SumImage(s, s.programStart, s.programEnd);
  if (debug) programmerValue = hostValue;
  if (programmerValue != hostValue) {
    s.outcome.Fail(Failure::kMemoryDiffers);
    ctx.window.ShowMessageBox(
        {"编程内存检查和错误!\n请尝试重新下载代码\n注意: 下载代码时请不要切换当前窗口\n"
         "或启动其它需要实时处理的软件,\n以免影响下载稳定性",
         kWarningCaptionSpaced, MbButtons::kOk, MbIcon::kWarning});
    s.linkError = 1;
  }
  result += Hex4(programmerValue);
  ctx.window.SetText(id::kChecksumField, Hex4(programmerValue));
  s.memoryStart = s.programStart;
  s.memoryEnd = s.programEnd;
  SetStatus(ctx, result);
}

void InitMemory(AppContext& ctx) {
  AppState& s = ctx.state;
  s.memoryRewritten = 0;
  if (DebugMode(ctx)) {
    s.codeLoaded = 1;
    s.memoryStart = s.programStart;
    s.memoryEnd = s.programEnd;
    return;
  }
  if (!SendInitCommand(ctx, 0)) return;
  SetStatus(ctx, "正在初始化编程存储器,该过程约需几秒到十几秒时间,请耐心等候......");
  if (ReadRomOk(ctx, sizes::kRomOk, tries::kInitWhole)) {
    s.linkError = 0;
    SetStatus(ctx, "初始化存储器成功!");
  } else {
    SetStatus(ctx, "初始化编程存储器失败!请尝试重新初始化!");
  }
}

void CopyChipToMemory(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!ConfirmMemoryOverwrite(ctx)) return;
  if (!SendInitCommand(ctx, s.programEnd & 0xFFFF)) return;
  SetStatus(ctx, "正在初始化编程内存系统,该过程约需几秒到十几秒时间,请稍候......");
  if (!ReadRomOk(ctx, sizes::kRomOk, tries::kInitForCopy)) {
    SetStatus(ctx, "初始化编程内存失败!请重新尝试,若重复出现此信息,内存芯片可能已损坏!");
    return;
  }
  SetStatus(ctx, std::string(kCopyProgress) + "......");
  ctx.clock.SleepMs(pause::kChipReadMs);

  s.requestFrame.SetRange(s.programStart, s.programEnd);
  s.linkError = 0;
  if (!SendCommand(ctx, cmd::kCopyChipToMemory)) return;
  if (!ReadAcknowledgement(ctx)) return;
  const uint32_t last = RunProgressPhase(ctx, cmd::kCopyChipToMemory, s.programStart, s.programEnd, kCopyProgress);
  if (last < s.programEnd) s.linkError = 1;
  const uint16_t word = ReadWord16(ctx);

  std::string result = kCopyResult;
  if (s.linkError) {
    result += "XXXX";
  } else {
    s.codeLoaded = 1;
    s.codeEnd = s.programEnd;
    result += Hex4(word);
    ctx.window.SetText(id::kChecksumField, Hex4(word));
  }
  SetStatus(ctx, result);
}

void CopyChipToImage(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!ConfirmMemoryOverwrite(ctx)) return;
  // In debug mode the image is the programming memory: a copy that stops
  // half way leaves no confirmed code in it.
  s.codeLoaded = 0;
  ResetRequestFrame(ctx);
  s.linkError = 0;
  SetStatus(ctx, std::string(kCopyProgress) + "......");
  ctx.clock.SleepMs(pause::kChipReadMs);

  std::array<uint8_t, sizes::kBlock> buffer{};
  for (uint32_t address = s.programStart; address <= s.programEnd;) {
    SetStatus(ctx, std::string(kCopyProgress) + ",  地址: " + Hex5(address));
    ReportProgress(ctx, "copy chip", address, s.programStart, s.programEnd);
    const uint32_t blockEnd = std::min(address + sizes::kCopyBlock - 1, s.programEnd);
    ReadBlock(ctx, cmd::kReadChipBlock, buffer.data(), buffer.size(), address, blockEnd);
    if (s.linkError) break;
    std::copy_n(buffer.begin(), blockEnd - address + 1, s.codeImage.begin() + address);
    address = blockEnd + 1;
  }

  std::string result = kCopyResult;
  if (s.linkError) {
    result += "XXXX";
  } else {
    s.memoryStart = s.programStart;
    s.memoryEnd = s.programEnd;
    s.codeLoaded = 1;
    s.codeEnd = s.programEnd;
    const std::string sum = Hex4(SumImage(s, s.programStart, s.programEnd));
    result += sum;
    ctx.window.SetText(id::kChecksumField, sum);
  }
  SetStatus(ctx, result);
}

}  // namespace kovra
