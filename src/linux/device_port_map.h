// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/port_map.h"

namespace kovra::linux_platform {

// The one port named on the command line, any tty: it is both the device
// and the port, listed while its device node is there (a pseudo-terminal's
// goes when its far side closes, a USB bridge's when it is unplugged) and
// leads to the device it led to when first listed. A replugged bridge may
// come back as another /dev/ttyUSBn and its old name go to another socket's
// programmer, which is not listed then. The device is the USB interface the
// bridge sits on (from sysfs), which is what a /dev/serial/by-path name
// names; a tty without one, a pseudo-terminal, is taken as named.
class DevicePortMap : public PortMap {
 public:
  explicit DevicePortMap(std::string path, std::filesystem::path sysfs = "/sys");
  std::vector<BridgePort> Scan() override;
  bool Listed(std::string_view device) override;
  std::string Canonical(std::string_view port) override;
  std::string Refusal() override;

 private:
  // The device the name leads to now: the USB interface, or "" for a tty
  // without one; nullopt when the name leads to no character device.
  std::optional<std::string> DeviceNow() const;

  std::string path_;
  std::filesystem::path sysfs_;
  std::optional<std::string> first_;
};

}  // namespace kovra::linux_platform
