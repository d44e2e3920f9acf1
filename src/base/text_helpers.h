// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kovra {

// The characters a HEX record may hold after its ':': the hexadecimal
// digits and the control characters a line may carry (bell, line end, tab).
// The code view's fields are checked against the same set.
inline constexpr std::string_view HexDigitSet{"0123456789ABCDEFabcdef\a\n\r\t"};

// HexToNumber's answer for a text with a character outside the base.
inline constexpr uint32_t kBadNumber = 0xFFFFFFFF;

bool AllCharsIn(std::string_view text, std::string_view set);

// base is 2, 10 or 16; the sum wraps modulo 2^32; empty text gives 0.
uint32_t HexToNumber(std::string_view text, int base);

// Unsigned digits (upper-case letters), left-padded with '0' to width.
// Padding never cuts digits.
std::string NumberToText(uint32_t value, int base, int width);

// Exactly n characters: left-padded with '0', or the last n characters.
// Empty when the text has more than 40 characters.
std::string FitDigits(std::string_view text, int n);

// Four upper-case hexadecimal digits, as the address and checksum fields show.
std::string Hex4(uint32_t value);

// At least five upper-case hexadecimal digits, as addresses are shown; one
// past FFFFFH keeps all its digits.
std::string Hex5(uint32_t value);

// Decimal digits left-padded with '0' to width, as the counters show.
std::string Decimal(uint32_t value, int width);

std::string ToUpperAscii(std::string_view text);

// A path from the UTF-8 text the window and the dialogs use. Going through
// char8_t makes the system take it as UTF-8, not as its ANSI code page.
std::filesystem::path Utf8Path(std::string_view utf8);

// Inverse of Utf8Path: the path as UTF-8 text, for messages and status lines.
std::string PathText(const std::filesystem::path& path);

enum class ReadResult { kRead, kCannotRead, kTooLarge };
// The whole of a regular file into out, refused past limit bytes. A device
// or a pipe under the name is not read: it could go on for ever, or be the
// programmer's own port.
ReadResult ReadWholeFile(const std::filesystem::path& path, size_t limit, std::string& out);

}  // namespace kovra
