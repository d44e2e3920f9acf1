// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"
#include "base/program_key.h"

namespace kovra {

// Restores the port name and the chip combo box selection. Runs once at
// start-up, after the combo box has been filled.
void LoadSettings(AppContext& ctx);

// Stores the port name and the selected chip. Registry failures are silent.
void SaveSettings(AppContext& ctx);

}  // namespace kovra
