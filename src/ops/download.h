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

inline constexpr const char* kTextComparingMemory = "请稍候,比较编程内存与代码文件";

// In normal mode, with the code file loaded: when the programming memory
// already holds the image over 0..programEnd byte for byte, takes it as
// downloaded (range, checksum field, codeLoaded) and returns true. False
// when any byte differs or the memory cannot be read; nothing changes then.
bool AdoptMemoryHoldingImage(AppContext& ctx);

}  // namespace kovra
