// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "platform/program_folder.h"

namespace kovra::win32 {

// The folder of the executable the process was started from.
class Win32ProgramFolder : public ProgramFolder {
 public:
  std::optional<std::string> Path() override;
};

// This computer's name (UTF-8); empty when unknown.
std::string ComputerName();
// %LOCALAPPDATA%\kovra, made when missing: where a station keeps its
// journal. Empty when there is none.
std::string LocalStateFolder();

}  // namespace kovra::win32
