// SPDX-License-Identifier: MIT
#include "linux/sysfs_port_map.h"

#include <algorithm>
#include <map>
#include <system_error>

namespace kovra::linux_platform {
namespace {

constexpr std::string_view kBridgeDriver = "pl2303";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t DigitsEnd(std::string_view s, size_t from) {
  while (from < s.size() && IsDigit(s[from])) ++from;
  return from;
}

// Runs of digits compare as numbers, the rest byte by byte.
bool NaturalLess(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const size_t iEnd = DigitsEnd(a, i);
      const size_t jEnd = DigitsEnd(b, j);
      const std::string_view x = a.substr(i, iEnd - i);
      const std::string_view y = b.substr(j, jEnd - j);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = iEnd;
      j = jEnd;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// Names in `folder` of the ttys in `devices`, by the tty they lead to; of
// two names (udev may add one with the USB revision) the first in order.
std::map<std::filesystem::path, std::string> NamesIn(const std::filesystem::path& folder) {
  std::map<std::filesystem::path, std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code unresolved;
    const std::filesystem::path tty = std::filesystem::canonical(it->path(), unresolved);
    if (unresolved) continue;
    std::string name = it->path().string();
    auto [entry, added] = names.emplace(tty, name);
    if (!added && name < entry->second) entry->second = std::move(name);
  }
  return names;
}

// Stable names of the ttys in `devices`: a bridge keeps its name, the USB
// socket it is plugged into, whatever ttyUSBn it gets. The package's udev
// rule names it under kovra/; udev's own serial/by-path names serve where
// that rule is not installed.
std::map<std::filesystem::path, std::string> StableNames(const std::filesystem::path& devices) {
  auto names = NamesIn(devices / "kovra");
  names.merge(NamesIn(devices / "serial" / "by-path"));
  return names;
}

}  // namespace

SysfsPortMap::SysfsPortMap(std::filesystem::path ttyClass, std::filesystem::path devices)
    : ttyClass_(std::move(ttyClass)), devices_(std::move(devices)) {}

std::vector<BridgePort> SysfsPortMap::Scan() {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(ttyClass_, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (Listed(name)) names.push_back(std::move(name));
  }
  const auto stable = StableNames(devices_);
  std::vector<BridgePort> ports;
  for (std::string& name : names) {
    const std::filesystem::path node = devices_ / name;
    std::error_code unresolved;
    const auto found = stable.find(std::filesystem::canonical(node, unresolved));
    std::string port = !unresolved && found != stable.end() ? found->second : node.string();
    ports.push_back({std::move(name), std::move(port)});
  }
  std::sort(ports.begin(), ports.end(),
            [](const BridgePort& a, const BridgePort& b) { return NaturalLess(a.port, b.port); });
  return ports;
}

bool SysfsPortMap::Listed(std::string_view device) {
  // Only a name of the class's own, never a way out of it.
  if (device.empty() || device == "." || device == ".." || device.find('/') != std::string_view::npos) return false;
  std::error_code error;
  const auto driver = std::filesystem::canonical(ttyClass_ / device / "device" / "driver", error);
  return !error && driver.filename() == kBridgeDriver;
}

std::string SysfsPortMap::Canonical(std::string_view port) { return std::string(port); }

}  // namespace kovra::linux_platform
