// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "base/app_context.h"
#include "base/chip_record.h"

namespace kovra {

enum class ChipType { kOtp, kMtp };

// The address fields' range is clamped to the selected chip's ROM end, but
// never below this, so that a range beyond a small chip's ROM reaches its
// check. A download takes its range from the code instead (up to FFFFFH).
inline constexpr uint32_t kLowestRangeLimit = 0x7FFF;

// Brings chip type, voltages, options and the end address in line with the
// chip selected in the combo box. Row 0 (no chip) leaves every choice open.
void ApplyChipSelection(AppContext& ctx);

// The programming-system options each chip type offers and ticks.
void ApplyChipTypeDefaults(AppContext& ctx, ChipType type);

// The highest ROM address, from the 7th character of the chip's name.
uint32_t ChipRomEnd(const ChipRecord& chip);
uint32_t ChipRomEnd(AppContext& ctx);

// Takes programStart and programEnd from the two address fields. It stops
// at a field holding a non-hexadecimal character, which leaves that end of
// the range as it was (programStart may already be updated).
void CaptureAddressRange(AppContext& ctx);

// Which check before programming stopped it, for a caller that says why in
// words of its own.
enum class TargetRefusal { kNone, kMtpWithoutSmart, kWrongVdd, kBeyondRom, kCodeBeyondRange };

// Checks before programming and before making an offline master; asks the
// user where a mismatch may be intended (also a range that ends before the
// code does). False: do not go on; `refusal`, when given, gets the check.
bool ValidateTarget(AppContext& ctx, TargetRefusal* refusal = nullptr);

// A range that ends before the code does would program, verify, count or
// configure a chip that lacks the rest: never without the operator's word.
bool RangeCoversCode(AppContext& ctx);

// Shows the voltage of the Vcc (116, 117) or Vpp (201, 202, 203) radio
// just clicked in its display field. Other ids are ignored.
void ApplyVoltageRadio(AppContext& ctx, int controlId);

}  // namespace kovra
