// SPDX-License-Identifier: MIT
#include "app/counters.h"

#include "base/control_ids.h"
#include "base/text_helpers.h"

namespace kovra {
namespace {

void ShowPaused(AppContext& ctx, bool paused) {
  ctx.window.SetText(id::kPauseCounting, paused ? "开始计数" : "暂停计数");
  ctx.window.SetEnabled(id::kSuccessCount, !paused);
  ctx.window.SetEnabled(id::kFailureCount, !paused);
}

}  // namespace

void ClearCounters(AppContext& ctx) {
  const MbAnswer answer = ctx.window.ShowMessageBox(
      {"计数器将被清零!确定吗?", "确 认", MbButtons::kOkCancel, MbIcon::kQuestion, /*defaultButton=*/1});
  if (answer != MbAnswer::kOk) return;
  ctx.window.SetText(id::kSuccessCount, "00000");
  ctx.window.SetText(id::kFailureCount, "00000");
  ctx.state.successCount = 0;
  ctx.state.failureCount = 0;
}

void TogglePauseCounting(AppContext& ctx) {
  const uint32_t flags = ctx.state.controlFlags ^= kFlagCountingPaused;
  ShowPaused(ctx, (flags & kFlagCountingPaused) != 0);
}

uint32_t CounterFromText(std::string_view text) {
  const std::string six = FitDigits(text.substr(text.size() > 15 ? text.size() - 15 : 0), 6);
  const uint32_t value = HexToNumber(six, 10);
  return value == kBadNumber ? 0 : value;
}

void RunSetCount(AppContext& ctx) {
  AppState& s = ctx.state;
  CounterSettings settings{ctx.window.GetText(id::kSuccessCount).substr(0, 15),
                           ctx.window.GetText(id::kFailureCount).substr(0, 15), s.failureCountMask};
  const auto result = ctx.window.ShowSetCount(settings);
  if (!result) return;
  s.successCount = CounterFromText(result->successText);
  s.failureCount = CounterFromText(result->failureText);
  ctx.window.SetText(id::kSuccessCount, Decimal(s.successCount, 6));
  ctx.window.SetText(id::kFailureCount, Decimal(s.failureCount, 6));
  s.controlFlags &= ~kFlagCountingPaused;
  s.failureCountMask = result->failureMask;
  ShowPaused(ctx, false);
}

}  // namespace kovra
