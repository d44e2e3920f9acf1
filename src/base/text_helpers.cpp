// SPDX-License-Identifier: MIT
#include "base/text_helpers.h"

#include <fstream>

namespace kovra {
namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  }
  return v < base ? v : -1;
}

}  // namespace

bool AllCharsIn(std::string_view text, std::string_view set) {
  return text.find_first_not_of(set) == std::string_view::npos;
}

uint32_t HexToNumber(std::string_view text, int base) {
  uint32_t sum = 0;
  uint32_t power = 1;
  for (size_t i = text.size(); i-- > 0;) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return kBadNumber;
    sum += static_cast<uint32_t>(digit) * power;
    power *= static_cast<uint32_t>(base);
  }
  return sum;
}

std::string NumberToText(uint32_t value, int base, int width) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value % static_cast<uint32_t>(base)]);
    value /= static_cast<uint32_t>(base);
  } while (value != 0);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return digits;
}

std::string FitDigits(std::string_view text, int n) {
  if (text.size() > 40) return {};
  const size_t want = static_cast<size_t>(n);
  if (text.size() >= want) return std::string(text.substr(text.size() - want));
  return std::string(want - text.size(), '0') + std::string(text);
}

std::string Hex4(uint32_t value) { return NumberToText(value, 16, 4); }

std::string Hex5(uint32_t value) { return NumberToText(value, 16, 5); }

std::string Decimal(uint32_t value, int width) { return NumberToText(value, 10, width); }

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

ReadResult ReadWholeFile(const std::filesystem::path& path, size_t limit, std::string& out) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return ReadResult::kCannotRead;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return ReadResult::kCannotRead;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > limit) return ReadResult::kTooLarge;

  // One byte more than the size so that one read meets the end of the file.
  constexpr size_t kChunk = size_t{1} << 16;
  size_t want = error ? kChunk : static_cast<size_t>(size) + 1;
  out.clear();
  for (;;) {
    const size_t old = out.size();
    out.resize(old + want);
    in.read(out.data() + old, static_cast<std::streamsize>(want));
    const size_t got = static_cast<size_t>(in.gcount());
    out.resize(old + got);
    if (out.size() > limit) return ReadResult::kTooLarge;
    if (got < want) break;
    want = kChunk;
  }
  return in.bad() ? ReadResult::kCannotRead : ReadResult::kRead;
}

}  // namespace kovra
