// SPDX-License-Identifier: MIT
#include "platform/record_file.h"

#include <algorithm>

namespace kovra {

std::optional<std::string> RecordLead(std::string_view header, uint64_t size, const RecordReader& read) {
  if (size == 0) return std::string(header);
  const std::string last = read(size - 1, 1);
  if (last.size() != 1) return std::nullopt;
  if (last[0] == '\n') return std::string();
  // A torn row. Whether it stopped inside a quoted field shows only from
  // the quotes before it; whole files never get here, so they are not read.
  constexpr size_t kChunk = 64 * 1024;
  bool quoted = false;
  for (uint64_t offset = 0; offset < size; offset += kChunk) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kChunk, size - offset));
    const std::string bytes = read(offset, count);
    if (bytes.size() != count) return std::nullopt;
    quoted ^= std::count(bytes.begin(), bytes.end(), '"') % 2 != 0;
  }
  if (quoted) return "\"\r\n";
  // Outside quotes a carriage return is only ever the first half of a line end.
  return last[0] == '\r' ? "\n" : "\r\n";
}

}  // namespace kovra
