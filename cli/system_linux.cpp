#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "cli/system.h"
#include "linux/device_port_map.h"
#include "linux/linux_serial_port.h"
#include "linux/sysfs_port_map.h"

namespace kovra::cli {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Each append is one write() to a file opened for appending, followed by
// fsync(): a killed program leaves whole rows, a power loss none half
// written that were reported written.
class PosixRecordFile : public RecordFile {
 public:
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override {
    std::lock_guard lock(mutex_);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string bytes;
    if (lseek(fd, 0, SEEK_END) == 0) bytes = header;
    bytes += rows;
    const bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
    return close(fd) == 0 && ok;
  }

 private:
  std::mutex mutex_;
};

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

std::unique_ptr<RecordFile> SystemRecordFile() { return std::make_unique<PosixRecordFile>(); }

std::string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace kovra::cli
