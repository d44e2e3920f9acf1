// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "base/app_context.h"
#include "ops/operations.h"

namespace kovra {

inline constexpr int kGridRows = 16;

// Once, before the first page is shown.
void SetupCodeView(AppContext& ctx);
// Works out the page the request asks for and shows it from the chip, the
// programming memory or (debug mode) the image.
void ShowCodePage(AppContext& ctx, Op request);
// A double-click on a cell: edits that byte of the image.
void EditCodeByte(AppContext& ctx, int row, int column);

}  // namespace kovra
