// SPDX-License-Identifier: MIT
// Serial numbers: their bytes, the rules a run refuses, the list files.

#include "base/serial_number.h"

#include <gtest/gtest.h>

namespace kovra {
namespace {

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

}  // namespace
}  // namespace kovra
