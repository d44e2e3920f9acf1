// SPDX-License-Identifier: MIT
#include "cli/job_file.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string_view>
#include <toml.hpp>

#include "base/app_state.h"
#include "base/sha256.h"
#include "base/text_helpers.h"
#include "cli/station.h"
#include "ops/line_outbox.h"
#include "ops/operations.h"

namespace kovra::cli {
namespace {

// Ordered tables: of several unknown keys, the same one is named each time.
using Value = toml::basic_value<toml::discard_comments, std::map, std::vector>;

// A job file is a page of settings; anything larger is not one.
constexpr size_t kJobMaxBytes = size_t{1} << 20;

// What the command line may change of a job. The code, the chip, the golden
// checksum and the serials make the product, so no flag touches them.
constexpr std::string_view kOverridable[] = {"ports", "record", "count", "steps"};

struct JobRefusal {
  std::string message;
};

std::string TypeName(const Value& value) {
  std::ostringstream name;
  name << value.type();
  return name.str();
}

bool IsHex(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

// One table of the job file: its own name in messages, "" at the top.
struct Section {
  const Value& value;
  std::string name;

  std::string Key(const std::string& key) const { return name.empty() ? key : name + "." + key; }
};

class Reader {
 public:
  Reader(std::string shown, std::filesystem::path folder) : shown_(std::move(shown)), folder_(std::move(folder)) {}

  [[noreturn]] void Fail(const Value& at, const std::string& what) const {
    throw JobRefusal{shown_ + ":" + std::to_string(at.location().line()) + ": " + what};
  }

  void OnlyKeys(const Section& s, std::initializer_list<std::string_view> known) const {
    for (const auto& [key, value] : s.value.as_table()) {
      if (std::find(known.begin(), known.end(), key) != known.end()) continue;
      Fail(value, s.name.empty() && value.is_table() ? "unknown table [" + key + "]" : "unknown key " + s.Key(key));
    }
  }

  std::optional<Section> Table(const Section& root, const std::string& name, bool required) const {
    const auto& table = root.value.as_table();
    const auto found = table.find(name);
    if (found == table.end()) {
      if (required) throw JobRefusal{shown_ + ": no [" + name + "] table"};
      return std::nullopt;
    }
    if (!found->second.is_table()) Fail(found->second, name + " must be a table, not " + TypeName(found->second));
    return Section{found->second, name};
  }

  const Value* Get(const Section& s, const std::string& key, bool required) const {
    const auto& table = s.value.as_table();
    const auto found = table.find(key);
    if (found != table.end()) return &found->second;
    if (required) Fail(s.value, "[" + s.name + "] has no " + key);
    return nullptr;
  }

  std::optional<std::string> Text(const Section& s, const std::string& key, bool required) const {
    const Value* value = Get(s, key, required);
    if (!value) return std::nullopt;
    if (!value->is_string()) Fail(*value, s.Key(key) + " must be a string, not " + TypeName(*value));
    const std::string& text = value->as_string().str;
    if (text.empty()) Fail(*value, s.Key(key) + " is empty");
    return text;
  }

  // Hexadecimal digits, from minDigits to maxDigits of them.
  std::optional<std::string> Hex(const Section& s, const std::string& key, bool required, size_t minDigits,
                                 size_t maxDigits) const {
    const auto text = Text(s, key, required);
    if (text && (!IsHex(*text) || text->size() < minDigits || text->size() > maxDigits)) {
      const std::string count = minDigits == maxDigits ? std::to_string(minDigits)
                                                       : std::to_string(minDigits) + " to " + std::to_string(maxDigits);
      Fail(*Get(s, key, true), s.Key(key) + " must be " + count + " hexadecimal digits, not \"" + *text + "\"");
    }
    return text;
  }

  std::optional<int64_t> Integer(const Section& s, const std::string& key, bool required, int64_t min,
                                 int64_t max) const {
    const Value* value = Get(s, key, required);
    if (!value) return std::nullopt;
    if (!value->is_integer()) Fail(*value, s.Key(key) + " must be an integer, not " + TypeName(*value));
    const int64_t number = value->as_integer();
    if (number < min || number > max) {
      Fail(*value, s.Key(key) + " must be from " + std::to_string(min) + " to " + std::to_string(max) + ", not " +
                       std::to_string(number));
    }
    return number;
  }

  std::optional<std::vector<std::string>> Texts(const Section& s, const std::string& key) const {
    const Value* value = Get(s, key, false);
    if (!value) return std::nullopt;
    if (!value->is_array()) Fail(*value, s.Key(key) + " must be an array of strings, not " + TypeName(*value));
    std::vector<std::string> texts;
    for (const Value& item : value->as_array()) {
      if (!item.is_string() || item.as_string().str.empty()) {
        Fail(item, s.Key(key) + " must hold non-empty strings, not " +
                       (item.is_string() ? std::string("an empty one") : TypeName(item)));
      }
      texts.push_back(item.as_string().str);
    }
    return texts;
  }

  std::optional<std::string> Path(const Section& s, const std::string& key, bool required) const {
    const auto text = Text(s, key, required);
    if (!text) return std::nullopt;
    return PathText((folder_ / Utf8Path(*text)).lexically_normal());
  }

 private:
  std::string shown_;
  std::filesystem::path folder_;
};

void ReadCode(const Reader& r, const Section& root, JobFile& job) {
  const Section code = *r.Table(root, "code", true);
  r.OnlyKeys(code, {"file", "sha256"});
  job.codeFile = *r.Path(code, "file", true);
  job.codeSha256 = *r.Hex(code, "sha256", true, 64, 64);
  std::transform(job.codeSha256.begin(), job.codeSha256.end(), job.codeSha256.begin(),
                 [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; });
}

void ReadChip(const Reader& r, const Section& root, JobFile& job) {
  const Section chip = *r.Table(root, "chip", true);
  r.OnlyKeys(chip, {"name", "list", "expect_checksum"});
  job.chip = *r.Text(chip, "name", true);
  job.chipList = r.Path(chip, "list", false);
  if (const auto sum = r.Hex(chip, "expect_checksum", false, 4, 4)) {
    job.expectChecksum = static_cast<uint16_t>(HexToNumber(*sum, 16));
  }
}

void ReadRun(const Reader& r, const Section& root, JobFile& job) {
  const auto run = r.Table(root, "run", false);
  if (!run) return;
  r.OnlyKeys(*run, {"steps", "ports", "record", "allow_override"});

  job.steps = r.Texts(*run, "steps");
  if (job.steps) {
    const Value& at = *r.Get(*run, "steps", true);
    const auto steps = AutoSteps();
    for (const std::string& name : *job.steps) {
      if (std::none_of(steps.begin(), steps.end(), [&](const AutoStep& s) { return name == s.name; })) {
        r.Fail(at, "run.steps: unknown step " + name + " (steps: " + StepNames() + ")");
      }
    }
    if (std::find(job.steps->begin(), job.steps->end(), "program") == job.steps->end()) {
      r.Fail(at, "run.steps must include program");
    }
  }
  job.ports = r.Texts(*run, "ports").value_or(std::vector<std::string>{});
  // A database is no file of the job's folder.
  const auto record = r.Text(*run, "record", false);
  job.record = record && IsDatabaseRecord(*record) ? record : r.Path(*run, "record", false);
  job.allowOverride = r.Texts(*run, "allow_override").value_or(std::vector<std::string>{});
  for (const std::string& name : job.allowOverride) {
    if (std::find(std::begin(kOverridable), std::end(kOverridable), name) == std::end(kOverridable)) {
      r.Fail(*r.Get(*run, "allow_override", true),
             "run.allow_override: " + name + " cannot be overridden (only ports, record, count, steps)");
    }
  }
}

std::optional<Encoding> EncodingNamed(std::string_view name) {
  for (Encoding encoding :
       {Encoding::kBinaryLittle, Encoding::kBinaryBig, Encoding::kBcd, Encoding::kAsciiDecimal, Encoding::kAsciiHex}) {
    if (EncodingName(encoding) == name) return encoding;
  }
  return std::nullopt;
}

struct Block {
  std::string name;
  uint64_t first = 0;
  uint64_t last = 0;
  const Value* at = nullptr;
};

// [serial.blocks]: NAME = [FIRST, LAST], the parts of one range the PCs of a
// line take, so no two of them ever hand out the same number.
std::vector<Block> ReadBlocks(const Reader& r, const Section& s, const SerialRule& rule) {
  const Value* table = r.Get(s, "blocks", false);
  if (!table) return {};
  if (!table->is_table()) r.Fail(*table, "serial.blocks must be a table, not " + TypeName(*table));
  std::vector<Block> blocks;
  for (const auto& [name, value] : table->as_table()) {
    const std::string key = "serial.blocks." + name;
    const bool pair = value.is_array() && value.as_array().size() == 2 && value.as_array()[0].is_integer() &&
                      value.as_array()[1].is_integer();
    if (!pair) r.Fail(value, key + " must be [FIRST, LAST], two integers");
    const int64_t first = value.as_array()[0].as_integer();
    const int64_t last = value.as_array()[1].as_integer();
    if (first < 0 || first > last) r.Fail(value, key + ": FIRST must be from 0 to LAST");
    const Block block{name, static_cast<uint64_t>(first), static_cast<uint64_t>(last), &value};
    if (block.first < rule.first || block.last > rule.last) {
      r.Fail(value, key + " reaches outside serial.first..serial.last (" + std::to_string(rule.first) + ".." +
                        std::to_string(rule.last) + ")");
    }
    blocks.push_back(block);
  }
  if (blocks.empty()) r.Fail(*table, "[serial.blocks] holds no block");
  // Named on the later line of the two, where the fault was made.
  std::sort(blocks.begin(), blocks.end(),
            [](const Block& a, const Block& b) { return a.at->location().line() < b.at->location().line(); });
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (blocks[i].first <= blocks[j].last && blocks[j].first <= blocks[i].last) {
        r.Fail(*blocks[i].at, "serial.blocks." + blocks[i].name + " overlaps serial.blocks." + blocks[j].name);
      }
    }
  }
  return blocks;
}

// The range narrowed to the block: its first number on the rule's step.
void NarrowToBlock(const Reader& r, const Section& s, const std::vector<Block>& blocks, JobSerial& serial) {
  const Value* chosen = r.Get(s, "block", false);
  if (blocks.empty()) {
    if (chosen) r.Fail(*chosen, "serial.block needs [serial.blocks], the blocks it chooses from");
    return;
  }
  if (!chosen) r.Fail(s.value, "[serial] has blocks but no block: this PC's block must be chosen");
  serial.block = r.Text(s, "block", true);
  const auto block = std::find_if(blocks.begin(), blocks.end(), [&](const Block& b) { return b.name == serial.block; });
  if (block == blocks.end()) r.Fail(*chosen, "serial.block: no block " + *serial.block + " in [serial.blocks]");
  SerialRule& rule = *serial.rule;
  const uint64_t steps = (block->first - rule.first + rule.step - 1) / rule.step;
  if (steps > (block->last - rule.first) / rule.step) {
    r.Fail(*block->at, "serial.blocks." + block->name + " holds no number of the range's step");
  }
  rule.first += steps * rule.step;
  rule.last = block->last;
}

void ReadSerial(const Reader& r, const Section& root, JobFile& job) {
  const auto table = r.Table(root, "serial", false);
  if (!table) return;
  const Section& s = *table;
  r.OnlyKeys(s, {"address", "width", "encoding", "first", "step", "last", "list", "journal", "blocks", "block"});

  JobSerial serial;
  serial.address = HexToNumber(*r.Hex(s, "address", true, 1, 5), 16);
  serial.width = static_cast<int>(*r.Integer(s, "width", true, 1, 8));
  if (serial.address + static_cast<uint32_t>(serial.width) > kImageSize) {
    r.Fail(*r.Get(s, "address", true), "serial.address: the serial number would pass the end of the memory");
  }

  // The numbers come from a list or from a range, never both. A list holds
  // the bytes themselves: an encoding beside it would be ignored.
  serial.list = r.Path(s, "list", false);
  if (serial.list) {
    for (const char* key : {"encoding", "first", "step", "last", "blocks", "block"}) {
      if (const Value* clash = r.Get(s, key, false))
        r.Fail(*clash, std::string("serial.") + key + " does not go with serial.list (a range or a list, not both)");
    }
  } else {
    if (!r.Get(s, "first", false)) r.Fail(s.value, "[serial] has neither first nor list");
    SerialRule rule;
    rule.address = serial.address;
    rule.width = serial.width;
    const std::string encoding = *r.Text(s, "encoding", true);
    const auto named = EncodingNamed(encoding);
    if (!named) r.Fail(*r.Get(s, "encoding", true), "serial.encoding must be le, be, bcd, dec or hex, not " + encoding);
    rule.encoding = *named;
    constexpr int64_t kMost = INT64_MAX;
    rule.first = static_cast<uint64_t>(*r.Integer(s, "first", true, 0, kMost));
    rule.step = static_cast<uint64_t>(r.Integer(s, "step", false, 1, kMost).value_or(1));
    // The run must know before the first chip that its last number fits.
    rule.last = static_cast<uint64_t>(*r.Integer(s, "last", true, static_cast<int64_t>(rule.first), kMost));
    if (const std::string problem = SerialRuleProblem(rule); !problem.empty()) {
      r.Fail(*r.Get(s, "last", true), "serial." + problem);
    }
    serial.rule = rule;
    NarrowToBlock(r, s, ReadBlocks(r, s, rule), serial);
  }
  if (!job.record || !IsDatabaseRecord(*job.record)) {
    serial.journal = *r.Path(s, "journal", true);
  } else if (const auto* journal = r.Get(s, "journal", false)) {
    r.Fail(*journal,
           "serial.journal: with a database record the numbers are leased from it, and the station's "
           "journal keeps them");
  }
  job.serial = serial;
}

// toml11's first line without its "[error] toml::function: " lead.
std::string SyntaxReason(const std::string& what) {
  std::string line = what.substr(0, what.find('\n'));
  const size_t lead = line.find(": ");
  if (line.starts_with("[error] toml::") && lead != std::string::npos) line.erase(0, lead + 2);
  return line;
}

}  // namespace

std::variant<JobFile, std::string> ReadJobFile(const std::string& path) {
  const std::filesystem::path file = Utf8Path(path);
  std::string contents;
  switch (ReadWholeFile(file, kJobMaxBytes, contents)) {
    case ReadResult::kRead:
      break;
    case ReadResult::kCannotRead:
      return path + ": cannot be read (a regular file is needed)";
    case ReadResult::kTooLarge:
      return path + ": larger than a job file can be";
  }

  JobFile job;
  job.path = path;
  job.sha256 = Sha256Hex(contents);
  const Reader reader(path, file.parent_path());
  try {
    std::istringstream in(contents);
    const Value root = toml::parse<toml::discard_comments, std::map, std::vector>(in, path);
    const Section top{root, ""};
    reader.OnlyKeys(top, {"code", "chip", "run", "serial"});
    ReadCode(reader, top, job);
    ReadChip(reader, top, job);
    ReadRun(reader, top, job);
    ReadSerial(reader, top, job);
  } catch (const toml::syntax_error& e) {
    return path + ":" + std::to_string(e.location().line()) + ": " + SyntaxReason(e.what());
  } catch (const JobRefusal& refusal) {
    return refusal.message;
  } catch (const std::exception& e) {
    return path + ": " + e.what();
  }
  return job;
}

std::optional<std::string> CheckCodeFile(const JobFile& job) {
  const auto sha = Sha256HexOfFile(Utf8Path(job.codeFile));
  if (!sha) return job.codeFile + ": cannot be read";
  if (*sha != job.codeSha256) return job.codeFile + ": SHA-256 " + *sha + " differs from the job's " + job.codeSha256;
  return std::nullopt;
}

}  // namespace kovra::cli
