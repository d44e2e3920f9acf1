// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "platform/serial_journal.h"

namespace kovra::test {

// A journal in memory that refuses appends when told, as a full disk does.
// Unlocked on purpose: its user must serialise the calls.
class MemorySerialJournal : public SerialJournal {
 public:
  std::optional<std::vector<std::string>> Lines() override { return JournalLines(contents); }
  bool Append(std::string_view line) override {
    if (refuse) return false;
    contents += JournalEntry(line, contents.empty() ? std::nullopt : std::optional(contents.back()));
    return true;
  }

  std::string contents;
  bool refuse = false;
};

}  // namespace kovra::test
