#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace kovra {

// Appends production records to a file, whole and durably: when Append
// returns true the rows are on disk, so a crash or a power loss leaves only
// complete rows. Safe to share between threads.
class RecordFile {
 public:
  virtual ~RecordFile() = default;
  // Appends `rows` to the file at `path` (UTF-8), preceded by `header`
  // when the file is new or empty. False when it could not be written.
  virtual bool Append(const std::string& path, std::string_view header, std::string_view rows) = 0;
};

// Records kept in memory, by path: the tests, and programs that keep none.
class MemoryRecordFile : public RecordFile {
 public:
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override {
    std::lock_guard lock(mutex_);
    std::string& file = files_[path];
    if (file.empty()) file += header;
    file += rows;
    return true;
  }
  std::string Contents(const std::string& path) {
    std::lock_guard lock(mutex_);
    return files_[path];
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
};

}  // namespace kovra
