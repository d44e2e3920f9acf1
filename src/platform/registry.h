#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// String values under HKEY_LOCAL_MACHINE. Key names ignore case, as the
// system's do. Texts are UTF-8.
class Registry {
 public:
  virtual ~Registry() = default;

  virtual bool KeyExists(std::string_view key) = 0;
  // The stored string up to its first NUL; nullopt when the key or the
  // value is missing or cannot be read.
  virtual std::optional<std::string> ReadString(std::string_view key, std::string_view name) = 0;
  // Creates the key when it is missing. False when it cannot be written.
  virtual bool WriteString(std::string_view key, std::string_view name, std::string_view value) = 0;
};

}  // namespace kovra
