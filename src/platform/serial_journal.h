// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// A file of lines that only grows, held by one process at a time: the
// record of the serial numbers spent. Not safe to share between threads;
// its user serialises the calls.
class SerialJournal {
 public:
  virtual ~SerialJournal() = default;
  // The journal's whole lines, without their line ends. A last line without
  // its newline was cut short by a crash and is not among them.
  virtual std::optional<std::vector<std::string>> Lines() = 0;
  // Appends line and a newline with one write and returns once they are on
  // the disk; false when that failed. A torn last line is ended first, so
  // the new line is a line of its own.
  virtual bool Append(std::string_view line) = 0;
};

// The whole lines of a journal's contents; a carriage return before a
// newline is dropped.
std::vector<std::string> JournalLines(std::string_view contents);

// The bytes one append writes after a journal whose last byte is lastByte
// (nullopt when it is empty).
std::string JournalEntry(std::string_view line, std::optional<char> lastByte);

}  // namespace kovra
