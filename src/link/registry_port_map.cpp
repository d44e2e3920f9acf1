// SPDX-License-Identifier: MIT
#include "link/registry_port_map.h"

#include "base/text_helpers.h"
#include "link/programmer_link.h"

namespace kovra {
namespace {

// The map's data is read into 8 bytes: a port name of at most 7 characters
// and its terminator. Longer names are never listed.
constexpr size_t kMaxPortName = 7;
constexpr int kLastDriverNumber = 255;

}  // namespace

std::vector<BridgePort> RegistryPortMap::Scan() {
  std::vector<BridgePort> ports;
  for (int n = 0; n <= kLastDriverNumber; ++n) {
    std::string valueName = std::string(kBridgeValuePrefix) + std::to_string(n);
    auto data = registry_.ReadString(Hive::kMachine, kSerialMapKey, valueName);
    if (!data || data->empty() || data->size() > kMaxPortName) continue;
    ports.push_back({std::move(valueName), std::move(*data)});
  }
  return ports;
}

bool RegistryPortMap::Listed(std::string_view device) {
  return registry_.ReadString(Hive::kMachine, kSerialMapKey, device).has_value();
}

std::string RegistryPortMap::Canonical(std::string_view port) { return ToUpperAscii(port); }

}  // namespace kovra
