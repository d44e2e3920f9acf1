// SPDX-License-Identifier: MIT
#include "base/serial_number.h"

#include <algorithm>
#include <array>
#include <map>

#include "base/request_frame.h"
#include "base/text_helpers.h"

namespace kovra {
namespace {

constexpr int kMaxWidth = 8;

struct EncodingEntry {
  Encoding encoding;
  std::string_view name;
};
constexpr std::array<EncodingEntry, 5> kEncodings{{
    {Encoding::kBinaryLittle, "le"},
    {Encoding::kBinaryBig, "be"},
    {Encoding::kBcd, "bcd"},
    {Encoding::kAsciiDecimal, "dec"},
    {Encoding::kAsciiHex, "hex"},
}};

uint64_t Power(uint64_t base, int exponent) {
  uint64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= base;
  return result;
}

// The largest number width bytes hold; width is 1..8, so nothing overflows.
uint64_t Largest(int width, Encoding encoding) {
  switch (encoding) {
    case Encoding::kBinaryLittle:
    case Encoding::kBinaryBig:
      return width == kMaxWidth ? UINT64_MAX : Power(256, width) - 1;
    case Encoding::kBcd:
      return Power(10, 2 * width) - 1;
    case Encoding::kAsciiDecimal:
      return Power(10, width) - 1;
    case Encoding::kAsciiHex:
      return Power(16, width) - 1;
  }
  return 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<uint64_t> ParseUnsigned(std::string_view text, int base, int maxDigits) {
  if (text.empty() || static_cast<int>(text.size()) > maxDigits) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return value;
}

std::string Hex(uint64_t value, int digits) {
  std::string text;
  do {
    text.insert(text.begin(), "0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return text;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(text);
  quoted += '"';
  return quoted;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string_view EncodingName(Encoding encoding) {
  for (const auto& entry : kEncodings) {
    if (entry.encoding == encoding) return entry.name;
  }
  return "?";
}

std::optional<std::vector<uint8_t>> EncodeSerial(uint64_t number, int width, Encoding encoding) {
  if (width < 1 || width > kMaxWidth || number > Largest(width, encoding)) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(width));
  // Filled from the last byte, the least significant one but for "le".
  for (auto at = bytes.rbegin(); at != bytes.rend(); ++at) {
    switch (encoding) {
      case Encoding::kBinaryLittle:
      case Encoding::kBinaryBig:
        *at = static_cast<uint8_t>(number);
        number >>= 8;
        break;
      case Encoding::kBcd:
        *at = static_cast<uint8_t>(number % 10 | (number / 10 % 10) << 4);
        number /= 100;
        break;
      case Encoding::kAsciiDecimal:
        *at = static_cast<uint8_t>('0' + number % 10);
        number /= 10;
        break;
      case Encoding::kAsciiHex:
        *at = static_cast<uint8_t>("0123456789ABCDEF"[number & 0xF]);
        number >>= 4;
        break;
    }
  }
  if (encoding == Encoding::kBinaryLittle) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

std::string SerialRuleProblem(const SerialRule& rule) {
  if (rule.width < 1 || rule.width > kMaxWidth) return "width " + std::to_string(rule.width) + " is not 1 to 8";
  if (rule.step == 0) return "step must be at least 1";
  if (rule.first > rule.last) {
    return "first " + std::to_string(rule.first) + " is past last " + std::to_string(rule.last);
  }
  const uint64_t largest = Largest(rule.width, rule.encoding);
  if (rule.last > largest) {
    return "last " + std::to_string(rule.last) + " does not fit " + std::to_string(rule.width) + " byte(s) of " +
           std::string(EncodingName(rule.encoding)) + " (at most " + std::to_string(largest) + ")";
  }
  return {};
}

std::string SerialPlacementProblem(uint32_t address, int width, uint32_t start, uint32_t end) {
  if (width < 1 || width > kMaxWidth) return "width " + std::to_string(width) + " is not 1 to 8";
  const uint64_t lastByte = uint64_t{address} + static_cast<uint64_t>(width) - 1;
  const std::string bytes = "the number's bytes " + Hex(address, 4) + "H.." + Hex(lastByte, 4) + "H";
  constexpr uint32_t tagFirst = RequestFrame::kImageTagFrom;
  constexpr uint32_t tagLast = tagFirst + 3;
  if (address <= tagLast && lastByte >= tagFirst) {
    // The programmer takes these four image bytes from the request frame as
    // the SMART option bytes, not from its memory: a number there is never
    // programmed as such.
    return bytes + " overlap " + Hex(tagFirst, 4) + "H.." + Hex(tagLast, 4) + "H, the chip's SMART option bytes";
  }
  if (address < start || lastByte > end) {
    return bytes + " lie outside the programming range " + Hex(start, 4) + "H.." + Hex(end, 4) + "H";
  }
  return {};
}

ParsedSerialRule ParseSerialRule(std::string_view text) {
  std::vector<std::string_view> fields;
  for (size_t from = 0;;) {
    const size_t colon = text.find(':', from);
    fields.push_back(text.substr(from, colon == std::string_view::npos ? colon : colon - from));
    if (colon == std::string_view::npos) break;
    from = colon + 1;
  }
  if (fields.size() != 6)
    return {std::nullopt, "a serial rule is ADDRESS:WIDTH:ENCODING:FIRST:STEP:LAST, not " + Quoted(text)};

  SerialRule rule;
  const auto address = ParseUnsigned(fields[0], 16, 8);
  if (!address) return {std::nullopt, "address " + Quoted(fields[0]) + " is not a hexadecimal number"};
  rule.address = static_cast<uint32_t>(*address);
  const auto width = ParseUnsigned(fields[1], 10, 2);
  if (!width || *width < 1 || *width > kMaxWidth)
    return {std::nullopt, "width " + Quoted(fields[1]) + " is not 1 to 8"};
  rule.width = static_cast<int>(*width);
  const auto encoding = std::find_if(kEncodings.begin(), kEncodings.end(),
                                     [&](const EncodingEntry& entry) { return entry.name == fields[2]; });
  if (encoding == kEncodings.end()) {
    return {std::nullopt, "encoding " + Quoted(fields[2]) + " is not le, be, bcd, dec or hex"};
  }
  rule.encoding = encoding->encoding;
  const std::pair<const char*, uint64_t*> numbers[] = {
      {"first", &rule.first}, {"step", &rule.step}, {"last", &rule.last}};
  for (size_t i = 0; i < 3; ++i) {
    const auto value = ParseUnsigned(fields[3 + i], 10, 20);
    if (!value)
      return {std::nullopt, std::string(numbers[i].first) + " " + Quoted(fields[3 + i]) + " is not a decimal number"};
    *numbers[i].second = *value;
  }
  if (std::string problem = SerialRuleProblem(rule); !problem.empty()) return {std::nullopt, problem};
  return {rule, {}};
}

ParsedSerialList ParseSerialList(std::string_view text, int width) {
  if (width < 1 || width > kMaxWidth) return {{}, "width " + std::to_string(width) + " is not 1 to 8"};
  ParsedSerialList list;
  // Where each value stands, to name the first line of a repeated one.
  // Keyed by the bytes as one number: a value is at most eight of them.
  std::map<uint64_t, size_t> lineOf;
  size_t lineNumber = 0;
  for (size_t from = 0; from < text.size();) {
    const size_t newline = text.find('\n', from);
    std::string_view line = text.substr(from, newline == std::string_view::npos ? newline : newline - from);
    from = newline == std::string_view::npos ? text.size() : newline + 1;
    ++lineNumber;
    line = Trimmed(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const auto value = ParseHexBytes(line);
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (!value || static_cast<int>(value->size()) != width) {
      return {{}, where + Quoted(line) + " is not " + std::to_string(width) + " byte(s) in hexadecimal"};
    }
    uint64_t key = 0;
    for (uint8_t byte : *value) key = key << 8 | byte;
    const auto [earlier, added] = lineOf.emplace(key, lineNumber);
    if (!added) return {{}, where + Quoted(line) + " repeats line " + std::to_string(earlier->second)};
    list.values.push_back(*value);
  }
  if (list.values.empty()) return {{}, "the list holds no value"};
  return list;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t byte : bytes) text += Hex(byte, 2);
  return text;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::string SerialRuleText(const SerialRule& rule) {
  return Hex4(rule.address) + ":" + std::to_string(rule.width) + ":" + std::string(EncodingName(rule.encoding)) + ":" +
         std::to_string(rule.first) + ":" + std::to_string(rule.step) + ":" + std::to_string(rule.last);
}

}  // namespace kovra
