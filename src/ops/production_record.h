// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/app_context.h"

namespace kovra {

// One chip of a production run, as its record row says it.
struct RunRecord {
  int64_t utcMs = 0;
  std::string port{};
  std::string chip{};
  std::string codeFile{};
  std::string fileChecksum{};
  std::string memoryChecksum{};
  std::string steps{};  // the step names, comma-separated
  bool passed = false;
  std::string status{};
  uint64_t elapsedMs = 0;
  // Why it failed, in words a script matches ("not-blank"), and where.
  std::string failure{};
  std::string address{};
  // The number the chip was given (the bytes written, hex), and the job
  // file the run came from with its SHA-256; empty without them.
  std::string serial{};
  std::string job{};
  std::string jobSha256{};
};

// The record file's first line (RFC 4180 CSV, CRLF line ends).
inline constexpr std::string_view kRecordHeader =
    "time,port,chip,code file,file checksum,memory checksum,steps,result,status,elapsed s,failure,address,serial,job,"
    "job sha256\r\n";

inline constexpr const char* kTextRecordFailed = "生产记录写入失败!请检查记录文件是否可以写入:\n";

// One CSV row, CRLF-terminated; fields quoted where CSV needs it.
std::string FormatRecordRow(const RunRecord& record);
// "2026-12-07T19:55:12Z".
std::string UtcTimestamp(int64_t utcMs);

// The record of the automatic run that just ended, taken from the window
// and the state (its outcome among them).
RunRecord CurrentRunRecord(AppContext& ctx, bool passed);
// Appends a row to the record file, when one is named. A row that cannot
// be written is reported and leaves recordFailed set.
void AppendRecordRow(AppContext& ctx, const RunRecord& record);
// The same for the automatic run that just ended.
void AppendRunRecord(AppContext& ctx, bool passed);
// Whether the record file, when one is named, can take a row now; reported
// when not, so that no chip is programmed that could not be recorded.
bool RecordWritable(AppContext& ctx);

}  // namespace kovra
