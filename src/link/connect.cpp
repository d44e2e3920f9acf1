// SPDX-License-Identifier: MIT
#include <optional>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/texts.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"

namespace kovra {

void PostBusyOperation(AppContext& ctx, std::function<void()> job) {
  ctx.worker.PostOperation(std::move(job), [&ctx] { ctx.state.busy = 1; });
}

void LowerBusy(AppContext& ctx) {
  ctx.worker.UnlessOperationQueued([&ctx] { ctx.state.busy = 0; });
}

void Connect(AppContext& ctx) {
  AppState& s = ctx.state;
  s.busy = 1;
  s.linkReady = 1;
  s.connected = 0;
  s.linkError = 0;
  ScanProlificPorts(ctx);

  // The presence check looks at currentPortName, so a bridge port found by
  // the scan connects only once it has become the current name: a saved
  // name that is no bridge port leaves the last bridge port behind for the
  // next attempt, one tick later.
  std::optional<std::string> candidate;
  if (OpenPort(ctx, s.currentPortName)) {
    s.connected = 1;
    candidate = s.currentPortName;
  } else {
    for (size_t row = 0; row < kPortRows && !s.portNames[row].empty(); ++row) {
      candidate = s.portNames[row];
      s.linkError = 0;
      bool opened = OpenPort(ctx, *candidate);
      if (!opened) {
        ctx.clock.SleepMs(pause::kReopenMs);
        opened = OpenPort(ctx, *candidate);
      }
      if (opened) {
        s.connected = 1;
        break;
      }
    }
  }

  LowerBusy(ctx);
  ctx.window.RefreshCursor();
  if (s.connected) {
    ctx.window.SetText(id::kStatusLine, kTextConnectedPrefix + ctx.portMap.Canonical(candidate.value_or("")));
  } else {
    s.autoRunState = 0;
    ctx.window.SetTimer(kRetryTimer, kTickMs);
    s.linkError = 1;
    ctx.window.SetText(id::kStatusLine, kTextLinkError);
  }
  if (candidate) s.currentPortName = *candidate;
}

void DropLink(AppContext& ctx) {
  AppState& s = ctx.state;
  s.connected = 0;
  s.linkReady = 0;
  // In debug mode the chips are programmed from the image, not the memory.
  if (s.codeLoaded && !ctx.window.IsChecked(id::kDebugMode)) {
    s.codeLoaded = 0;
    s.memoryToReconfirm = 1;
  }
}

void SuperviseLink(AppContext& ctx, AfterReconnect afterReconnect) {
  AppState& s = ctx.state;
  if (!s.connected) {
    s.quietConnect = 1;
    Connect(ctx);
    if (s.connected && afterReconnect) afterReconnect(ctx);
    return;
  }
  if (IsPortPresent(ctx)) return;
  s.linkError = 1;
  DropLink(ctx);
  ctx.window.ShowMessageBox({kTextPortLost, kWarningCaption, MbButtons::kOk, MbIcon::kWarning});
  ctx.window.SetText(id::kStatusLine, kTextReconnecting);
}

void ConnectAtStartup(AppContext& ctx) {
  ctx.window.SetText(id::kStatusLine, kTextConnecting);
  ctx.state.quietConnect = 0;
  Connect(ctx);
}

void OnTimerTick(AppContext& ctx, AfterReconnect afterReconnect) {
  AppState& s = ctx.state;
  if (!s.firstTickDone) {
    s.firstTickDone = 1;
    // The first connect runs on the link worker like every other use of
    // the port, so the window stays responsive while ports time out.
    ctx.worker.PostSupervision([&ctx] { ConnectAtStartup(ctx); });
    ctx.window.SetTimer(kMainTimer, kTickMs);
    return;
  }
  if (!s.busy) ctx.worker.PostSupervision([&ctx, afterReconnect] { SuperviseLink(ctx, afterReconnect); });
}

}  // namespace kovra
