#pragma once

namespace kovra {

// The program's own key under HKEY_LOCAL_MACHINE: the installation folder
// ("setup", written by the installer) and the saved port and chip. The chip
// list finds its file through it, the settings keep their values in it.
inline constexpr const char* kSettingsKey = "SoftWare\\Lentaro\\KovraV30C";

}  // namespace kovra
