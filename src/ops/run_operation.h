#pragma once

#include "base/app_context.h"

namespace kovra {

// Runs the operation that operationCode names, with the busy state around
// it. Steps of an automatic run call it nested; they leave busy set.
int RunOperation(AppContext& ctx);

// Hands operation `code` to the link worker; refused without a link.
void StartOperation(AppContext& ctx, uint8_t code);

// Sets operationCode and runs it on the calling thread.
void RunStep(AppContext& ctx, uint8_t identifier);

}  // namespace kovra
