// SPDX-License-Identifier: MIT
#pragma once

#include "platform/registry.h"

namespace kovra::win32 {

// The system's registry: HKEY_LOCAL_MACHINE in its 64-bit view, and
// HKEY_CURRENT_USER.
class Win32Registry : public Registry {
 public:
  bool KeyExists(Hive hive, std::string_view key) override;
  std::optional<std::string> ReadString(Hive hive, std::string_view key, std::string_view name) override;
  bool WriteString(Hive hive, std::string_view key, std::string_view name, std::string_view value) override;
};

}  // namespace kovra::win32
