// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// How a chip's number is laid out in its bytes.
enum class Encoding {
  kBinaryLittle,  // "le"
  kBinaryBig,     // "be"
  kBcd,           // "bcd": two digits a byte, most significant byte first
  kAsciiDecimal,  // "dec": right-aligned, zero-padded
  kAsciiHex,      // "hex": the same, upper-case
};

// The numbers first, first + step, ... up to last, each written as width
// bytes at address of the code image.
struct SerialRule {
  uint32_t address = 0;
  int width = 0;  // 1..8
  Encoding encoding = Encoding::kBinaryLittle;
  uint64_t first = 0;
  uint64_t step = 1;
  uint64_t last = 0;
};

// The rule, or what is wrong with the text (error).
struct ParsedSerialRule {
  std::optional<SerialRule> rule;
  std::string error;
};
// ADDRESS:WIDTH:ENCODING:FIRST:STEP:LAST, as the command line takes it:
// "0100:4:bcd:1:1:9999". ADDRESS is hexadecimal, the numbers decimal. A rule
// that SerialRuleProblem refuses is an error too.
ParsedSerialRule ParseSerialRule(std::string_view text);

std::string_view EncodingName(Encoding encoding);
// As --serial takes it: "0100:2:bcd:1:1:9999".
std::string SerialRuleText(const SerialRule& rule);

// number as width bytes; nullopt when it does not fit them (or width is not
// 1..8).
std::optional<std::vector<uint8_t>> EncodeSerial(uint64_t number, int width, Encoding encoding);

// What makes the rule unusable whatever the chip; empty when nothing. A last
// number that does not fit is refused here, not when the run reaches it.
std::string SerialRuleProblem(const SerialRule& rule);

// Why width bytes at address cannot carry a number in a run over start..end;
// empty when they can.
std::string SerialPlacementProblem(uint32_t address, int width, uint32_t start, uint32_t end);

// The values of a list file, in order, or what is wrong with it.
struct ParsedSerialList {
  std::vector<std::vector<uint8_t>> values;
  std::string error;
};
// One value a line, as exactly width bytes in hexadecimal ("0A1B2C3D");
// blank lines and '#' comments are skipped. A malformed line, a value that
// repeats an earlier one and a list with no value are refused; the error
// names the line.
ParsedSerialList ParseSerialList(std::string_view text, int width);

struct SerialValue {
  uint64_t number = 0;
  std::vector<uint8_t> bytes;
};

enum class SerialTake {
  kTaken,          // value holds the number, already in the journal
  kRunOut,         // past last, or the list used up
  kJournalFailed,  // the journal could not be written: program no chip
};

struct SerialNext {
  SerialTake take = SerialTake::kRunOut;
  SerialValue value;
};

// Where a run takes the chip's number from: each call hands out one no
// call before it did, spent from then on, for port at utcMs.
class SerialSource {
 public:
  virtual ~SerialSource() = default;
  virtual SerialNext Next(std::string_view port, int64_t utcMs) = 0;
};

// Upper-case hexadecimal, two digits a byte.
std::string HexBytes(const std::vector<uint8_t>& bytes);
// The inverse; nullopt for an odd count or a character that is no digit.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);

}  // namespace kovra
