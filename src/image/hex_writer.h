// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/app_context.h"

namespace kovra {

// Status texts of the writer.
inline constexpr std::string_view kSaveProgress = "[双击这里中断操作] 读取编程内存数据并保存到文件, 地址: ";
inline constexpr std::string_view kSaveInterrupted = "用户已中断操作!";
inline constexpr std::string_view kSaveCannotCreate = "保存文件错误!";
inline constexpr std::string_view kSaveFailed = "保存文件失败,磁盘空间可能不足或指定的目标文件写保护.";
inline constexpr std::string_view kSaveDone = "代码文件文件已成功保存在: ";

inline constexpr std::string_view kSaveHexFilter = "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||";

// Where the writer takes its bytes from, one block of at most 256 bytes
// within one 256-byte page at a time.
class BlockSource {
 public:
  virtual ~BlockSource() = default;
  // Fills out with the last - first + 1 bytes first..last; false when they
  // could not be had.
  virtual bool ReadBlock(uint32_t first, uint32_t last, uint8_t* out) = 0;
};

// The host code image, what debug mode saves instead of the programmer's
// memory. Refuses addresses outside the image.
class ImageBlockSource : public BlockSource {
 public:
  explicit ImageBlockSource(const AppState& state) : state_(state) {}
  bool ReadBlock(uint32_t first, uint32_t last, uint8_t* out) override;

 private:
  const AppState& state_;
};

// Appends bytes, the first of them at address first, as data records that
// stop at every 16-byte boundary, each line ended by CR LF. segment is the
// 64 KiB segment the reader is in (address >> 16); when an address leaves it
// a segment record goes first and segment follows.
void AppendHexRecords(std::string& out, uint32_t first, std::span<const uint8_t> bytes, uint32_t& segment);

// Saves programStart..programEnd as an Intel HEX file the user names, from
// memorySource or, in debug mode, from the code image, with an end-of-file
// record when hexEndRecord asks for one. The outcome is the file, the
// status line and linkError.
void SaveMemoryAsHex(AppContext& ctx, BlockSource& memorySource);

}  // namespace kovra
