// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "platform/serial_journal.h"

namespace kovra::win32 {

// The journal file, open and locked (LockFileEx) for as long as the object
// lives: a second process, or a second open in this one, is refused rather
// than made to wait. Appends are one WriteFile and a FlushFileBuffers.
class Win32SerialJournal : public SerialJournal {
 public:
  // The journal at path (UTF-8), created when missing; nullptr and error
  // when it cannot be opened or is held elsewhere.
  static std::unique_ptr<Win32SerialJournal> Open(const std::string& path, std::string& error);
  ~Win32SerialJournal() override;
  Win32SerialJournal(const Win32SerialJournal&) = delete;
  Win32SerialJournal& operator=(const Win32SerialJournal&) = delete;

  std::optional<std::vector<std::string>> Lines() override;
  bool Append(std::string_view line) override;

 private:
  explicit Win32SerialJournal(void* file) : file_(file) {}

  void* file_;  // HANDLE
};

}  // namespace kovra::win32
