// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/record_file.h"

namespace kovra::win32 {

// Each append opens the file, writes, flushes it to the disk and closes
// it again, so nothing of a record waits in a buffer between chips.
class Win32RecordFile : public RecordFile {
 public:
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override;
  bool CanAppend(const std::string& path) override;

 private:
  std::mutex mutex_;
};

// Up to count bytes of the open file (a HANDLE) from offset; fewer at its
// end or when a read fails.
std::string ReadFileAt(void* file, uint64_t offset, size_t count);

}  // namespace kovra::win32
