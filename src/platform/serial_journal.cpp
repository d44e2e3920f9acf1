// SPDX-License-Identifier: MIT
#include "platform/serial_journal.h"

namespace kovra {

std::vector<std::string> JournalLines(std::string_view contents) {
  std::vector<std::string> lines;
  for (size_t newline = contents.find('\n'); newline != std::string_view::npos; newline = contents.find('\n')) {
    std::string_view line = contents.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    contents.remove_prefix(newline + 1);
  }
  return lines;
}

std::string JournalEntry(std::string_view line, std::optional<char> lastByte) {
  std::string entry = lastByte && *lastByte != '\n' ? "\n" : "";
  entry.append(line);
  entry += '\n';
  return entry;
}

}  // namespace kovra
