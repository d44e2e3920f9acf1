// SPDX-License-Identifier: MIT
#include "image/code_loader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "image/code_image.h"

namespace kovra {
namespace {

// Text lines are read like fgets into a 1024-byte buffer: a longer line
// arrives in pieces, and every piece is judged as a line of its own.
constexpr size_t kMaxPiece = 1023;
constexpr size_t kMinRecord = 11;
constexpr size_t kMaxRecordBytes = kMaxPiece / 2;
// No code file for 1 MiB of code comes near this: past it the "file" is
// something else, and reading on would take for ever.
constexpr uintmax_t kMaxTextBytes = uintmax_t{64} << 20;

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

// Hands out the file's text as fgets in text mode would on the system the
// files come from: "\r\n" reads as "\n", and a piece ends after a line feed
// or after kMaxPiece characters. The file is read in chunks, so a file of
// any size costs one small buffer.
class PieceReader {
 public:
  explicit PieceReader(std::istream& in, size_t chunk = size_t{1} << 16) : in_(in), chunk_(chunk) {}

  // The next piece; false at the end of the text or when reading failed.
  bool Next(std::string_view& piece) {
    if (end_ - pos_ <= kMaxPiece && !eof_) Refill();
    if (pos_ == end_) return false;
    const size_t room = std::min(kMaxPiece, end_ - pos_);
    const char* start = buffer_.data() + pos_;
    const char* lineFeed = static_cast<const char*>(std::memchr(start, '\n', room));
    const size_t length = lineFeed ? static_cast<size_t>(lineFeed - start) + 1 : room;
    piece = std::string_view(start, length);
    pos_ += length;
    return true;
  }

  bool Failed() const { return in_.bad(); }
  bool TooLarge() const { return total_ > kMaxTextBytes; }

 private:
  // Keeps what is left, reads until more than a piece is at hand (or the
  // file ends) and turns each "\r\n" into "\n". A '\r' at the end of what
  // was read waits for the next read to tell whether a '\n' follows.
  void Refill() {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(pos_));
    end_ -= pos_;
    pos_ = 0;
    while (!eof_ && end_ <= kMaxPiece) {
      const size_t old = buffer_.size();
      buffer_.resize(old + chunk_);
      in_.read(buffer_.data() + old, static_cast<std::streamsize>(chunk_));
      const size_t got = static_cast<size_t>(in_.gcount());
      buffer_.resize(old + got);
      eof_ = got < chunk_;
      total_ += got;
      if (TooLarge()) {
        eof_ = true;
        buffer_.clear();
        pos_ = end_ = 0;
        return;
      }
      end_ = Collapse(end_);
      if (!eof_ && end_ > 0 && buffer_[end_ - 1] == '\r') --end_;
    }
  }

  // Collapses "\r\n" from `from` on (one byte back, for a held '\r');
  // returns the end of the collapsed text.
  size_t Collapse(size_t from) {
    char* const data = buffer_.data();
    const size_t size = buffer_.size();
    size_t in = from, out = from;
    while (in < size) {
      const void* cr = std::memchr(data + in, '\r', size - in);
      const size_t stop = cr ? static_cast<size_t>(static_cast<const char*>(cr) - data) : size;
      std::memmove(data + out, data + in, stop - in);
      out += stop - in;
      in = stop;
      if (in == size) break;
      if (in + 1 < size && data[in + 1] == '\n') {
        ++in;  // the '\n' starts the next run
      } else {
        data[out++] = data[in++];
      }
    }
    buffer_.resize(out);
    return out;
  }

  std::istream& in_;
  const size_t chunk_;
  std::vector<char> buffer_;
  size_t pos_ = 0;  // next piece
  size_t end_ = 0;  // end of the collapsed text handed out so far
  bool eof_ = false;
  uintmax_t total_ = 0;
};

// image is already filled. loadedEnd is one past the highest address any data
// record reached; records can come in any order. damage may be null.
Outcome ParseHexText(PieceReader& text, std::span<uint8_t> image, uint32_t& loadedEnd, RecordDamage* damage) {
  uint64_t base = 0;  // type 02 and type 04 replace each other
  uint64_t end = 0;
  std::array<uint8_t, kMaxRecordBytes> bytes{};
  std::string_view piece;
  size_t nextLine = 1;
  while (text.Next(piece)) {
    // A piece cut by the length limit goes on in the next one.
    const size_t line = nextLine;
    if (piece.back() == '\n') ++nextLine;
    const auto note = [&](RecordDamage::Kind kind) {
      if (damage != nullptr && damage->kind == RecordDamage::Kind::kNone) *damage = {kind, line};
    };
    const std::string_view record = TrimToRecordMark(piece);
    if (record.empty()) continue;
    // Only the last mark's record loads: one before it is lost.
    if (piece.find(':') + record.size() != piece.size()) note(RecordDamage::Kind::kUnreadable);
    const std::string_view digits = record.substr(1);
    if (!AllRecordChars(digits) || !RecordLongEnough(record, kMinRecord)) {
      note(RecordDamage::Kind::kUnreadable);
      continue;
    }
    HexPairsToBytes(digits, bytes);

    const size_t count = bytes[0];
    uint8_t sum = 0;
    for (size_t i = 0; i < count + 5; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    if (sum != 0) {
      note(RecordDamage::Kind::kChecksum);
      return Outcome::kBadChecksum;
    }

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
  // memchr forwards beats a byte-by-byte search backwards: a record line
  // holds its one mark at the front.
  const char* from = line.data();
  const char* const end = from + line.size();
  const char* mark = nullptr;
  while (const void* hit = std::memchr(from, ':', static_cast<size_t>(end - from))) {
    mark = static_cast<const char*>(hit);
    from = mark + 1;
  }
  return mark ? line.substr(static_cast<size_t>(mark - line.data())) : std::string_view();
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

namespace {

// Ends a load that got as far as the image: the outcome's status, or the
// loaded range and its checksum.
void Finish(AppContext& ctx, Outcome outcome, uint32_t loadedEnd) {
  AppState& state = ctx.state;
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
  state.codeEnd = state.programEnd;
  ctx.window.SetText(id::kStatusLine, kLoadDone);
  ctx.window.SetText(id::kStartAddress, "0000");
  ctx.window.SetText(id::kEndAddress, NumberToText(state.programEnd, 16, 4));
  ShowImageChecksum(ctx);
}

void LoadHexText(AppContext& ctx, std::istream& in, RecordDamage* damage) {
  ctx.state.linkError = 0;
  ctx.window.SetText(id::kStatusLine, kLoadInProgress);
  ResetImageToFill(ctx.state);
  PieceReader text(in);
  uint32_t loadedEnd = 0;
  const Outcome outcome = ParseHexText(text, ctx.state.codeImage, loadedEnd, damage);
  if (text.Failed()) return Fail(ctx, kLoadTextOpenFailed);
  Finish(ctx, text.TooLarge() ? Outcome::kTooLarge : outcome, loadedEnd);
}

void LoadBinary(AppContext& ctx, const std::string& contents) {
  AppState& state = ctx.state;
  state.linkError = 0;
  ResetImageToFill(state);
  if (contents.size() > state.codeImage.size()) return Finish(ctx, Outcome::kTooLarge, 0);
  std::memcpy(state.codeImage.data(), contents.data(), contents.size());
  const auto loadedEnd = static_cast<uint32_t>(contents.size());
  Finish(ctx, loadedEnd == 0 ? Outcome::kNoCode : Outcome::kLoaded, loadedEnd);
}

}  // namespace

void LoadCodeFromBuffer(AppContext& ctx, bool binary, std::string contents) {
  if (binary) return LoadBinary(ctx, contents);
  std::istringstream in(std::move(contents));
  LoadHexText(ctx, in, nullptr);
}

void LoadCodeFile(AppContext& ctx, RecordDamage* damage) {
  if (damage != nullptr) *damage = {};
  ctx.state.linkError = 0;
  const std::string path = ctx.window.GetText(id::kFilePath);
  if (path.empty()) return Fail(ctx, kLoadNoPath);

  if (!IsBinaryName(path)) {
    // Only a regular file: a device or a pipe named here would be read for
    // ever, or would be the programmer's own port.
    std::error_code error;
    std::ifstream in;
    if (std::filesystem::is_regular_file(Utf8Path(path), error)) in.open(Utf8Path(path), std::ios::binary);
    if (!in.is_open()) return Fail(ctx, kLoadTextOpenFailed);
    return LoadHexText(ctx, in, damage);
  }
  std::string contents;
  switch (ReadWholeFile(Utf8Path(path), ctx.state.codeImage.size(), contents)) {
    case ReadResult::kCannotRead:
      ResetImageToFill(ctx.state);
      return Fail(ctx, kLoadBinaryOpenFailed);
    case ReadResult::kTooLarge:
      ResetImageToFill(ctx.state);
      return Fail(ctx, kLoadFileTooLarge);
    case ReadResult::kRead:
      break;
  }
  LoadBinary(ctx, contents);
}

bool ChooseCodeFile(AppContext& ctx) {
  const std::optional<std::string> path = ctx.dialogs.ChooseOpenFile(kOpenCodeFilter);
  if (!path) return false;
  if (!path->empty()) ctx.window.SetText(id::kFilePath, *path);
  return true;
}

}  // namespace kovra
