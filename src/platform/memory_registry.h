#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/registry.h"

namespace kovra {

// A registry held in memory: what kovra-cli and the tests use in place of
// the system's. Key and value names ignore case, as the system's do.
class MemoryRegistry : public Registry {
 public:
  bool KeyExists(std::string_view key) override;
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) override;
  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override;

  void DeleteValue(std::string_view key, std::string_view name);
  // Makes later writes fail, like a key without write rights.
  void SetReadOnly(bool readOnly);

 private:
  std::mutex mutex_;
  std::set<std::string> keys_;
  std::map<std::pair<std::string, std::string>, std::string> values_;
  bool readOnly_ = false;
};

}  // namespace kovra
