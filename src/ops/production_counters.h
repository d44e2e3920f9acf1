// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"

namespace kovra {

// The tails of an automatic run: count it unless counting is paused (and,
// for a failure, unless the link failed).
void CountSuccess(AppContext& ctx);
void CountFailure(AppContext& ctx);

}  // namespace kovra
