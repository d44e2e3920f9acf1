// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "base/app_context.h"
#include "base/host_timing.h"

namespace kovra {

// Command codes on the wire.
namespace cmd {
inline constexpr uint8_t kChipChecksum = 0x02;
inline constexpr uint8_t kBlankCheck = 0x03;
inline constexpr uint8_t kEraseMtp = 0x04;
inline constexpr uint8_t kVerifyChip = 0x05;
inline constexpr uint8_t kEnableSmart = 0x06;
inline constexpr uint8_t kReadProtect = 0x07;
inline constexpr uint8_t kLdcProtect = 0x08;
inline constexpr uint8_t kHwWriteProtect = 0x09;
inline constexpr uint8_t kReadChipBlock = 0x0A;
inline constexpr uint8_t kProgramFromMemory = 0x0B;
inline constexpr uint8_t kInitMemory = 0x0C;
inline constexpr uint8_t kMemoryChecksum = 0x0D;
inline constexpr uint8_t kDownload = 0x0E;
inline constexpr uint8_t kReadMemoryBlock = 0x0F;
inline constexpr uint8_t kCopyChipToMemory = 0x10;
inline constexpr uint8_t kOfflineConfig = 0x11;
inline constexpr uint8_t kProgramFromStream = 0x13;
}  // namespace cmd

// Stores the code in the frame and runs the connection check. A command
// that rewrites the programming memory clears codeLoaded first.
bool SendCommand(AppContext& ctx, uint8_t code);

// The answer readers. Both return 0 once linkError is set.
uint16_t ReadWord16(AppContext& ctx);
uint32_t ReadProgressAddress(AppContext& ctx);

// Acknowledgement after the frame; a fault answer is reported. True when
// linkError stayed clear.
bool ReadAcknowledgement(AppContext& ctx, size_t bufferSize = sizes::kAnswer, bool faultCheck = true);

enum class Verdict { kOk, kNo, kFault, kOther };
// Exactly "OK" clears linkError; everything else sets it, and a fault
// answer is reported when faultCheck is on.
Verdict ReadVerdict(AppContext& ctx, size_t bufferSize, uint32_t tries, bool faultCheck = true);
// Exactly "ROMOK".
bool ReadRomOk(AppContext& ctx, size_t bufferSize, uint32_t tries);

// Reads progress addresses until the command's end is reached or the
// programmer falls silent, showing each as statusText + ",  地址: " + five
// digits. Returns the last address reached. The closing read of the
// command (checksum word, verdict) is the caller's.
uint32_t RunProgressPhase(AppContext& ctx, uint8_t code, uint32_t start, uint32_t end, const std::string& statusText);

// "reached" for a progress command: 0x03 and 0x05 pass the end, the others
// reach it.
bool ProgressReached(uint8_t code, uint32_t address, uint32_t end);

}  // namespace kovra
