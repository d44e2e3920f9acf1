#pragma once

#include "base/app_state.h"
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
};

}  // namespace kovra
