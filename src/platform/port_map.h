// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// One port of the programmer's USB bridge: the name the system lists it
// under (the value name of the serial port map, the tty device) and the
// name it opens by.
struct BridgePort {
  std::string device;
  std::string port;
};

// Where the system lists the bridge's ports: the serial port map on
// Windows, the USB serial devices on Linux. A port leaves the list when
// its bridge is unplugged.
class PortMap {
 public:
  virtual ~PortMap() = default;
  // The bridge's ports, in the map's order.
  virtual std::vector<BridgePort> Scan() = 0;
  // True while the map still lists `device`.
  virtual bool Listed(std::string_view device) = 0;
  // A port name as the system compares port names (COM names ignore case).
  virtual std::string Canonical(std::string_view port) = 0;
  // Why the map no longer lists a port whose name the system still has:
  // another device answers to it now. Empty when there is no such reason.
  virtual std::string Refusal() { return {}; }
};

}  // namespace kovra
