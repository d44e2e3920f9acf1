// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

namespace kovra::win32 {

// Text colours: the checksum field, the status line and the web link are
// blue; a link error and the pressed web link are red.
inline constexpr COLORREF kBlue = RGB(0, 0, 255);
inline constexpr COLORREF kRed = RGB(255, 0, 0);

}  // namespace kovra::win32
