#pragma once

#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/control_ids.h"
#include "app/headless_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "platform/memory_registry.h"
#include "support/sample_files.h"
#include "support/sim_serial_port.h"
#include "support/test_context.h"
#include "support/virtual_clock.h"

namespace kovra::test {

inline constexpr const char* kScenarioChipList =
    "NOSELEC OTP 0 VCC 5V 1\n"
    "KV86P48 OTP 0 12V 5V 1\n"   // 8 KiB OTP, 12 V, 5 V part
    "KV88M48 MTP 0 VCC 5V 1\n";  // 8 KiB MTP

// The application's logic with the simulated programmer on a bridge at
// COM5, after the window's start-up, all in virtual time.
struct SimWorld {
  explicit SimWorld(std::string savedChip = "KV86P48", std::string savedPort = "COM5") {
    dir.Write("samlist.txt", kScenarioChipList);
    registry.WriteString(kSettingsKey, "setup", dir.path().string());
    registry.WriteString(kSettingsKey, "chip", savedChip);
    registry.WriteString(kSettingsKey, "com", savedPort);
    InitializeMainWindow(ctx);
  }

  std::string Status() { return window.GetText(id::kStatusLine); }
  // The first connect, as the first timer tick runs it.
  void ConnectNow() {
    OnTimerTick(ctx);
    worker.WaitIdle();
  }
  // One later tick: a supervision pass while nothing is busy.
  void Tick() {
    OnTimerTick(ctx);
    worker.WaitIdle();
  }
  // Starts an operation as a button does and waits until it has ended.
  void Run(uint8_t code) {
    StartOperation(ctx, code);
    worker.WaitIdle();
  }
  // The frames (21 bytes each) the programmer received, in order.
  std::vector<std::vector<uint8_t>> Frames() {
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& entry : rig.programmer.Log()) {
      if (entry.kind == sim::LogEntry::Kind::kFromHost && entry.what.starts_with("frame")) frames.push_back(entry.bytes);
    }
    return frames;
  }

  TempDir dir;
  AppState state;
  HeadlessWindow window;
  MemoryRegistry registry;
  VirtualClock clock;
  RecordingSound sound;
  ScriptedDialogs dialogs;
  SimRig rig{clock, registry};
  LinkWorker worker;
  FixedProgramFolder programFolder;
  AppContext ctx{state, window, registry, clock, sound, dialogs, rig.port, worker, programFolder};
};

}  // namespace kovra::test
