#include "linux/device_port_map.h"

#include <sys/stat.h>

namespace kovra::linux_platform {

std::vector<BridgePort> DevicePortMap::Scan() { return {{path_, path_}}; }

bool DevicePortMap::Listed(std::string_view device) {
  struct stat info {};
  return device == path_ && stat(path_.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

std::string DevicePortMap::Canonical(std::string_view port) { return std::string(port); }

}  // namespace kovra::linux_platform
