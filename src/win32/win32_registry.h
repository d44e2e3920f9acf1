#pragma once

#include "platform/registry.h"

namespace kovra::win32 {

// HKEY_LOCAL_MACHINE through the system's registry functions.
class Win32Registry : public Registry {
 public:
  bool KeyExists(std::string_view key) override;
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) override;
  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override;
};

}  // namespace kovra::win32
