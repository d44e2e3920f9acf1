// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "platform/serial_journal.h"

namespace kovra::linux_platform {

// The journal file, open and locked (flock) for as long as the object lives:
// a second process, or a second open in this one, is refused rather than
// made to wait. Appends are one write() and an fsync().
class PosixSerialJournal : public SerialJournal {
 public:
  // The journal at path, created when missing; nullptr and error when it
  // cannot be opened or is held elsewhere.
  static std::unique_ptr<PosixSerialJournal> Open(const std::string& path, std::string& error);
  ~PosixSerialJournal() override;
  PosixSerialJournal(const PosixSerialJournal&) = delete;
  PosixSerialJournal& operator=(const PosixSerialJournal&) = delete;

  std::optional<std::vector<std::string>> Lines() override;
  bool Append(std::string_view line) override;

 private:
  explicit PosixSerialJournal(int fd) : fd_(fd) {}
  std::optional<std::string> Contents();

  int fd_;
};

}  // namespace kovra::linux_platform
