// SPDX-License-Identifier: MIT
#pragma once

#include "platform/main_window.h"

namespace kovra {

// Switches the space above the status line between the operation view
// (on = false) and the code view (on = true). The status and counter groups
// stay visible in both.
void ShowCodeView(MainWindow& window, bool on);

}  // namespace kovra
