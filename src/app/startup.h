// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "base/app_context.h"

namespace kovra {

inline constexpr const char* kWelcomeText = "欢迎使用Lentaro经济型编程器Kovra V3.0C!";

// Everything the main window's start-up does once its controls exist:
// chip list, initial control states, the blank image, the saved settings,
// the selected chip, the supervision timer and the welcome text.
void InitializeMainWindow(AppContext& ctx);
// The same with the chip list file named (the command line). False when
// the list cannot be read or has no chip: only "no chip" can be chosen.
bool InitializeWithChipList(AppContext& ctx, const std::string& chipListPath);

}  // namespace kovra
