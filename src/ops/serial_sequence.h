// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_number.h"
#include "platform/serial_journal.h"

namespace kovra {

// The journal holds one line for every number handed out, written to the disk
// before the number reaches a chip:
//
//   spent 0000000042 00000042 /dev/kovra/pci-0000:00:14.0-usb-0:1:1.0 2026-12-08T15:00:00Z
//
// Fields, one space apart: "spent"; the number, decimal, zero-padded to ten
// digits (larger ones keep all theirs), for a list the value's place in it
// from 1; the bytes written into the image, upper-case hex; the port it went
// to (blanks in its name as '_'); when, UTC. awk '$1 == "spent"' lists them.
// Any other line (a torn one that a later append ended, a person's note) is
// left alone.
//
// A number counts as spent once its line is written, whatever happens to the
// chip: an OTP chip cannot take a second one.

// The numbers of a rule or a list, shared by the ports of a gang: each Next,
// from any thread, hands out a number no call before it did, in order, and
// on a restart continues after the highest number the journal holds.
class SerialSequence : public SerialSource {
 public:
  // nullptr and error when the journal cannot be read, or holds a number
  // whose bytes this rule or list would not write (a journal of another
  // one: its numbers say nothing about these).
  static std::unique_ptr<SerialSequence> FromRule(const SerialRule& rule, SerialJournal& journal, std::string& error);
  static std::unique_ptr<SerialSequence> FromList(std::vector<std::vector<uint8_t>> values, SerialJournal& journal,
                                                  std::string& error);

  // The next number, appended to the journal for port at utcMs before it is
  // returned. After a failed append every later call fails too: what the
  // journal holds is no longer known.
  SerialNext Next(std::string_view port, int64_t utcMs) override;

 private:
  SerialSequence(SerialJournal& journal, std::optional<SerialRule> rule, std::vector<std::vector<uint8_t>> values);
  std::optional<std::vector<uint8_t>> Bytes(uint64_t number) const;
  std::string Resume(const std::vector<std::string>& lines);

  SerialJournal& journal_;
  const std::optional<SerialRule> rule_;  // else the list
  const std::vector<std::vector<uint8_t>> values_;
  std::mutex mutex_;
  std::optional<uint64_t> next_;  // nullopt: run out
  bool failed_ = false;
};

// The journal line for value handed to port at utcMs.
std::string FormatSpentLine(const SerialValue& value, std::string_view port, int64_t utcMs);

}  // namespace kovra
