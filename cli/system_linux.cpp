// SPDX-License-Identifier: MIT
#include <unistd.h>

#include <filesystem>

#include "cli/system.h"
#include "linux/device_port_map.h"
#include "linux/linux_serial_port.h"
#include "linux/posix_record_file.h"
#include "linux/posix_serial_journal.h"
#include "linux/sysfs_port_map.h"

namespace kovra::cli {
namespace {

// Opens only what its map lists: a name that now leads to another socket's
// programmer is not even opened.
class NamedSerialPort : public linux_platform::LinuxSerialPort {
 public:
  explicit NamedSerialPort(PortMap& map) : map_(map) {}
  bool Open(std::string_view name) override {
    if (map_.Listed(name)) return LinuxSerialPort::Open(name);
    Close();
    return false;
  }

 private:
  PortMap& map_;
};

}  // namespace

std::vector<BridgePort> BridgePorts() { return linux_platform::SysfsPortMap().Scan(); }

std::optional<std::string> PortProblem(const std::string& name) {
  if (auto problem = linux_platform::SerialPortProblem(name)) return name + ": " + *problem;
  return std::nullopt;
}

std::string PortIdentity(const std::string& name) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(name, error);
  return error ? name : real.string();
}

SystemPort OpenSystemPort(const std::string& name) {
  auto map = std::make_unique<linux_platform::DevicePortMap>(name);
  auto serial = std::make_unique<NamedSerialPort>(*map);
  return {name, std::move(serial), std::move(map)};
}

std::unique_ptr<RecordFile> SystemRecordFile() { return std::make_unique<linux_platform::PosixRecordFile>(); }

std::unique_ptr<SerialJournal> OpenSerialJournal(const std::string& path, std::string& error) {
  return linux_platform::PosixSerialJournal::Open(path, error);
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::filesystem::path folder;
  if (state && *state == '/') {
    folder = state;
  } else if (home && *home == '/') {
    folder = std::filesystem::path(home) / ".local" / "state";
  } else {
    return {};
  }
  folder /= "kovra";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return std::filesystem::is_directory(folder, error) ? folder.string() : std::string();
}

std::string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

bool PrepareErrorTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace kovra::cli
