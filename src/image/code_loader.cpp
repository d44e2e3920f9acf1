#include "image/code_loader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <utility>

#include "app/control_ids.h"
#include "image/code_image.h"
#include "image/text_helpers.h"

namespace kovra {
namespace {

// Text lines are read like fgets into a 1024-byte buffer: a longer line
// arrives in pieces, and every piece is judged as a line of its own.
constexpr size_t kMaxPiece = 1023;
constexpr size_t kMinRecord = 11;
constexpr size_t kMaxRecordBytes = kMaxPiece / 2;

constexpr std::array<int8_t, 256> kHexValue = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
  return table;
}();

// HexDigitSet as a table: the set test runs on every character of the file.
constexpr std::array<bool, 256> kRecordChar = [] {
  std::array<bool, 256> table{};
  for (char c : HexDigitSet) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

int HexValue(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

bool AllRecordChars(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return kRecordChar[static_cast<unsigned char>(c)]; });
}

enum class Outcome { kLoaded, kBadChecksum, kAddressTooHigh, kTooLarge, kNoCode };

// What a C text stream does to line ends on the system the files come from.
void CollapseLineEnds(std::string& text) {
  size_t in = text.find("\r\n");
  if (in == std::string::npos) return;
  size_t out = in;
  in += 1;  // the '\n' starts the next run
  while (in < text.size()) {
    const size_t cr = text.find("\r\n", in);
    const size_t stop = cr == std::string::npos ? text.size() : cr;
    std::memmove(text.data() + out, text.data() + in, stop - in);
    out += stop - in;
    if (cr == std::string::npos) break;
    in = cr + 1;
  }
  text.resize(out);
}

// image is already filled. loadedEnd is one past the highest address any data
// record reached; records can come in any order.
Outcome ParseHexText(std::string_view text, std::span<uint8_t> image, uint32_t& loadedEnd) {
  uint64_t base = 0;  // type 02 and type 04 replace each other
  uint64_t end = 0;
  std::array<uint8_t, kMaxRecordBytes> bytes{};
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t room = std::min(kMaxPiece, text.size() - pos);
    const char* start = text.data() + pos;
    const char* lineFeed = static_cast<const char*>(std::memchr(start, '\n', room));
    const size_t length = lineFeed ? static_cast<size_t>(lineFeed - start) + 1 : room;
    const std::string_view piece(start, length);
    pos += length;

    const std::string_view record = TrimToRecordMark(piece);
    if (record.empty()) continue;
    const std::string_view digits = record.substr(1);
    if (!AllRecordChars(digits) || !RecordLongEnough(record, kMinRecord)) continue;
    HexPairsToBytes(digits, bytes);

    const size_t count = bytes[0];
    uint8_t sum = 0;
    for (size_t i = 0; i < count + 5; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    if (sum != 0) return Outcome::kBadChecksum;

    const uint8_t type = bytes[3];
    const uint32_t recordAddress = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
    if (type == 0x02 || type == 0x04) {
      // Without its two data bytes a record carries no base to take.
      if (count >= 2) {
        const uint64_t value = static_cast<uint64_t>(bytes[4]) << 8 | bytes[5];
        base = type == 0x02 ? value << 4 : value << 16;
      }
      continue;
    }
    if (type != 0x00 && type != 0x20) continue;

    const uint64_t first = base + recordAddress;
    if (first + count > image.size()) return Outcome::kAddressTooHigh;
    std::copy_n(bytes.begin() + 4, count, image.begin() + static_cast<ptrdiff_t>(first));
    end = std::max(end, first + count);
  }
  loadedEnd = static_cast<uint32_t>(end);
  return end == 0 ? Outcome::kNoCode : Outcome::kLoaded;
}

enum class ReadResult { kRead, kCannotRead, kTooLarge };

ReadResult ReadWholeFile(const std::filesystem::path& path, size_t limit, std::string& out) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return ReadResult::kCannotRead;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return ReadResult::kCannotRead;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > limit) return ReadResult::kTooLarge;

  // One byte more than the size so that one read meets the end of the file.
  constexpr size_t kChunk = size_t{1} << 16;
  size_t want = error ? kChunk : static_cast<size_t>(size) + 1;
  try {
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
  } catch (const std::exception&) {
    return ReadResult::kCannotRead;  // no memory for a file that size
  }
  return in.bad() ? ReadResult::kCannotRead : ReadResult::kRead;
}

void Fail(AppContext& ctx, std::string_view status) {
  ctx.window.SetText(id::kStatusLine, status);
  ctx.state.linkError = 1;
}

}  // namespace

bool IsBinaryName(std::string_view path) {
  constexpr std::string_view kBin = ".bin";
  if (path.size() < kBin.size()) return false;
  const std::string_view tail = path.substr(path.size() - kBin.size());
  return std::equal(tail.begin(), tail.end(), kBin.begin(), [](char c, char want) {
    return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == want;
  });
}

std::string_view TrimToRecordMark(std::string_view line) {
  const size_t mark = line.rfind(':');
  return mark == std::string_view::npos ? std::string_view() : line.substr(mark);
}

bool RecordLongEnough(std::string_view record, size_t minimum) {
  if (record.size() < minimum) return false;
  const std::string_view lengthDigits = record.substr(std::min<size_t>(1, record.size()), 2);
  // No wrap: a length that is not hexadecimal asks for more than any line holds.
  const uint64_t count = HexToNumber(lengthDigits, 16);
  return record.size() >= 2 * count + minimum;
}

size_t HexPairsToBytes(std::string_view text, std::span<uint8_t> out) {
  const size_t count = std::min((text.size() + 1) / 2, out.size());
  for (size_t i = 0; i < count; ++i) {
    const int high = HexValue(text[2 * i]);
    if (2 * i + 1 == text.size()) {
      out[i] = high < 0 ? 0xFF : static_cast<uint8_t>(high);
      continue;
    }
    const int low = HexValue(text[2 * i + 1]);
    out[i] = high < 0 || low < 0 ? 0xFF : static_cast<uint8_t>(high << 4 | low);
  }
  return count;
}

void LoadCodeFromBuffer(AppContext& ctx, bool binary, std::string contents) {
  AppState& state = ctx.state;
  state.linkError = 0;
  Outcome outcome = Outcome::kNoCode;
  uint32_t loadedEnd = 0;
  if (binary) {
    ResetImageToFill(state);
    if (contents.size() > state.codeImage.size()) {
      outcome = Outcome::kTooLarge;
    } else {
      std::memcpy(state.codeImage.data(), contents.data(), contents.size());
      loadedEnd = static_cast<uint32_t>(contents.size());
      outcome = loadedEnd == 0 ? Outcome::kNoCode : Outcome::kLoaded;
    }
  } else {
    ctx.window.SetText(id::kStatusLine, kLoadInProgress);
    ResetImageToFill(state);
    CollapseLineEnds(contents);
    outcome = ParseHexText(contents, state.codeImage, loadedEnd);
  }

  switch (outcome) {
    case Outcome::kBadChecksum:
      return Fail(ctx, kLoadBadChecksum);
    case Outcome::kAddressTooHigh:
      return Fail(ctx, kLoadAddressTooHigh);
    case Outcome::kTooLarge:
      return Fail(ctx, kLoadFileTooLarge);
    case Outcome::kNoCode:
      return Fail(ctx, kLoadNoCode);
    case Outcome::kLoaded:
      break;
  }
  state.programStart = 0;
  state.programEnd = loadedEnd - 1;
  ctx.window.SetText(id::kStatusLine, kLoadDone);
  ctx.window.SetText(id::kStartAddress, "0000");
  ctx.window.SetText(id::kEndAddress, NumberToText(state.programEnd, 16, 16, 4));
  ShowImageChecksum(ctx);
}

void LoadCodeFile(AppContext& ctx) {
  ctx.state.linkError = 0;
  const std::string path = ctx.window.GetText(id::kFilePath);
  if (path.empty()) return Fail(ctx, kLoadNoPath);

  const bool binary = IsBinaryName(path);
  std::string contents;
  const size_t limit = binary ? ctx.state.codeImage.size() : std::numeric_limits<size_t>::max() - 1;
  switch (ReadWholeFile(Utf8Path(path), limit, contents)) {
    case ReadResult::kCannotRead:
      if (!binary) return Fail(ctx, kLoadTextOpenFailed);
      ResetImageToFill(ctx.state);
      return Fail(ctx, kLoadBinaryOpenFailed);
    case ReadResult::kTooLarge:
      ResetImageToFill(ctx.state);
      return Fail(ctx, kLoadFileTooLarge);
    case ReadResult::kRead:
      break;
  }
  LoadCodeFromBuffer(ctx, binary, std::move(contents));
}

bool ChooseCodeFile(AppContext& ctx) {
  const std::optional<std::string> path = ctx.dialogs.ChooseOpenFile(kOpenCodeFilter);
  if (!path) return false;
  if (!path->empty()) ctx.window.SetText(id::kFilePath, *path);
  return true;
}

}  // namespace kovra
