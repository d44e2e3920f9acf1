// SPDX-License-Identifier: MIT
#include "ops/serial_sequence.h"

#include <algorithm>

#include "ops/production_record.h"

namespace kovra {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (true) {
    const size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return fields;
    line.remove_prefix(begin);
    const size_t end = std::min(line.find_first_of(" \t"), line.size());
    fields.push_back(line.substr(0, end));
    line.remove_prefix(end);
  }
}

std::optional<uint64_t> Decimal(std::string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// A journal line that names a spent number. A line cut before its time
// lacks a field and does not count; one cut inside the time has its number
// and bytes whole and counts: better spent than handed out twice.
std::optional<SerialValue> SpentValue(std::string_view line) {
  const auto fields = Fields(line);
  if (fields.size() != 5 || fields[0] != "spent") return std::nullopt;
  const auto number = Decimal(fields[1]);
  auto bytes = ParseHexBytes(fields[2]);
  if (!number || !bytes) return std::nullopt;
  return SerialValue{*number, std::move(*bytes)};
}

}  // namespace

std::string FormatSpentLine(const SerialValue& value, std::string_view port, int64_t utcMs) {
  std::string number = std::to_string(value.number);
  if (number.size() < 10) number.insert(0, 10 - number.size(), '0');
  // One field whatever the port is called, for awk and for the restart.
  std::string portField = port.empty() ? "-" : std::string(port);
  for (char& c : portField) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) c = '_';
  }
  return "spent " + number + " " + HexBytes(value.bytes) + " " + portField + " " + UtcTimestamp(utcMs);
}

SerialSequence::SerialSequence(SerialJournal& journal, std::optional<SerialRule> rule,
                               std::vector<std::vector<uint8_t>> values)
    : journal_(journal), rule_(rule), values_(std::move(values)) {}

std::unique_ptr<SerialSequence> SerialSequence::FromRule(const SerialRule& rule, SerialJournal& journal,
                                                         std::string& error) {
  return Make(rule, {}, journal, nullptr, 0, error);
}

std::unique_ptr<SerialSequence> SerialSequence::FromList(std::vector<std::vector<uint8_t>> values,
                                                         SerialJournal& journal, std::string& error) {
  return Make(std::nullopt, std::move(values), journal, nullptr, 0, error);
}

std::unique_ptr<SerialSequence> SerialSequence::Leased(std::optional<SerialRule> rule,
                                                       std::vector<std::vector<uint8_t>> values, SerialJournal& journal,
                                                       BlockLeaser& leaser, uint64_t lowWater, std::string& error) {
  return Make(rule, std::move(values), journal, &leaser, lowWater, error);
}

std::unique_ptr<SerialSequence> SerialSequence::Make(std::optional<SerialRule> rule,
                                                     std::vector<std::vector<uint8_t>> values, SerialJournal& journal,
                                                     BlockLeaser* leaser, uint64_t lowWater, std::string& error) {
  if (rule) {
    if (error = SerialRuleProblem(*rule); !error.empty()) return nullptr;
  }
  const auto lines = journal.Lines();
  if (!lines) {
    error = "cannot read the journal";
    return nullptr;
  }
  std::unique_ptr<SerialSequence> sequence(new SerialSequence(journal, rule, std::move(values)));
  sequence->leaser_ = leaser;
  sequence->lowWater_ = lowWater;
  if (error = sequence->Resume(*lines); !error.empty()) return nullptr;
  return sequence;
}

std::optional<std::vector<uint8_t>> SerialSequence::Bytes(uint64_t number) const {
  if (rule_) return EncodeSerial(number, rule_->width, rule_->encoding);
  if (number < 1 || number > values_.size()) return std::nullopt;
  return values_[number - 1];
}

std::optional<uint64_t> SerialSequence::After(uint64_t number) const {
  if (rule_) return rule_->last - number >= rule_->step ? std::optional(number + rule_->step) : std::nullopt;
  return number < values_.size() ? std::optional(number + 1) : std::nullopt;
}

std::optional<uint64_t> SerialSequence::Upcoming() const {
  if (!candidate_ || !leaser_) return candidate_;
  // Blocks come from the same first and step, so their first numbers are
  // the rule's own.
  std::optional<uint64_t> best;
  for (const SerialBlock& block : blocks_) {
    if (block.last < *candidate_) continue;
    const uint64_t at = std::max(block.first, *candidate_);
    if (!best || at < *best) best = at;
  }
  return best;
}

uint64_t SerialSequence::LeftInBlocks() const {
  const uint64_t step = rule_ ? rule_->step : 1;
  uint64_t left = 0;
  for (const SerialBlock& block : blocks_) {
    if (!candidate_ || block.last < *candidate_) continue;
    left += (block.last - std::max(block.first, *candidate_)) / step + 1;
  }
  return left;
}

std::string SerialSequence::Resume(const std::vector<std::string>& lines) {
  std::optional<uint64_t> highest;
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto fields = Fields(lines[i]);
    if (leaser_ && fields.size() == 3 && fields[0] == "lease") {
      const auto first = Decimal(fields[1]);
      const auto last = Decimal(fields[2]);
      if (first && last && *first <= *last) blocks_.push_back({*first, *last});
      continue;
    }
    const auto spent = SpentValue(lines[i]);
    if (!spent) continue;
    if (Bytes(spent->number) != spent->bytes) {
      return "journal line " + std::to_string(i + 1) + ": number " + std::to_string(spent->number) + " as " +
             HexBytes(spent->bytes) + " is not what these serial numbers write; a journal of another run?";
    }
    highest = std::max(highest.value_or(0), spent->number);
  }
  if (rule_) {
    const SerialRule& r = *rule_;
    if (!highest || *highest < r.first) {
      candidate_ = r.first;
    } else {
      // The first of the rule's numbers above the highest spent, found by
      // steps: a journal from a rule with another first or step still never
      // leads to a number at or below one spent.
      const uint64_t steps = (*highest - r.first) / r.step + 1;
      if (steps <= (r.last - r.first) / r.step) candidate_ = r.first + steps * r.step;
    }
  } else {
    const uint64_t place = highest.value_or(0) + 1;
    if (place <= values_.size()) candidate_ = place;
  }
  return {};
}

void SerialSequence::LeaseAhead(bool mustTry) {
  const auto block = leaser_->Lease(mustTry);
  if (!block) return;
  // Kept before any of its numbers is used: a restart finds the block.
  if (!journal_.Append("lease " + std::to_string(block->first) + " " + std::to_string(block->last))) {
    failed_ = true;
    return;
  }
  blocks_.push_back(*block);
}

SerialNext SerialSequence::Next(std::string_view port, int64_t utcMs) {
  std::lock_guard lock(mutex_);
  if (failed_) return {SerialTake::kJournalFailed, {}};
  if (leaser_ && candidate_ && LeftInBlocks() <= lowWater_) {
    LeaseAhead(!Upcoming());
    if (failed_) return {SerialTake::kJournalFailed, {}};
  }
  const std::optional<uint64_t> upcoming = Upcoming();
  if (!upcoming) return {SerialTake::kRunOut, {}};
  const uint64_t number = *upcoming;
  const auto bytes = Bytes(number);
  if (!bytes) return {SerialTake::kRunOut, {}};
  SerialValue value{number, *bytes};
  // Written before anything else happens to the number: a crash from here
  // on leaves it spent, never handed out twice.
  if (!journal_.Append(FormatSpentLine(value, port, utcMs))) {
    failed_ = true;
    return {SerialTake::kJournalFailed, {}};
  }
  candidate_ = After(number);
  return {SerialTake::kTaken, std::move(value)};
}

}  // namespace kovra
