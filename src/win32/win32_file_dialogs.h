// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_dialogs.h"
#include "win32/win32_main_window.h"

namespace kovra::win32 {

// The common open and save dialogs, owned by the main window and run on
// its thread whichever thread asks.
class Win32FileDialogs : public FileDialogs {
 public:
  explicit Win32FileDialogs(Win32MainWindow& window) : window_(window) {}
  std::optional<std::string> ChooseOpenFile(std::string_view filter) override;
  std::optional<std::string> ChooseSaveFile(std::string_view filter) override;

 private:
  std::optional<std::string> Choose(std::string_view filter, bool save);
  Win32MainWindow& window_;
};

// "text|pattern|...||" as the dialogs want it: NUL-separated, ending in two NULs.
std::wstring DialogFilter(std::string_view filter);

}  // namespace kovra::win32
