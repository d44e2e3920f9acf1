// SPDX-License-Identifier: MIT
#include "sim/wire_log.h"

#include <algorithm>
#include <cstdio>

namespace kovra::sim {
namespace {

constexpr size_t kBytesPerLine = 32;

const char* Arrow(LogEntry::Kind kind) {
  switch (kind) {
    case LogEntry::Kind::kFromHost:
      return "host >";
    case LogEntry::Kind::kToHost:
      return "     <";
    case LogEntry::Kind::kNote:
      break;
  }
  return "  note";
}

}  // namespace

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  char cell[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += cell;
  }
  return out;
}

std::string FormatLogEntry(const LogEntry& entry) {
  char head[96];
  std::snprintf(head, sizeof head, "%11.3f ms  %s %-22s", static_cast<double>(entry.us) / 1000.0, Arrow(entry.kind),
                entry.what.c_str());
  std::string out = head;
  if (entry.bytes.empty()) return out + "\n";
  const std::string indent(out.size(), ' ');
  for (size_t at = 0; at < entry.bytes.size(); at += kBytesPerLine) {
    const size_t end = std::min(entry.bytes.size(), at + kBytesPerLine);
    if (at != 0) out += indent;
    out += ' ';
    out += HexBytes(std::vector<uint8_t>(entry.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                         entry.bytes.begin() + static_cast<std::ptrdiff_t>(end)));
    out += '\n';
  }
  return out;
}

std::string FormatLog(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const LogEntry& entry : entries) out += FormatLogEntry(entry);
  return out;
}

}  // namespace kovra::sim
