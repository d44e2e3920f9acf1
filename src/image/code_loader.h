// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/app_context.h"

namespace kovra {

// Status texts of the loader.
inline constexpr std::string_view kLoadNoPath = "请指定一个代码文件";
inline constexpr std::string_view kLoadBinaryOpenFailed = "打开文件失败";
inline constexpr std::string_view kLoadTextOpenFailed =
    "打开代码文件失败!请确认该文件是否存在或对该文件是否有存取权限!";
inline constexpr std::string_view kLoadInProgress = "调入代码文件.....";
inline constexpr std::string_view kLoadBadChecksum = "代码文件错误[行检查和错误]";
inline constexpr std::string_view kLoadNoCode = "代码文件错误[未包含有效代码]";
inline constexpr std::string_view kLoadFileTooLarge = "代码文件错误[文件超过1M字节]";
inline constexpr std::string_view kLoadAddressTooHigh = "代码文件错误[地址超出1M范围]";
inline constexpr std::string_view kLoadDone = "调入代码成功!";

inline constexpr std::string_view kOpenCodeFilter = "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj|BIN文件(*.*)|*.bin||";

// The first damaged record of a text file: one that cannot be read whole
// (cut short, garbled, or followed by another record mark on its line) or
// one whose checksum is wrong. The load skips the first kind and stops at
// the second, as files from other tools have always loaded; a caller that
// must have every record refuses the file.
struct RecordDamage {
  enum class Kind { kNone, kUnreadable, kChecksum };
  Kind kind = Kind::kNone;
  size_t line = 0;  // from 1
};

// Reads the file named in the path field into the code image and sets the
// code range, the range fields and the checksum field from it. The outcome
// is linkError plus the status line; `damage`, when given, gets the first
// damaged record.
void LoadCodeFile(AppContext& ctx, RecordDamage* damage = nullptr);

// LoadCodeFile once the file's bytes are in memory: contents as stored on
// disk, binary chosen by the file name. Used directly by the fuzzer.
void LoadCodeFromBuffer(AppContext& ctx, bool binary, std::string contents);

// The open-file dialog; puts the chosen path into the path field. False
// when the user cancelled.
bool ChooseCodeFile(AppContext& ctx);

// True when the last four characters, lower-cased, are ".bin".
bool IsBinaryName(std::string_view path);

// The tail of the line from its last ':'; empty when the line has none.
std::string_view TrimToRecordMark(std::string_view line);

// record starts at its ':'. True when it holds at least minimum characters
// and at least 2 * LL + minimum, LL being the two digits after the ':'.
bool RecordLongEnough(std::string_view record, size_t minimum);

// Two characters a byte (an odd last character alone); a pair holding a
// character that is not a hexadecimal digit gives 0xFF. Converts as many
// bytes as out holds and returns their count.
size_t HexPairsToBytes(std::string_view text, std::span<uint8_t> out);

}  // namespace kovra
