// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"

namespace kovra {

// The three buttons of the counter group.
void ClearCounters(AppContext& ctx);
void TogglePauseCounting(AppContext& ctx);
void RunSetCount(AppContext& ctx);

// A counter text from the settings dialog: its last six digits.
uint32_t CounterFromText(std::string_view text);

}  // namespace kovra
