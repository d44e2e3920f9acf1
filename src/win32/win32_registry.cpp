// SPDX-License-Identifier: MIT
#include "win32/win32_registry.h"

#include <windows.h>

#include <vector>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

class Key {
 public:
  Key(Hive hive, std::string_view path, REGSAM access, bool create) {
    const std::wstring wpath = Widen(path);
    const HKEY root = hive == Hive::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    // The machine's values in the view a 64-bit program reads, whoever wrote them.
    if (hive == Hive::kMachine) access |= KEY_WOW64_64KEY;
    if (create) {
      ok_ = RegCreateKeyExW(root, wpath.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    } else {
      ok_ = RegOpenKeyExW(root, wpath.c_str(), 0, access, &key_) == ERROR_SUCCESS;
    }
  }
  ~Key() {
    if (ok_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool ok() const { return ok_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  bool ok_ = false;
};

}  // namespace

bool Win32Registry::KeyExists(Hive hive, std::string_view key) { return Key(hive, key, KEY_READ, false).ok(); }

std::optional<std::string> Win32Registry::ReadString(Hive hive, std::string_view key, std::string_view name) {
  Key k(hive, key, KEY_READ, false);
  if (!k.ok()) return std::nullopt;
  const std::wstring wname = Widen(name);
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(k.get(), wname.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(k.get(), wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return Narrow(std::wstring_view(data.data()));
}

bool Win32Registry::WriteString(Hive hive, std::string_view key, std::string_view name, std::string_view value) {
  Key k(hive, key, KEY_WRITE, true);
  if (!k.ok()) return false;
  const std::wstring wname = Widen(name);
  const std::wstring wvalue = Widen(value.substr(0, value.find('\0')));
  const DWORD bytes = static_cast<DWORD>((wvalue.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(k.get(), wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wvalue.c_str()), bytes) ==
         ERROR_SUCCESS;
}

}  // namespace kovra::win32
