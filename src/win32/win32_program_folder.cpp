// SPDX-License-Identifier: MIT
#include "win32/win32_program_folder.h"

#include <windows.h>

#include <string>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

// The system's longest path, in characters.
constexpr size_t kLongestPath = 32768;

}  // namespace

std::optional<std::string> Win32ProgramFolder::Path() {
  // A path that fills the buffer may have been cut: try again with more room.
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= kLongestPath) return std::nullopt;
    path.resize(path.size() * 2);
  }
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return std::nullopt;
  return Narrow(std::wstring_view(path).substr(0, separator));
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = std::size(name);
  return GetComputerNameW(name, &length) ? Narrow(std::wstring(name, length)) : std::string();
}

std::string LocalStateFolder() {
  wchar_t base[kLongestPath];
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base, std::size(base));
  if (length == 0 || length >= std::size(base)) return {};
  const std::wstring folder = std::wstring(base, length) + L"\\kovra";
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
  return Narrow(folder);
}

}  // namespace kovra::win32
