// SPDX-License-Identifier: MIT
#pragma once

#include "platform/program_folder.h"

namespace kovra::win32 {

// The folder of the executable the process was started from.
class Win32ProgramFolder : public ProgramFolder {
 public:
  std::optional<std::string> Path() override;
};

}  // namespace kovra::win32
