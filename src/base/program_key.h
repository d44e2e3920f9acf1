// SPDX-License-Identifier: MIT
#pragma once

namespace kovra {

// The program's own key: under HKEY_LOCAL_MACHINE the installation folder
// ("setup", written by the installer), where the chip list is; under
// HKEY_CURRENT_USER the saved port and chip, which a standard user cannot
// write machine-wide.
inline constexpr const char* kSettingsKey = "SoftWare\\Lentaro\\KovraV30C";

}  // namespace kovra
