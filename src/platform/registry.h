// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// HKEY_LOCAL_MACHINE (its 64-bit view) and HKEY_CURRENT_USER.
enum class Hive : uint8_t { kMachine, kUser };

// String values of the system's registry. Key names ignore case, as the
// system's do. Texts are UTF-8.
class Registry {
 public:
  virtual ~Registry() = default;

  virtual bool KeyExists(Hive hive, std::string_view key) = 0;
  // The stored string up to its first NUL; nullopt when the key or the
  // value is missing or cannot be read.
  virtual std::optional<std::string> ReadString(Hive hive, std::string_view key, std::string_view name) = 0;
  // Creates the key when it is missing. False when it cannot be written.
  virtual bool WriteString(Hive hive, std::string_view key, std::string_view name, std::string_view value) = 0;
};

}  // namespace kovra
