// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>

#include "base/app_context.h"

namespace kovra {

inline constexpr const char* kTextDownloadInterrupted = "下载过程已被用户中断!";

// Reloads the code file and brings the image into the programming memory,
// confirmed by the memory checksum and then byte for byte.
void DownloadImage(AppContext& ctx);
// The same for the code the image holds now (0..codeEnd), without reading
// the file again: what was checked is what is downloaded.
void DownloadLoadedImage(AppContext& ctx);
// Streams image bytes first..last in page-paced chunks; the user may
// interrupt between chunks.
void SendImageBytes(AppContext& ctx, uint32_t first, uint32_t last);

inline constexpr const char* kTextComparingMemory = "请稍候,比较编程内存与代码文件";

// Reads the programming memory 0..last back (each block checked on the
// wire) and compares it with the image: the first address that differs, or
// nullopt when every byte agrees. A failed read sets linkError and gives
// the block's first address.
std::optional<uint32_t> FirstMemoryDifference(AppContext& ctx, uint32_t last);

// In normal mode, with the code loaded: when the programming memory already
// holds the image over 0..codeEnd byte for byte, takes it as downloaded
// (range, checksum field, codeLoaded) and returns true. False when any byte
// differs or the memory cannot be read.
bool AdoptMemoryHoldingImage(AppContext& ctx);

// After a reconnect that followed a lost link: the code is taken as loaded
// again only when the memory still holds it byte for byte (the programmer
// may have been swapped, or its memory changed by another PC).
void ReconfirmMemory(AppContext& ctx);

}  // namespace kovra
