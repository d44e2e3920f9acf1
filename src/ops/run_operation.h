// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"
#include "ops/operations.h"

namespace kovra {

// Runs the operation that operationCode names, with the busy state around
// it. Steps of an automatic run call it nested; they leave busy set.
void RunOperation(AppContext& ctx);

// Hands an operation to the link worker, busy raised; refused without a
// link when the operation needs one.
void StartOperation(AppContext& ctx, Op op);

// The outcome of an operation that the window or the command line stopped
// before it was posted.
void RefuseOperation(AppContext& ctx, Op op, const char* why);

// Sets operationCode and runs it on the calling thread.
void RunStep(AppContext& ctx, Op op);

}  // namespace kovra
