// SPDX-License-Identifier: MIT
#include "link/commands.h"

#include <cstring>
#include <vector>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "link/programmer_link.h"

namespace kovra {
namespace {

struct ProgressRule {
  uint8_t code;
  const char* name;  // in its progress events
  uint32_t pauseMs;
  bool startsAtStart;  // the last address starts at the start, not at 0
};

constexpr ProgressRule kProgressRules[] = {
    {cmd::kChipChecksum, "chip checksum", pause::kChipChecksumProgressMs, false},
    {cmd::kBlankCheck, "blank check", pause::kBlankCheckProgressMs, true},
    {cmd::kVerifyChip, "verify chip", pause::kVerifyProgressMs, true},
    {cmd::kProgramFromMemory, "program from memory", pause::kProgramProgressMs, true},
    {cmd::kMemoryChecksum, "memory checksum", pause::kMemoryChecksumProgressMs, false},
    {cmd::kCopyChipToMemory, "copy chip", pause::kCopyProgressMs, false},
};

const ProgressRule& RuleFor(uint8_t code) {
  for (const ProgressRule& rule : kProgressRules) {
    if (rule.code == code) return rule;
  }
  return kProgressRules[0];
}

// 0x0C, 0x0E and 0x10 replace the programming memory's contents.
bool RewritesMemory(uint8_t code) {
  return code == cmd::kInitMemory || code == cmd::kDownload || code == cmd::kCopyChipToMemory;
}

bool IsAnswer(const uint8_t* buffer, const char* word) { return std::memcmp(buffer, word, std::strlen(word) + 1) == 0; }

bool PassesEnd(uint8_t code) { return code == cmd::kBlankCheck || code == cmd::kVerifyChip; }

// The shape of a progress walk: each address beyond the one before (the
// first beyond the start), and none beyond end + 1, where a walk that
// passes the end stops.
bool PlausibleProgress(uint32_t address, uint32_t previous, uint32_t end) {
  return address > previous && address <= end + 1;
}

}  // namespace

bool SendCommand(AppContext& ctx, uint8_t code) {
  ctx.state.operationCode() = code;
  // Once such a frame may have reached the programmer, its memory holds no
  // confirmed code until the command's own checksum says so.
  if (RewritesMemory(code)) ctx.state.codeLoaded = 0;
  return CheckConnection(ctx);
}

uint16_t ReadWord16(AppContext& ctx) {
  uint8_t buffer[8];
  ReadAnswer(ctx, buffer, sizeof buffer, 2, tries::kWord);
  if (ctx.state.linkError) return 0;
  return static_cast<uint16_t>(buffer[0] << 8 | buffer[1]);
}

uint32_t ReadProgressAddress(AppContext& ctx) {
  uint8_t buffer[8];
  ReadAnswer(ctx, buffer, sizeof buffer, 3, tries::kProgressAddress);
  if (ctx.state.linkError) return 0;
  // A number, high byte first: from 10000H on its first byte is no text.
  return static_cast<uint32_t>(buffer[0]) << 16 | static_cast<uint32_t>(buffer[1]) << 8 | buffer[2];
}

bool ReadAcknowledgement(AppContext& ctx, size_t bufferSize, bool faultCheck) {
  std::vector<uint8_t> buffer(bufferSize);
  ReadAnswer(ctx, buffer.data(), buffer.size(), 2, tries::kAcknowledge);
  if (faultCheck && buffer[0] == 'E') ReportVoltageFault(ctx, buffer.data());
  return ctx.state.linkError == 0;
}

Verdict ReadVerdict(AppContext& ctx, size_t bufferSize, uint32_t tries, bool faultCheck) {
  std::vector<uint8_t> buffer(bufferSize);
  ReadAnswer(ctx, buffer.data(), buffer.size(), 2, tries);
  if (IsAnswer(buffer.data(), "OK")) {
    ctx.state.linkError = 0;
    return Verdict::kOk;
  }
  if (faultCheck && buffer[0] == 'E') {
    ReportVoltageFault(ctx, buffer.data());
    return Verdict::kFault;
  }
  ctx.state.linkError = 1;
  return IsAnswer(buffer.data(), "NO") ? Verdict::kNo : Verdict::kOther;
}

bool ReadRomOk(AppContext& ctx, size_t bufferSize, uint32_t tries) {
  std::vector<uint8_t> buffer(bufferSize);
  ReadAnswer(ctx, buffer.data(), buffer.size(), 5, tries);
  if (ctx.state.linkError || !IsAnswer(buffer.data(), "ROMOK")) {
    ctx.state.linkError = 1;
    return false;
  }
  return true;
}

bool ProgressReached(uint8_t code, uint32_t address, uint32_t end) {
  return PassesEnd(code) ? address > end : address >= end;
}

uint32_t RunProgressPhase(AppContext& ctx, uint8_t code, uint32_t start, uint32_t end, const std::string& statusText) {
  const ProgressRule& rule = RuleFor(code);
  uint32_t last = rule.startsAtStart ? start : 0;
  if (ProgressReached(code, start, end)) return last;
  // The programmer has done at least the first byte when it reports.
  uint32_t previous = start;
  for (;;) {
    if (rule.pauseMs) ctx.clock.SleepMs(rule.pauseMs);
    const uint32_t address = ReadProgressAddress(ctx);
    if (ctx.state.linkError) return last;
    // Space parity sees no flipped data bit, and a blank check or a verify
    // has no closing answer: a damaged address taken as such would pass a
    // chip the programmer never finished. An address out of the walk's
    // shape is damage, and a repeated one no progress.
    if (!PlausibleProgress(address, previous, end)) {
      ctx.state.linkError = 1;
      return last;
    }
    previous = address;
    last = address;
    ctx.window.SetText(id::kStatusLine, statusText + ",  地址: " + Hex5(last));
    ReportProgress(ctx, rule.name, last, start, end);
    if (ProgressReached(code, last, end)) return last;
  }
}

}  // namespace kovra
