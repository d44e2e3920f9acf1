// SPDX-License-Identifier: MIT
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/memory_registry.h"
#include "platform/record_file.h"

namespace kovra::test {

// The in-memory registry with hives the test can make read-only, like a key
// without write rights (a standard user and HKEY_LOCAL_MACHINE).
class LockableRegistry : public MemoryRegistry {
 public:
  bool WriteString(Hive hive, std::string_view key, std::string_view name, std::string_view value) override {
    {
      std::lock_guard lock(mutex_);
      if (readOnly_.count(hive) != 0) return false;
    }
    return MemoryRegistry::WriteString(hive, key, name, value);
  }
  void SetReadOnly(Hive hive, bool readOnly) {
    std::lock_guard lock(mutex_);
    if (readOnly) {
      readOnly_.insert(hive);
    } else {
      readOnly_.erase(hive);
    }
  }

 private:
  std::mutex mutex_;
  std::set<Hive> readOnly_;
};

// Records in memory, with files the test makes unwritable, as on a full disk
// or a read-only share.
class RefusingRecordFile : public MemoryRecordFile {
 public:
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override {
    return !Refused(path) && MemoryRecordFile::Append(path, header, rows);
  }
  bool CanAppend(const std::string& path) override { return !Refused(path) && MemoryRecordFile::CanAppend(path); }
  void Refuse(const std::string& path) {
    std::lock_guard lock(mutex_);
    refused_.insert(path);
  }

 private:
  bool Refused(const std::string& path) {
    std::lock_guard lock(mutex_);
    return refused_.count(path) != 0;
  }

  std::mutex mutex_;
  std::set<std::string> refused_;
};

}  // namespace kovra::test
