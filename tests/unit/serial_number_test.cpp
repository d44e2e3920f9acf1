// SPDX-License-Identifier: MIT
// Serial numbers: their bytes, the rules a run refuses, and the sequence
// over a real journal file and under several ports at once.

#include "base/serial_number.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "linux/posix_serial_journal.h"
#include "ops/serial_sequence.h"
#include "support/memory_serial_journal.h"
#include "support/sample_files.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

TEST(SerialNumber, BytesRulesAndLists) {
  using E = Encoding;
  const struct {
    uint64_t number;
    int width;
    Encoding encoding;
    const char* bytes;  // nullptr: does not fit
  } encodings[] = {
      {0x1234, 2, E::kBinaryLittle, "3412"},
      {0x1234, 2, E::kBinaryBig, "1234"},
      {0x10000, 2, E::kBinaryLittle, nullptr},
      {256, 1, E::kBinaryBig, nullptr},
      {UINT64_MAX, 8, E::kBinaryBig, "FFFFFFFFFFFFFFFF"},
      {1234, 2, E::kBcd, "1234"},
      {42, 4, E::kBcd, "00000042"},
      {10000, 2, E::kBcd, nullptr},
      {9999999999999999, 8, E::kBcd, "9999999999999999"},
      {42, 4, E::kAsciiDecimal, "30303432"},
      {10000, 4, E::kAsciiDecimal, nullptr},
      {0xAB, 3, E::kAsciiHex, "304142"},
      {0x1000, 3, E::kAsciiHex, nullptr},
      {1, 0, E::kBinaryBig, nullptr},
      {1, 9, E::kBinaryBig, nullptr},
  };
  for (const auto& row : encodings) {
    const auto bytes = EncodeSerial(row.number, row.width, row.encoding);
    EXPECT_EQ(bytes ? HexBytes(*bytes) : "none", row.bytes ? row.bytes : "none")
        << row.number << " in " << row.width << " of " << EncodingName(row.encoding);
  }

  // What is refused, by a word of the message; "" for a rule that stands.
  // The range is 0000..1FFF unless a row names its own start.
  const struct {
    const char* text;
    const char* problem;
    uint32_t start = 0;
  } rules[] = {
      {"0100:4:bcd:1:1:9999", ""},
      {"0038:4:le:1:1:9", ""},  // ends just before the option bytes
      {"0039:4:le:1:1:9", "SMART"},
      {"003F:1:le:1:1:9", "SMART"},
      {"003C:4:le:1:1:9", "SMART"},
      {"0040:2:le:1:1:9", ""},  // just after them
      {"1FFE:2:be:1:1:9", ""},
      {"1FFF:2:be:1:1:9", "outside"},
      {"00FF:2:be:1:1:9", "outside", 0x0100},
      {"0100:2:be:1:1:9", "", 0x0100},
      {"FFFFFFFF:8:be:1:1:9", "outside"},
      {"0100:2:dec:1:1:99", ""},
      {"0100:2:bcd:1:1:10000", "does not fit"},
      {"0100:1:le:0:1:256", "does not fit"},
      {"0100:8:le:0:1:18446744073709551615", ""},
      {"0100:8:le:0:1:18446744073709551616", "last"},
      {"0100:4:bcd:1:1", "ADDRESS:WIDTH"},
      {"01G0:4:bcd:1:1:9", "address"},
      {"0100:0:bcd:1:1:9", "width"},
      {"0100:9:bcd:1:1:9", "width"},
      {"0100:4:oct:1:1:9", "encoding"},
      {"0100:4:bcd:x:1:9", "first"},
      {"0100:4:bcd:1:0:9", "step"},
      {"0100:4:bcd:9:1:1", "past last"},
  };
  for (const auto& row : rules) {
    const ParsedSerialRule parsed = ParseSerialRule(row.text);
    const std::string problem =
        parsed.rule ? SerialPlacementProblem(parsed.rule->address, parsed.rule->width, row.start, 0x1FFF)
                    : parsed.error;
    EXPECT_EQ(parsed.rule.has_value(), parsed.error.empty()) << row.text;
    if (*row.problem == '\0') {
      EXPECT_EQ(problem, "") << row.text;
    } else {
      EXPECT_NE(problem.find(row.problem), std::string::npos) << row.text << ": " << problem;
    }
  }

  const struct {
    const char* text;
    const char* result;  // the values, or a word of the error
  } lists[] = {
      {"# lot 7\r\n0a1b\r\n\r\n  0C1D  # the last\r\n", "0A1B 0C1D"},
      {"0A1B\n0A1\n", "line 2"},
      {"0A1B\n\n0A1B2C\n", "line 3"},
      {"0A1B\nzz00\n", "line 2"},
      {"0A1B\n0C1D\n0a1b\n", "repeats line 1"},
      {"# nothing yet\n", "no value"},
  };
  for (const auto& row : lists) {
    const ParsedSerialList list = ParseSerialList(row.text, 2);
    std::string got = list.error;
    for (const auto& value : list.values) got += (got.empty() ? "" : " ") + HexBytes(value);
    EXPECT_NE(got.find(row.result), std::string::npos) << row.text << ": " << got;
  }
}

std::string Take(SerialSequence& sequence) {
  const SerialNext next = sequence.Next("/dev/kovra/a b", 1'796'745'600'000);
  if (next.take == SerialTake::kRunOut) return "run out";
  if (next.take == SerialTake::kJournalFailed) return "journal failed";
  return std::to_string(next.value.number) + "=" + HexBytes(next.value.bytes);
}

std::string FileText(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

TEST(SerialSequence, RestartsFromItsJournal) {
  const test::TempDir scratch;
  const std::string path = (scratch.path() / "serials.journal").string();
  const SerialRule rule = *ParseSerialRule("0100:2:bcd:1:2:9").rule;
  std::string error;
  {
    auto journal = linux_platform::PosixSerialJournal::Open(path, error);
    ASSERT_TRUE(journal) << error;
    EXPECT_FALSE(linux_platform::PosixSerialJournal::Open(path, error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    auto sequence = SerialSequence::FromRule(rule, *journal, error);
    ASSERT_TRUE(sequence) << error;
    EXPECT_EQ(Take(*sequence), "1=0001");
    EXPECT_EQ(Take(*sequence), "3=0003");
  }
  EXPECT_EQ(FileText(path),
            "spent 0000000001 0001 /dev/kovra/a_b 2026-12-08T16:00:00Z\n"
            "spent 0000000003 0003 /dev/kovra/a_b 2026-12-08T16:00:00Z\n");

  // A crash in the middle of the next line: its number never reached a chip.
  std::ofstream(path, std::ios::app) << "spent 0000000005 0005 /dev/kov";
  {
    auto journal = linux_platform::PosixSerialJournal::Open(path, error);
    ASSERT_TRUE(journal) << error;
    // A journal of another rule says nothing about this one's numbers.
    EXPECT_FALSE(SerialSequence::FromRule(*ParseSerialRule("0100:2:le:1:2:9").rule, *journal, error));
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    auto sequence = SerialSequence::FromRule(rule, *journal, error);
    ASSERT_TRUE(sequence) << error;
    EXPECT_EQ(Take(*sequence), "5=0005");
    EXPECT_EQ(Take(*sequence), "7=0007");
  }
  {
    auto journal = linux_platform::PosixSerialJournal::Open(path, error);
    ASSERT_TRUE(journal) << error;
    auto sequence = SerialSequence::FromRule(rule, *journal, error);
    ASSERT_TRUE(sequence) << error;
    EXPECT_EQ(Take(*sequence), "9=0009");
    EXPECT_EQ(Take(*sequence), "run out");
    EXPECT_EQ(Take(*sequence), "run out");
  }
  const auto lines = JournalLines(FileText(path));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "spent 0000000005 0005 /dev/kov");
  EXPECT_EQ(lines[3].substr(0, 22), "spent 0000000005 0005 ");

  // A list: each value once, in order, across a restart.
  const std::string listPath = (scratch.path() / "list.journal").string();
  const auto values = ParseSerialList("0A1B2C3D\nDEADBEEF\n", 4).values;
  for (const char* expected : {"1=0A1B2C3D", "2=DEADBEEF"}) {
    auto journal = linux_platform::PosixSerialJournal::Open(listPath, error);
    ASSERT_TRUE(journal) << error;
    auto sequence = SerialSequence::FromList(values, *journal, error);
    ASSERT_TRUE(sequence) << error;
    EXPECT_EQ(Take(*sequence), expected);
  }
  auto journal = linux_platform::PosixSerialJournal::Open(listPath, error);
  ASSERT_TRUE(journal) << error;
  EXPECT_EQ(Take(*SerialSequence::FromList(values, *journal, error)), "run out");

  // Once an append fails, no number goes out until a person has looked.
  test::MemorySerialJournal memory;
  auto sequence = SerialSequence::FromRule(rule, memory, error);
  memory.refuse = true;
  EXPECT_EQ(Take(*sequence), "journal failed");
  memory.refuse = false;
  EXPECT_EQ(Take(*sequence), "journal failed");
  EXPECT_EQ(memory.contents, "");
}

TEST(SerialSequence, PortsTakingNumbersAtOnce) {
  test::MemorySerialJournal journal;
  std::string error;
  auto sequence = SerialSequence::FromRule(*ParseSerialRule("0100:4:le:1000:1:1399").rule, journal, error);
  ASSERT_TRUE(sequence) << error;
  std::vector<std::vector<uint64_t>> taken(4);
  std::vector<std::thread> ports;
  for (auto& mine : taken) {
    ports.emplace_back([&sequence, &mine] {
      for (SerialNext next; (next = sequence->Next("port", 0)).take == SerialTake::kTaken;) {
        mine.push_back(next.value.number);
      }
    });
  }
  for (auto& port : ports) port.join();

  std::vector<uint64_t> all;
  for (const auto& mine : taken) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  std::vector<uint64_t> expected(400);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = 1000 + i;
  EXPECT_EQ(all, expected);
  // And the journal holds them in the order they went out.
  const auto lines = *journal.Lines();
  ASSERT_EQ(lines.size(), 400u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(std::stoull(lines[i].substr(6, 10)), 1000 + i) << i;
}

}  // namespace
}  // namespace kovra
