// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// Appends production records to a file, whole and durably: when Append
// returns true the rows are on disk, so a crash or a power loss leaves only
// complete rows. Safe to share between threads.
class RecordFile {
 public:
  virtual ~RecordFile() = default;
  // Appends `rows` to the file at `path` (UTF-8), preceded by RecordLead.
  // False when it could not be written.
  virtual bool Append(const std::string& path, std::string_view header, std::string_view rows) = 0;
  // Whether Append could open the file now. Writes nothing; a missing file
  // is created empty, as the first row would create it.
  virtual bool CanAppend(const std::string& path) = 0;
  // What the operator should know about the rows just appended, when they
  // are not yet where they belong (a database out of reach); empty when
  // they are.
  virtual std::string Notice() { return {}; }
};

// The bytes that go before new rows so that they start a row of their own:
// the header in a new or empty file; after a row a failed write cut short,
// the end of that row (a closing quote when it stopped inside a quoted
// field, then what its line end lacks). `read(offset, count)` returns the
// file's bytes there, fewer when they cannot be read; then nullopt.
using RecordReader = std::function<std::string(uint64_t offset, size_t count)>;
std::optional<std::string> RecordLead(std::string_view header, uint64_t size, const RecordReader& read);

// Records kept in memory, by path: the tests, and programs that keep none.
class MemoryRecordFile : public RecordFile {
 public:
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override {
    std::lock_guard lock(mutex_);
    std::string& file = files_[path];
    file += *RecordLead(header, file.size(), [&file](uint64_t offset, size_t count) {
      return file.substr(static_cast<size_t>(offset), count);
    });
    file += rows;
    return true;
  }
  bool CanAppend(const std::string&) override { return true; }
  std::string Contents(const std::string& path) {
    std::lock_guard lock(mutex_);
    return files_[path];
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
};

}  // namespace kovra
