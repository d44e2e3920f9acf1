// SPDX-License-Identifier: MIT
#include "base/app_state.h"

namespace kovra {

AppState::AppState() : chipTable(kChipRows), codeImage(kImageSize, 0xFF) { chipTable[0].name = "NOSELEC"; }

}  // namespace kovra
