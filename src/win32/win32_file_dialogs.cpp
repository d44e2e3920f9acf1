// SPDX-License-Identifier: MIT
#include "win32/win32_file_dialogs.h"

#include <commdlg.h>

#include <vector>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

// The path field holds up to 1,023 characters.
constexpr size_t kPathChars = 1024;

}  // namespace

std::wstring DialogFilter(std::string_view filter) {
  std::wstring wide = Widen(filter);
  for (wchar_t& c : wide) {
    if (c == L'|') c = L'\0';
  }
  wide.append(2, L'\0');
  return wide;
}

std::optional<std::string> Win32FileDialogs::ChooseOpenFile(std::string_view filter) { return Choose(filter, false); }

std::optional<std::string> Win32FileDialogs::ChooseSaveFile(std::string_view filter) { return Choose(filter, true); }

std::optional<std::string> Win32FileDialogs::Choose(std::string_view filter, bool save) {
  return window_.OnUiThread(
      [&]() -> std::optional<std::string> {
        const std::wstring filterText = DialogFilter(filter);
        std::vector<wchar_t> path(kPathChars, L'\0');
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = window_.Handle();
        ofn.lpstrFilter = filterText.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path.data();
        ofn.nMaxFile = static_cast<DWORD>(path.size());
        // No default extension, and an existing file is replaced without a
        // question: the name is used exactly as typed.
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | (save ? 0 : OFN_FILEMUSTEXIST);
        const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
        if (!chosen) return std::nullopt;
        return Narrow(path.data());
      },
      std::optional<std::string>());
}

}  // namespace kovra::win32
