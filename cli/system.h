// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/line.h"
#include "platform/port_map.h"
#include "platform/record_file.h"
#include "platform/serial_journal.h"

// What the command line needs from the system it runs on; one file per
// system implements it.
namespace kovra::cli {

// The bridge's ports the system lists now, in its order.
std::vector<BridgePort> BridgePorts();
// Why `name` cannot be a programmer's port, found out without sending a
// byte; nullopt when it can.
std::optional<std::string> PortProblem(const std::string& name);
// Equal for two names of the same port.
std::string PortIdentity(const std::string& name);
// The system's serial port for `name`, and a map that lists just that port
// for as long as the system has it.
struct SystemPort {
  std::string name;
  std::unique_ptr<SerialPort> serial;
  std::unique_ptr<PortMap> map;

  StationPort Station(Clock& clock) { return {name, serial.get(), map.get(), &clock}; }
};
SystemPort OpenSystemPort(const std::string& name);
std::unique_ptr<RecordFile> SystemRecordFile();
// The journal of spent serial numbers at path, held by this process alone;
// nullptr and why when it cannot be.
std::unique_ptr<SerialJournal> OpenSerialJournal(const std::string& path, std::string& error);
// This computer's name, a station's name by default; empty when unknown.
std::string HostName();
// The folder for this user's lasting program state (a station's journal),
// made when missing: $XDG_STATE_HOME/kovra (~/.local/state/kovra), or
// %LOCALAPPDATA%\kovra. Empty when there is none.
std::string StateFolder();
// The folder of the running executable (UTF-8); empty when unknown.
std::string ExecutableFolder();
// Readies standard error for the progress lines (a Windows console gets
// its escape sequences turned on); true when it is a terminal that shows
// them.
bool PrepareErrorTerminal();

}  // namespace kovra::cli
