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
#include "platform/line_database.h"
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

// Where a station's numbers come from when the line's database hands them
// out in blocks.
class BlockLeaser {
 public:
  virtual ~BlockLeaser() = default;
  // A block of numbers the station alone may hand out; nullopt when none can
  // be had now. mustTry: the station has no number left; otherwise it leases
  // ahead and a database known to be away need not be asked.
  virtual std::optional<SerialBlock> Lease(bool mustTry) = 0;
};

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

  // The same, handing out only numbers of the blocks the journal's "lease
  // FIRST LAST" lines name, and leasing another block from leaser when no
  // more than lowWater numbers are left.
  static std::unique_ptr<SerialSequence> Leased(std::optional<SerialRule> rule,
                                                std::vector<std::vector<uint8_t>> values, SerialJournal& journal,
                                                BlockLeaser& leaser, uint64_t lowWater, std::string& error);

  // The next number, appended to the journal for port at utcMs before it is
  // returned. After a failed append every later call fails too: what the
  // journal holds is no longer known.
  SerialNext Next(std::string_view port, int64_t utcMs) override;

 private:
  SerialSequence(SerialJournal& journal, std::optional<SerialRule> rule, std::vector<std::vector<uint8_t>> values);
  static std::unique_ptr<SerialSequence> Make(std::optional<SerialRule> rule, std::vector<std::vector<uint8_t>> values,
                                              SerialJournal& journal, BlockLeaser* leaser, uint64_t lowWater,
                                              std::string& error);
  std::optional<std::vector<uint8_t>> Bytes(uint64_t number) const;
  std::string Resume(const std::vector<std::string>& lines);
  // The number after `number` the rule or list has, nullopt past its end.
  std::optional<uint64_t> After(uint64_t number) const;
  // The first number from candidate_ on that may be handed out.
  std::optional<uint64_t> Upcoming() const;
  uint64_t LeftInBlocks() const;
  void LeaseAhead(bool mustTry);

  SerialJournal& journal_;
  const std::optional<SerialRule> rule_;  // else the list
  const std::vector<std::vector<uint8_t>> values_;
  BlockLeaser* leaser_ = nullptr;  // with it, only numbers of blocks_
  uint64_t lowWater_ = 0;
  std::vector<SerialBlock> blocks_;
  std::mutex mutex_;
  std::optional<uint64_t> candidate_;  // the lowest number not spent; nullopt: run out
  bool failed_ = false;
};

// The journal line for value handed to port at utcMs.
std::string FormatSpentLine(const SerialValue& value, std::string_view port, int64_t utcMs);

}  // namespace kovra
