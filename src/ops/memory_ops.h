// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/app_context.h"

namespace kovra {

// An operation the operator declined, or a check stopped, before it began.
inline constexpr const char* kTextAborted = "操作已中止";

// Reads first..last of the chip (0x0A) or of the programming memory (0x0F)
// with the programmer's block checksum. linkError is 0 on success.
void ReadBlock(AppContext& ctx, uint8_t code, uint8_t* buffer, size_t size, uint32_t first, uint32_t last);

void MemoryChecksum(AppContext& ctx);
void InitMemory(AppContext& ctx);
void CopyChipToMemory(AppContext& ctx);
void CopyChipToImage(AppContext& ctx);

bool DebugMode(AppContext& ctx);
// Clears the frame and fills its common fields from the window.
void ResetRequestFrame(AppContext& ctx);
// Asks before the programming memory is overwritten by a chip copy.
bool ConfirmMemoryOverwrite(AppContext& ctx);

}  // namespace kovra
