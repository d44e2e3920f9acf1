// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/command_dispatch.h"
#include "app/headless_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "base/app_context.h"
#include "base/control_ids.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "link/registry_port_map.h"
#include "ops/run_operation.h"
#include "platform/memory_registry.h"
#include "support/sample_files.h"
#include "support/scripted_window.h"
#include "support/sim_serial_port.h"
#include "support/store_doubles.h"
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
  explicit SimWorld(std::string savedChip = "KV86P48", std::string savedPort = "COM5",
                    std::string_view chipList = kScenarioChipList, SimBridgeOptions bridge = {})
      : rig{clock, registry, std::move(bridge)} {
    dir.Write("samlist.txt", chipList);
    registry.WriteString(Hive::kMachine, kSettingsKey, "setup", dir.path().string());
    registry.WriteString(Hive::kMachine, kSettingsKey, "chip", savedChip);
    registry.WriteString(Hive::kMachine, kSettingsKey, "com", savedPort);
    InitializeMainWindow(ctx);
  }

  std::string Status() { return window.GetText(id::kStatusLine); }
  // One tick of the window's timers, run to its end: the first connects,
  // a later one is a supervision pass while nothing is busy.
  void Tick() {
    OnWindowTimer(ctx);
    worker.WaitIdle();
  }
  // Starts an operation as a button does and waits until it has ended.
  void Run(Op op) {
    StartOperation(ctx, op);
    worker.WaitIdle();
  }
  // The frames (21 bytes each) the programmer received, in order.
  std::vector<std::vector<uint8_t>> Frames() {
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& entry : rig.programmer.Log()) {
      if (entry.kind == sim::LogEntry::Kind::kFromHost && entry.what.starts_with("frame"))
        frames.push_back(entry.bytes);
    }
    return frames;
  }

  TempDir dir;
  AppState state;
  ScriptedWindow window;
  LockableRegistry registry;
  VirtualClock clock;
  RecordingSound sound;
  ScriptedDialogs dialogs;
  SimRig rig;
  RegistryPortMap portMap{registry};
  LinkWorker worker;
  FixedProgramFolder programFolder;
  RefusingRecordFile records;
  AppContext ctx{state, window, registry, clock, sound, dialogs, rig.port, portMap, worker, programFolder, records};
};

}  // namespace kovra::test
