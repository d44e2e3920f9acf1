// SPDX-License-Identifier: MIT
#include "ops/download.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "image/code_image.h"
#include "image/code_loader.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "ops/memory_ops.h"

namespace kovra {
namespace {

void ShowLoadedRange(AppContext& ctx) {
  ctx.window.SetText(id::kStartAddress, "0000");
  ctx.window.SetText(id::kEndAddress, Hex4(ctx.state.programEnd));
}

}  // namespace

void DownloadImage(AppContext& ctx) {
  AppState& s = ctx.state;
  s.linkError = 0;
  LoadCodeFile(ctx);
  if (s.linkError) {
    s.outcome.Fail(Failure::kFileError);
    // The image no longer holds what was confirmed, and in debug mode the
    // image is the programming memory.
    s.codeLoaded = 0;
    return;
  }
  s.memoryRewritten = 0;
  DownloadLoadedImage(ctx);
}

void DownloadLoadedImage(AppContext& ctx) {
  AppState& s = ctx.state;
  s.linkError = 0;
  s.programStart = 0;
  s.programEnd = s.codeEnd;
  if (DebugMode(ctx)) {
    s.memoryStart = s.programStart;
    s.codeLoaded = 1;
    s.memoryEnd = s.programEnd;
    ShowLoadedRange(ctx);
    MemoryChecksum(ctx);
    return;
  }

  ResetRequestFrame(ctx);
  const uint16_t sum = SumImage(s, 0, s.programEnd);
  s.requestFrame.SetChecksum(sum);
  if (!SendCommand(ctx, cmd::kInitMemory)) return;
  SetStatus(ctx, "正在初始化编程存储器,该过程约需几秒时间,请耐心等候......");
  if (!ReadRomOk(ctx, sizes::kAnswer, tries::kInitForDownload)) {
    SetStatus(ctx, "初始化编程存储器失败!请尝试重新下载初始化!");
    return;
  }

  ctx.clock.SleepMs(pause::kAfterInitMs);
  s.requestFrame.SetRange(s.programStart, s.programEnd);
  s.requestFrame.SetChecksum(SumImage(s, s.programStart, s.programEnd));
  if (!SendCommand(ctx, cmd::kDownload)) {
    s.linkError = 1;
    SetStatus(ctx, "编程代码下载失败![编程器无回应,可能正忙,请稍候再试]");
    return;
  }
  SendImageBytes(ctx, s.programStart, s.programEnd);
  if (s.interruptRequested) {
    s.outcome.Fail(Failure::kInterrupted);
    return;
  }
  if (s.linkError) {
    SetStatus(ctx, "代码下载过程出错!请尝试重新下载该代码");
    return;
  }

  ctx.clock.SleepMs(pause::kAfterDownloadMs);
  ShowLoadedRange(ctx);
  MemoryChecksum(ctx);
  if (s.linkError) return;
  // Exchanged bytes, or bit flips that cancel out, keep a 16-bit sum: every
  // chip would be programmed from that memory and verified against it.
  const std::string checksumText = ctx.window.GetText(id::kStatusLine);
  if (const std::optional<uint32_t> differs = FirstMemoryDifference(ctx, s.programEnd)) {
    // A read that failed has said so.
    if (!s.linkError) {
      s.outcome.FailAt(Failure::kMemoryDiffers, *differs);
      SetStatus(ctx, "编程内存与代码文件不符,在地址: " + Hex5(*differs) + "!请尝试重新下载该代码");
    }
    s.linkError = 1;
    return;
  }
  SetStatus(ctx, checksumText);
  s.codeLoaded = 1;
}

void SendImageBytes(AppContext& ctx, uint32_t first, uint32_t last) {
  AppState& s = ctx.state;
  s.linkError = 0;
  s.interruptRequested = 0;
  if (first > last) return;
  uint32_t address = first;
  uint32_t reference = first;
  uint32_t previousChunk = 0;
  uint32_t sinceText = 0;

  while (address <= last) {
    if (s.interruptRequested) {
      SetStatus(ctx, kTextDownloadInterrupted);
      return;
    }
    if (sinceText >= 128) {
      SetStatus(ctx, "[双击这里中断下载] 下载代码到编程器内存,发送数据地址:  " + Hex5(address));
      ReportProgress(ctx, "download", address, first, last);
      sinceText = 0;
    }
    // Around every page boundary the programmer writes its page and shows
    // DSR until it is ready again.
    if (((address + previousChunk) ^ reference) & 0xFF00) {
      ctx.clock.SleepMs(pause::kPageMs);
      if (!WaitDsrOff(ctx, tries::kDsrBeforePage)) {
        s.linkError = 1;
        SetStatus(ctx, "通信异常中断!");
        break;
      }
      reference = address;
    }
    const uint32_t offset = address & 0xFF;
    const uint32_t chunk = std::min(offset <= 0xF7 ? 8 : 256 - offset, kImageSize - address);
    const size_t written = WriteBytes(ctx, s.codeImage.data() + address, chunk);
    if (s.linkError) break;
    address += static_cast<uint32_t>(written);
    sinceText += static_cast<uint32_t>(written);
    previousChunk = chunk;
  }

  if (s.interruptRequested) {
    SetStatus(ctx, kTextDownloadInterrupted);
    return;
  }
  if (!s.linkError && address >= last) return;
  s.autoRunState = 0;
  s.linkError = 1;
  SetStatus(ctx, kTextLinkError);
}

std::optional<uint32_t> FirstMemoryDifference(AppContext& ctx, uint32_t last) {
  AppState& s = ctx.state;
  std::vector<uint8_t> buffer(sizes::kReadback);
  for (uint32_t address = 0; address <= last;) {
    SetStatus(ctx, std::string(kTextComparingMemory) + ",  地址: " + Hex5(address));
    ReportProgress(ctx, "compare memory", address, 0, last);
    const uint32_t blockEnd = std::min(address + sizes::kReadbackBlock - 1, last);
    ReadBlock(ctx, cmd::kReadMemoryBlock, buffer.data(), buffer.size(), address, blockEnd);
    if (s.linkError) return address;
    const auto read = buffer.begin() + (blockEnd - address + 1);
    const auto differs = std::mismatch(buffer.begin(), read, s.codeImage.begin() + address).first;
    if (differs != read) return address + static_cast<uint32_t>(differs - buffer.begin());
    address = blockEnd + 1;
  }
  return std::nullopt;
}

bool AdoptMemoryHoldingImage(AppContext& ctx) {
  AppState& s = ctx.state;
  // A 16-bit sum is no proof: other code with the same sum would be
  // programmed and verified against. Only the bytes themselves are.
  if (FirstMemoryDifference(ctx, s.codeEnd)) {
    s.linkError = 0;
    return false;
  }
  s.programStart = 0;
  s.programEnd = s.codeEnd;
  s.memoryStart = 0;
  s.memoryEnd = s.programEnd;
  ShowLoadedRange(ctx);
  const std::string sum = Hex4(SumImage(s, 0, s.programEnd));
  ctx.window.SetText(id::kChecksumField, sum);
  SetStatus(ctx, "编程内存检查和 =  " + sum);
  s.codeLoaded = 1;
  return true;
}

void ReconfirmMemory(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!s.memoryToReconfirm) return;
  if (DebugMode(ctx)) {
    s.memoryToReconfirm = 0;
    return;
  }
  s.busy = 1;
  ctx.window.RefreshCursor();
  ResetRequestFrame(ctx);
  const bool same = AdoptMemoryHoldingImage(ctx);
  // A link lost again meanwhile leaves it for the next reconnect.
  if (s.connected) {
    s.memoryToReconfirm = 0;
    if (!same) {
      // Code of another PC's: the master, which would overwrite it, asks
      // for it to be saved first.
      s.memoryRewritten = 1;
      SetStatus(ctx, "编程器内存中的代码已改变,请重新下载代码");
    }
  }
  LowerBusy(ctx);
  ctx.window.RefreshCursor();
}

}  // namespace kovra
