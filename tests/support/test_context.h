// SPDX-License-Identifier: MIT
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/headless_window.h"
#include "base/app_context.h"
#include "link/link_worker.h"
#include "link/registry_port_map.h"
#include "platform/memory_registry.h"
#include "platform/no_serial_port.h"
#include "support/scripted_window.h"
#include "support/store_doubles.h"
#include "support/virtual_clock.h"

namespace kovra::test {

// Records every beep. Given a clock, a beep also holds its caller for the
// tone's length, as the speaker does, so that timings include it.
class RecordingSound : public Sound {
 public:
  void Beep(uint32_t frequencyHz, uint32_t durationMs) override {
    beeps.emplace_back(frequencyHz, durationMs);
    if (clock != nullptr) clock->SleepMs(durationMs);
  }
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  Clock* clock = nullptr;
};

// File dialogs answered by the test: each call takes the next queued answer
// (nullopt = Cancel) and records the filter it was shown with.
class ScriptedDialogs : public FileDialogs {
 public:
  std::optional<std::string> ChooseOpenFile(std::string_view filter) override { return Next(filter); }
  std::optional<std::string> ChooseSaveFile(std::string_view filter) override { return Next(filter); }
  void Answer(std::optional<std::string> path) { answers.push_back(std::move(path)); }

  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> filters;

 private:
  std::optional<std::string> Next(std::string_view filter) {
    filters.emplace_back(filter);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// A fresh application world for one test.
struct TestWorld {
  AppState state;
  ScriptedWindow window;
  LockableRegistry registry;
  VirtualClock clock;
  RecordingSound sound;
  ScriptedDialogs dialogs;
  NoSerialPort port;
  RegistryPortMap portMap{registry};
  LinkWorker worker;
  FixedProgramFolder programFolder;
  RefusingRecordFile records;
  AppContext ctx{state, window, registry, clock, sound, dialogs, port, portMap, worker, programFolder, records};
};

}  // namespace kovra::test
