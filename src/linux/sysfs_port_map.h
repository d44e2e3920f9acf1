// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>

#include "platform/port_map.h"

namespace kovra::linux_platform {

// The bridge's ports from sysfs: the ttys whose USB serial driver is
// pl2303, listed under their tty name ("ttyUSB0") and opened by a stable
// name of the socket (the package's "/dev/kovra/...-usb-0:2:1.0", else
// udev's "/dev/serial/by-path/...-usb-0:2:1.0-port0"), or by their device
// node ("/dev/ttyUSB0") when they have none. An
// unplugged bridge's entry goes away.
class SysfsPortMap : public PortMap {
 public:
  explicit SysfsPortMap(std::filesystem::path ttyClass = "/sys/class/tty", std::filesystem::path devices = "/dev");
  // In natural order of the port names (usb-0:2 before usb-0:10, ttyUSB2
  // before ttyUSB10), as the Windows map lists the bridge's ports by their
  // number.
  std::vector<BridgePort> Scan() override;
  bool Listed(std::string_view device) override;
  // Device paths are compared as they are.
  std::string Canonical(std::string_view port) override;

 private:
  std::filesystem::path ttyClass_;
  std::filesystem::path devices_;
};

}  // namespace kovra::linux_platform
