#pragma once

#include "base/app_context.h"

namespace kovra {

// Runs the operation that operationCode names, with the busy state around
// it. Steps of an automatic run call it nested; they leave busy set.
int RunOperation(AppContext& ctx);

// Sets operationCode and runs it on the calling thread.
void RunStep(AppContext& ctx, uint8_t identifier);

}  // namespace kovra
