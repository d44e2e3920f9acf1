// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "platform/registry.h"

namespace kovra {

// A registry held in memory: what kovra-cli and the tests use in place of
// the system's. Key and value names ignore case, as the system's do.
class MemoryRegistry : public Registry {
 public:
  bool KeyExists(Hive hive, std::string_view key) override;
  std::optional<std::string> ReadString(Hive hive, std::string_view key, std::string_view name) override;
  bool WriteString(Hive hive, std::string_view key, std::string_view name, std::string_view value) override;

  void DeleteValue(Hive hive, std::string_view key, std::string_view name);

 private:
  std::mutex mutex_;
  std::set<std::pair<Hive, std::string>> keys_;
  std::map<std::tuple<Hive, std::string, std::string>, std::string> values_;
};

}  // namespace kovra
