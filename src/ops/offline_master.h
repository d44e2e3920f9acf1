// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"

namespace kovra {

inline constexpr const char* kTextMasterReady =
    "脱机编程母片制作成功!您现在即可通过编程器主板的[编程]按钮进行脱机烧写了";

// Downloads the code with `download` and writes the offline-programming
// configuration, so that the programmer can program chips by its own
// button. The window reloads the code file (DownloadImage); the command
// line sends the image it checked when the job began (DownloadLoadedImage).
void MakeOfflineMaster(AppContext& ctx, void (*download)(AppContext& ctx));

}  // namespace kovra
