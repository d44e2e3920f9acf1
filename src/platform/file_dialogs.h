// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// The system's open and save dialogs, owned by the main window. The filter
// uses the "text|pattern|...||" form. Results are full UTF-8 paths;
// nullopt when the user cancelled.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual std::optional<std::string> ChooseOpenFile(std::string_view filter) = 0;
  virtual std::optional<std::string> ChooseSaveFile(std::string_view filter) = 0;
};

}  // namespace kovra
