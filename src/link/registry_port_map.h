// SPDX-License-Identifier: MIT
#pragma once

#include "platform/port_map.h"
#include "platform/registry.h"

namespace kovra {

// The Windows serial port map (HKEY_LOCAL_MACHINE
// "HARDWARE\DEVICEMAP\SERIALCOMM"), read through the registry: the bridge's
// driver lists each port as "\Device\ProlificSerial" plus its number.
class RegistryPortMap : public PortMap {
 public:
  explicit RegistryPortMap(Registry& registry) : registry_(registry) {}
  std::vector<BridgePort> Scan() override;
  bool Listed(std::string_view device) override;
  std::string Canonical(std::string_view port) override;

 private:
  Registry& registry_;
};

}  // namespace kovra
