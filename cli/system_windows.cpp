// SPDX-License-Identifier: MIT
#include <windows.h>

#include "base/text_helpers.h"
#include "cli/system.h"
#include "link/programmer_link.h"
#include "link/registry_port_map.h"
#include "win32/wide_text.h"
#include "win32/win32_program_folder.h"
#include "win32/win32_record_file.h"
#include "win32/win32_registry.h"
#include "win32/win32_serial_journal.h"
#include "win32/win32_serial_port.h"

namespace kovra::cli {
namespace {

// The serial port map's value that holds `port`, whatever driver put it
// there.
std::optional<std::string> MapValueOf(const std::string& port) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Widen(kSerialMapKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::string> found;
  for (DWORD index = 0; !found; ++index) {
    wchar_t name[256];
    wchar_t data[64];
    DWORD nameLength = std::size(name);
    DWORD dataBytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result =
        RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataBytes / sizeof(wchar_t)] = L'\0';
    if (ToUpperAscii(win32::Narrow(data)) == ToUpperAscii(port)) found = win32::Narrow(name);
  }
  RegCloseKey(key);
  return found;
}

// A port named on the command line: listed while the serial port map
// still holds it.
class NamedPortMap : public PortMap {
 public:
  explicit NamedPortMap(std::string port) : port_(std::move(port)) {}
  std::vector<BridgePort> Scan() override {
    auto value = MapValueOf(port_);
    if (!value) return {};
    return {{*value, ToUpperAscii(port_)}};
  }
  bool Listed(std::string_view device) override { return registry_.Listed(device); }
  std::string Canonical(std::string_view port) override { return registry_.Canonical(port); }

 private:
  std::string port_;
  win32::Win32Registry system_;
  RegistryPortMap registry_{system_};
};

}  // namespace

std::vector<BridgePort> BridgePorts() {
  win32::Win32Registry registry;
  return RegistryPortMap(registry).Scan();
}

std::optional<std::string> PortProblem(const std::string& name) {
  const std::string upper = ToUpperAscii(name);
  if (upper.size() < 4 || !upper.starts_with("COM") || upper.find_first_not_of("0123456789", 3) != std::string::npos) {
    return name + " is no COM port name (COM1, COM2, ...)";
  }
  if (!MapValueOf(name)) return name + " is not a serial port (the system's serial port map does not list it)";
  return std::nullopt;
}

std::string PortIdentity(const std::string& name) { return ToUpperAscii(name); }

SystemPort OpenSystemPort(const std::string& name) {
  return {ToUpperAscii(name), std::make_unique<win32::Win32SerialPort>(), std::make_unique<NamedPortMap>(name)};
}

std::unique_ptr<RecordFile> SystemRecordFile() { return std::make_unique<win32::Win32RecordFile>(); }

std::unique_ptr<SerialJournal> OpenSerialJournal(const std::string& path, std::string& error) {
  return win32::Win32SerialJournal::Open(path, error);
}

std::string HostName() { return win32::ComputerName(); }

std::string StateFolder() { return win32::LocalStateFolder(); }

std::string ExecutableFolder() { return win32::Win32ProgramFolder().Path().value_or(""); }

// The progress lines redraw with escape sequences, which a console shows
// only with its virtual terminal on.
bool PrepareErrorTerminal() {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(error, &mode)) return false;
  return SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace kovra::cli
