// SPDX-License-Identifier: MIT
#include "ops/production_counters.h"

#include "base/control_ids.h"
#include "base/text_helpers.h"

namespace kovra {
namespace {

bool CountingPaused(const AppState& s) { return (s.controlFlags & kFlagCountingPaused) != 0; }

}  // namespace

void CountSuccess(AppContext& ctx) {
  AppState& s = ctx.state;
  if (CountingPaused(s)) return;
  ctx.window.SetText(id::kSuccessCount, Decimal(++s.successCount, 6));
}

void CountFailure(AppContext& ctx) {
  AppState& s = ctx.state;
  if (s.autoRunState == 0 || CountingPaused(s)) return;
  ctx.window.SetText(id::kFailureCount, Decimal(++s.failureCount, 5));
}

}  // namespace kovra
