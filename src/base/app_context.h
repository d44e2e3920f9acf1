// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "base/app_state.h"
#include "base/control_ids.h"
#include "base/outcome.h"
#include "base/serial_number.h"
#include "platform/clock.h"
#include "platform/file_dialogs.h"
#include "platform/main_window.h"
#include "platform/port_map.h"
#include "platform/program_folder.h"
#include "platform/record_file.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "platform/sound.h"

namespace kovra {

class LinkWorker;

// What every piece of logic works on: the state record and the outside
// world. Built once by the application, fresh by every test.
struct AppContext {
  AppState& state;
  MainWindow& window;
  Registry& registry;
  Clock& clock;
  Sound& sound;
  FileDialogs& dialogs;
  SerialPort& port;
  PortMap& portMap;
  LinkWorker& worker;
  ProgramFolder& programFolder;
  RecordFile& records;
  // Whoever follows the operations' progress besides the status line.
  ProgressListener* progress = nullptr;
  // With a source, each automatic run in debug mode gives the chip its own
  // number, at the state's serialAddress.
  SerialSource* serials = nullptr;
};

// The status line, where every operation says how it goes.
inline void SetStatus(AppContext& ctx, std::string_view text) { ctx.window.SetText(id::kStatusLine, text); }

inline void ReportProgress(AppContext& ctx, const char* operation, uint32_t address, uint32_t start, uint32_t end) {
  if (ctx.progress) ctx.progress->OnProgress({operation, address, start, end});
}

}  // namespace kovra
