// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/settings.h"
#include "app/views.h"
#include "base/control_ids.h"
#include "base/host_timing.h"
#include "chips/chip_list.h"
#include "chips/target_rules.h"
#include "image/code_image.h"
#include "link/programmer_link.h"

namespace kovra {

namespace {

void InitializeControls(AppContext& ctx) {
  AppState& s = ctx.state;
  MainWindow& w = ctx.window;

  FillChipCombo(ctx);
  w.SetChecked(id::kDataSam48, true);
  w.SetEnabled(id::kDataCalmRisc, false);
  w.SetText(id::kSuccessCount, "00000");
  w.SetText(id::kFailureCount, "00000");

  w.SetChecked(id::kDebugMode, true);
  w.SetChecked(id::kBuzzer, true);
  s.controlFlags |= kFlagBuzzerOn;

  s.memoryRewritten = 0;
  s.connected = 0;
  s.codeLoaded = 0;
  s.linkReady = 0;
  s.linkError = 0;
  s.linkPressed = 0;
  s.codeViewReady = 0;
  s.interruptRequested = 0;

  ShowCodeView(w, false);
  s.fillZero = 0;
  ResetImageToFill(s);
  LoadSettings(ctx);

  w.SetText(id::kStartAddress, "0000");
  w.SetText(id::kEndAddress, "1FFF");
  w.SetEnabled(id::kVppField, false);
  w.SetEnabled(id::kVccField, false);
  s.memoryStart = 0;
  s.memoryEnd = 0x1FFF;
  s.failureCount = 0;
  s.successCount = 0;
  ApplyChipSelection(ctx);

  w.SetTimer(kMainTimer, kFirstTickMs);
  s.firstTickDone = 0;
  w.SetText(id::kStatusLine, kWelcomeText);
}

}  // namespace

void InitializeMainWindow(AppContext& ctx) {
  LoadChipList(ctx);
  InitializeControls(ctx);
}

bool InitializeWithChipList(AppContext& ctx, const std::string& chipListPath) {
  const bool loaded = LoadChipListFile(chipListPath, ctx.state);
  InitializeControls(ctx);
  return loaded;
}

}  // namespace kovra
