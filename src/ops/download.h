#pragma once

#include <cstdint>

#include "base/app_context.h"

namespace kovra {

inline constexpr const char* kTextDownloadInterrupted = "下载过程已被用户中断!";

// Reloads the code file and brings the image into the programming memory,
// confirmed by the memory checksum.
void DownloadImage(AppContext& ctx);
// Streams image bytes first..last in page-paced chunks; the user may
// interrupt between chunks.
void SendImageBytes(AppContext& ctx, uint32_t first, uint32_t last);

}  // namespace kovra
