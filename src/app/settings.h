#pragma once

#include "base/app_context.h"

namespace kovra {

// The program's own key under HKEY_LOCAL_MACHINE: the installation folder
// ("setup", written by the installer) and the saved port and chip.
inline constexpr const char* kSettingsKey = "SoftWare\\Lentaro\\KovraV30C";

// Restores the port name and the chip combo box selection. Runs once at
// start-up, after the combo box has been filled.
void LoadSettings(AppContext& ctx);

// Stores the port name and the selected chip. Registry failures are silent.
void SaveSettings(AppContext& ctx);

}  // namespace kovra
