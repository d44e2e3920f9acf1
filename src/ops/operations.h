// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>

#include "base/app_context.h"

namespace kovra {

// What the window's buttons and keys start. The request frame carries the
// identifier until the operation sends a command of its own, so the values
// are part of the frame's first build.
enum class Op : uint8_t {
  kChipChecksum = 2,
  kBlankCheck = 3,
  kEraseMtp = 4,
  kVerifyChip = 5,
  kEnableSmart = 6,
  kReadProtect = 7,
  kLdcProtect = 8,
  kHwWriteProtect = 9,
  kProgramFromMemory = 11,
  kMemoryChecksum = 13,
  kDownload = 14,
  kCopyChip = 16,
  kProgramFromImage = 19,
  kInitMemory = 20,
  kMakeMaster = 21,
  kAutoProgram = 23,
  kSaveHex = 24,
  kOpenAndDownload = 27,
  // The code view's page requests.
  kPageShow = 30,
  kPageGoTo = 31,
  kPageAscii = 32,
  kPagePrevious = 33,
  kPageNext = 34,
  kPageFromMemory = 35,
  kPageFromChip = 36,
};

// An operation's command when it sends none of its own or several.
inline constexpr uint8_t kNoCommand = 0;

struct Operation {
  Op id;
  uint8_t command;  // its command on the wire (cmd::), or kNoCommand
  const char* name;
  bool counts = false;    // its outcome goes to the production counters
  bool needsLink = true;  // StartOperation refuses it while the programmer is not connected
  void (*run)(AppContext& ctx, const Operation& op) = nullptr;
};

std::span<const Operation> Operations();

// One step of an automatic run: its name (as the command line and the
// production record write it), the operation it runs in normal and in
// debug mode, and whether the options ask for it.
struct AutoStep {
  const char* name;
  Op memoryVariant;
  Op imageVariant;
  uint32_t optionBit;  // 0: always
  bool mtpOnly;
};

// In the order a run takes them.
std::span<const AutoStep> AutoSteps();
// Whether a run with these options on this chip type takes the step.
bool StepRuns(const AutoStep& step, uint32_t optionMask, bool mtp);
// nullptr for an identifier that is no operation.
const Operation* FindOperation(uint8_t identifier);

}  // namespace kovra
