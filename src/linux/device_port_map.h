#pragma once

#include <string>

#include "platform/port_map.h"

namespace kovra::linux_platform {

// The one port named on the command line, any tty: it is both the device
// and the port, listed while its device node is there (a pseudo-terminal's
// goes when its far side closes, a USB bridge's when it is unplugged).
class DevicePortMap : public PortMap {
 public:
  explicit DevicePortMap(std::string path) : path_(std::move(path)) {}
  std::vector<BridgePort> Scan() override;
  bool Listed(std::string_view device) override;
  std::string Canonical(std::string_view port) override;

 private:
  std::string path_;
};

}  // namespace kovra::linux_platform
