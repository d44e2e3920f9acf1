// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "base/app_context.h"

namespace kovra {

void ChipChecksum(AppContext& ctx);
void BlankCheck(AppContext& ctx);
void VerifyChip(AppContext& ctx);
void VerifyByReadback(AppContext& ctx);
void ProgramFromMemory(AppContext& ctx);
void ProgramFromImage(AppContext& ctx);
// Erase MTP (4), SMART (6), read (7), LDC (8), hardware write protection (9).
void ApplyChipSetting(AppContext& ctx, uint8_t code);

}  // namespace kovra
