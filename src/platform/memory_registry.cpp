// SPDX-License-Identifier: MIT
#include "platform/memory_registry.h"

#include <cctype>

namespace kovra {
namespace {

std::string Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool MemoryRegistry::KeyExists(Hive hive, std::string_view key) {
  std::lock_guard lock(mutex_);
  return keys_.count({hive, Fold(key)}) != 0;
}

std::optional<std::string> MemoryRegistry::ReadString(Hive hive, std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = values_.find({hive, Fold(key), Fold(name)});
  if (it == values_.end()) return std::nullopt;
  const std::string& stored = it->second;
  return stored.substr(0, stored.find('\0'));
}

bool MemoryRegistry::WriteString(Hive hive, std::string_view key, std::string_view name, std::string_view value) {
  std::lock_guard lock(mutex_);
  keys_.insert({hive, Fold(key)});
  values_[{hive, Fold(key), Fold(name)}] = std::string(value);
  return true;
}

void MemoryRegistry::DeleteValue(Hive hive, std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  values_.erase({hive, Fold(key), Fold(name)});
}

}  // namespace kovra
