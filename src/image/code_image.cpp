// SPDX-License-Identifier: MIT
#include "image/code_image.h"

#include <algorithm>

#include "base/control_ids.h"
#include "base/text_helpers.h"

namespace kovra {

void ResetImageToFill(AppState& state) {
  // A byte-typed value lets the fill become one memset.
  const uint8_t fill = state.fillZero ? 0x00 : 0xFF;
  std::fill(state.codeImage.begin(), state.codeImage.end(), fill);
}

uint16_t SumImage(const AppState& state, uint32_t first, uint32_t last) {
  if (first > last || first >= kImageSize) return 0;
  last = std::min(last, kImageSize - 1);
  uint32_t sum = 0;
  for (uint32_t a = first; a <= last; ++a) sum += state.codeImage[a];
  return static_cast<uint16_t>(sum);
}

void ShowImageChecksum(AppContext& ctx) {
  ctx.window.SetText(id::kChecksumField, Hex4(SumImage(ctx.state, ctx.state.programStart, ctx.state.programEnd)));
}

}  // namespace kovra
