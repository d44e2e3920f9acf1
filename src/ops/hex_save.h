// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"

namespace kovra {

// Saves the programming memory (in debug mode the image) over the captured
// range as an Intel HEX file.
void SaveProgrammingMemoryAsHex(AppContext& ctx);

}  // namespace kovra
