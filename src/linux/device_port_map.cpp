// SPDX-License-Identifier: MIT
#include "linux/device_port_map.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <system_error>

namespace kovra::linux_platform {
namespace {

namespace fs = std::filesystem;

std::string Shown(const std::string& device) {
  return device.empty() ? "a terminal without a USB device" : "USB " + fs::path(device).filename().string();
}

}  // namespace

DevicePortMap::DevicePortMap(std::string path, fs::path sysfs) : path_(std::move(path)), sysfs_(std::move(sysfs)) {}

std::vector<BridgePort> DevicePortMap::Scan() { return {{path_, path_}}; }

bool DevicePortMap::Listed(std::string_view device) {
  if (device != path_) return false;
  const std::optional<std::string> now = DeviceNow();
  if (!now) return false;
  if (!first_) first_ = now;
  return *now == *first_;
}

std::string DevicePortMap::Canonical(std::string_view port) { return std::string(port); }

std::string DevicePortMap::Refusal() {
  const std::optional<std::string> now = DeviceNow();
  if (!first_ || !now || *now == *first_) return {};
  return path_ + " now leads to another device (" + Shown(*now) + ") than at first (" + Shown(*first_) + "): not used";
}

std::optional<std::string> DevicePortMap::DeviceNow() const {
  struct stat node {};
  if (stat(path_.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return std::nullopt;
  // The device number leads to the tty in sysfs, the tty to its device;
  // a pseudo-terminal has neither.
  const fs::path number =
      sysfs_ / "dev" / "char" / (std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev)));
  std::error_code error;
  const fs::path tty = fs::canonical(number, error);
  fs::path device = error ? fs::path() : fs::canonical(tty / "device", error);
  // A USB serial port's own device is named after its tty, which a replug
  // may renumber; the interface above it stays.
  if (!device.empty() && device.filename() == tty.filename()) device = device.parent_path();
  // Unplugged meanwhile, the name may have led to nothing in sysfs.
  struct stat again {};
  if (stat(path_.c_str(), &again) != 0 || again.st_rdev != node.st_rdev) return std::nullopt;
  return device.string();
}

}  // namespace kovra::linux_platform
