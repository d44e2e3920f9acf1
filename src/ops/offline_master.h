#pragma once

#include "base/app_context.h"

namespace kovra {

// Downloads the code and writes the offline-programming configuration, so
// that the programmer can program chips by its own button.
void MakeOfflineMaster(AppContext& ctx);

}  // namespace kovra
