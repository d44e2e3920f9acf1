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

bool MemoryRegistry::KeyExists(std::string_view key) {
  std::lock_guard lock(mutex_);
  return keys_.count(Fold(key)) != 0;
}

std::optional<std::string> MemoryRegistry::ReadString(std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = values_.find({Fold(key), Fold(name)});
  if (it == values_.end()) return std::nullopt;
  const std::string& stored = it->second;
  return stored.substr(0, stored.find('\0'));
}

bool MemoryRegistry::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  std::lock_guard lock(mutex_);
  if (readOnly_) return false;
  keys_.insert(Fold(key));
  values_[{Fold(key), Fold(name)}] = std::string(value);
  return true;
}

void MemoryRegistry::DeleteValue(std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  values_.erase({Fold(key), Fold(name)});
}

void MemoryRegistry::SetReadOnly(bool readOnly) {
  std::lock_guard lock(mutex_);
  readOnly_ = readOnly;
}

}  // namespace kovra
