// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovra::sim {

// One thing on the wire as the programmer saw it: a frame, a data stream or
// stray bytes from the host, or one answer it sent. Notes carry protocol
// misuse and events such as power changes.
struct LogEntry {
  enum class Kind : uint8_t { kFromHost, kToHost, kNote };
  uint64_t us = 0;
  Kind kind = Kind::kNote;
  std::string what;
  std::vector<uint8_t> bytes;
};

// Protocol misuse by the host, noticed by the programmer.
struct Violation {
  uint64_t us = 0;
  std::string text;
};

// "   1234.567 ms  host > frame 0x0D   53 54 41 52 ...", 32 bytes a line.
std::string FormatLogEntry(const LogEntry& entry);
std::string FormatLog(const std::vector<LogEntry>& entries);
std::string HexBytes(const std::vector<uint8_t>& bytes);

}  // namespace kovra::sim
