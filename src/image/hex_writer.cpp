// SPDX-License-Identifier: MIT
#include "image/hex_writer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "base/control_ids.h"
#include "base/text_helpers.h"

namespace kovra {
namespace {

constexpr uint32_t kBlockSize = 256;
constexpr uint32_t kRecordSize = 16;
constexpr size_t kWriteChunk = size_t{1} << 18;

char* PutByte(char* at, uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  *at++ = kDigits[value >> 4];
  *at++ = kDigits[value & 0x0F];
  return at;
}

// data holds at most 16 bytes.
void AppendRecord(std::string& out, uint8_t type, uint16_t address, std::span<const uint8_t> data) {
  std::array<char, 1 + 2 * (4 + kRecordSize + 1) + 2> line;
  char* at = line.data();
  *at++ = ':';
  const auto count = static_cast<uint8_t>(data.size());
  const auto high = static_cast<uint8_t>(address >> 8);
  const auto low = static_cast<uint8_t>(address);
  uint8_t sum = static_cast<uint8_t>(count + high + low + type);
  at = PutByte(PutByte(PutByte(PutByte(at, count), high), low), type);
  for (uint8_t byte : data) {
    at = PutByte(at, byte);
    sum = static_cast<uint8_t>(sum + byte);
  }
  at = PutByte(at, static_cast<uint8_t>(-sum));
  *at++ = '\r';
  *at++ = '\n';
  out.append(line.data(), at);
}

// The file grows under a temporary name beside the target and takes the
// target's name only once complete: the user's name never holds a cut-off
// file, and an older file there survives a failed or interrupted save.
class PendingFile {
 public:
  explicit PendingFile(std::filesystem::path target) : target_(std::move(target)) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  ~PendingFile() {
    if (out_.is_open()) out_.close();
    std::error_code ignored;
    if (!temp_.empty() && !committed_) std::filesystem::remove(temp_, ignored);
  }

  bool Create() {
    if (!target_.has_filename()) return false;
    std::error_code error;
    if (std::filesystem::exists(target_, error)) {
      // A target we could not have opened for writing (read-only, locked
      // by another program, a folder) fails now, as creating it would.
      std::ofstream probe(target_, std::ios::binary | std::ios::app);
      if (!probe.is_open()) return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
      std::filesystem::path candidate = target_;
      candidate += ".~" + Hex5(UniqueNumber()) + ".tmp";
      if (std::filesystem::exists(candidate, error) || error) continue;
      out_.open(candidate, std::ios::binary | std::ios::trunc);
      if (out_.is_open()) temp_ = candidate;
      return out_.is_open();
    }
    return false;
  }

  bool Write(std::string_view text) {
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    return out_.good();
  }

  bool Commit() {
    out_.flush();
    const bool written = out_.good();
    out_.close();
    if (!written || out_.fail()) return false;
    std::error_code error;
    std::filesystem::rename(temp_, target_, error);
    committed_ = !error;
    return committed_;
  }

 private:
  static uint32_t UniqueNumber() {
    static std::atomic<uint32_t> counter{0};
    const auto now = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (now ^ (counter.fetch_add(1) * 0x9E3779B9u)) & 0xFFFFF;
  }

  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::ofstream out_;
  bool committed_ = false;
};

// A block that could not be read is the link's failure; the file's own
// is a file error.
void FailSave(AppContext& ctx, bool fileFailed) {
  ctx.state.linkError = 1;
  if (fileFailed) ctx.state.outcome.Fail(Failure::kFileError);
  ctx.window.SetText(id::kStatusLine, kSaveFailed);
}

}  // namespace

bool ImageBlockSource::ReadBlock(uint32_t first, uint32_t last, uint8_t* out) {
  if (first > last || last >= state_.codeImage.size()) return false;
  std::copy(state_.codeImage.begin() + first, state_.codeImage.begin() + last + 1, out);
  return true;
}

void AppendHexRecords(std::string& out, uint32_t first, std::span<const uint8_t> bytes, uint32_t& segment) {
  size_t done = 0;
  while (done < bytes.size()) {
    const uint32_t address = first + static_cast<uint32_t>(done);
    if (address >> 16 != segment) {
      segment = address >> 16;
      // The paragraph of the segment's start, so that the data records'
      // 16-bit addresses count from there.
      const auto paragraph = static_cast<uint16_t>(segment << 12);
      const std::array<uint8_t, 2> value{static_cast<uint8_t>(paragraph >> 8), static_cast<uint8_t>(paragraph)};
      AppendRecord(out, 0x02, 0, value);
    }
    const size_t count = std::min<size_t>(kRecordSize - address % kRecordSize, bytes.size() - done);
    AppendRecord(out, 0x00, static_cast<uint16_t>(address), bytes.subspan(done, count));
    done += count;
  }
}

void SaveMemoryAsHex(AppContext& ctx, BlockSource& memorySource) {
  AppState& state = ctx.state;
  state.linkError = 0;
  state.interruptRequested = 0;
  const std::optional<std::string> chosen = ctx.dialogs.ChooseSaveFile(kSaveHexFilter);
  if (!chosen) return state.outcome.Refuse("no file chosen");

  // Taken once: a file is made from one source, even if the box is
  // clicked while the save runs.
  ImageBlockSource imageSource(state);
  BlockSource& source = ctx.window.IsChecked(id::kDebugMode) ? imageSource : memorySource;

  PendingFile file(Utf8Path(*chosen));
  if (!file.Create()) {
    state.linkError = 1;
    state.outcome.Fail(Failure::kFileError);
    ctx.window.SetText(id::kStatusLine, kSaveCannotCreate);
    return;
  }

  const uint32_t last = state.programEnd;
  std::string text;
  text.reserve(kWriteChunk + 32 * kBlockSize);
  std::array<uint8_t, kBlockSize> block{};
  uint32_t segment = 0;
  for (uint32_t address = state.programStart; address <= last;) {
    if (state.interruptRequested) {
      state.outcome.Fail(Failure::kInterrupted);
      ctx.window.SetText(id::kStatusLine, kSaveInterrupted);
      return;
    }
    const uint32_t blockEnd = address >> 8 == last >> 8 ? last : address | (kBlockSize - 1);
    ctx.window.SetText(id::kStatusLine, std::string(kSaveProgress) + Hex5(address) + "~" + Hex5(blockEnd));
    if (!source.ReadBlock(address, blockEnd, block.data()) || state.linkError) return FailSave(ctx, false);
    AppendHexRecords(text, address, std::span(block.data(), blockEnd - address + 1), segment);
    if (text.size() >= kWriteChunk) {
      if (!file.Write(text)) return FailSave(ctx, true);
      text.clear();
    }
    if (blockEnd == last) break;  // also ends a range that reaches 0xFFFFFFFF
    address = blockEnd + 1;
  }
  if (state.hexEndRecord) AppendRecord(text, 0x01, 0, {});
  if (!file.Write(text) || !file.Commit()) return FailSave(ctx, true);
  ctx.window.SetText(id::kStatusLine, std::string(kSaveDone) + *chosen);
}

}  // namespace kovra
