// SPDX-License-Identifier: MIT
#pragma once

#include <mutex>

#include "platform/record_file.h"

namespace kovra::linux_platform {

// Each append is one write() to a file opened for appending, followed by
// fsync(): a killed program leaves whole rows, a power loss none half
// written that were reported written.
class PosixRecordFile : public RecordFile {
 public:
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override;
  bool CanAppend(const std::string& path) override;

 private:
  std::mutex mutex_;
};

}  // namespace kovra::linux_platform
