#pragma once

#include <cstdint>

#include "base/app_context.h"

namespace kovra {

// Page requests of the code view, by the operation code that carries them.
namespace page {
inline constexpr uint8_t kShow = 30;
inline constexpr uint8_t kGoTo = 31;
inline constexpr uint8_t kAscii = 32;
inline constexpr uint8_t kPrevious = 33;
inline constexpr uint8_t kNext = 34;
inline constexpr uint8_t kMemorySource = 35;
inline constexpr uint8_t kChipSource = 36;
}  // namespace page

inline constexpr int kGridRows = 16;

// Once, before the first page is shown.
void SetupCodeView(AppContext& ctx);
// Works out the page the request asks for and shows it from the chip, the
// programming memory or (debug mode) the image.
void ShowCodePage(AppContext& ctx, uint8_t code);
// A double-click on a cell: edits that byte of the image.
void EditCodeByte(AppContext& ctx, int row, int column);

}  // namespace kovra
