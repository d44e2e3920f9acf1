// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "base/app_context.h"

namespace kovra {

// Every byte of the image becomes the fill byte (0x00 after F9, else 0xFF).
void ResetImageToFill(AppState& state);

// 16-bit sum of the image bytes first..last; 0 when first > last. Addresses
// past the image count as nothing.
uint16_t SumImage(const AppState& state, uint32_t first, uint32_t last);

// Writes SumImage(programStart, programEnd) into the checksum field.
void ShowImageChecksum(AppContext& ctx);

}  // namespace kovra
