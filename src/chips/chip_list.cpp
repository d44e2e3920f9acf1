// SPDX-License-Identifier: MIT
#include "chips/chip_list.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "base/control_ids.h"
#include "base/program_key.h"
#include "base/text_helpers.h"
#include "base/texts.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDelimiters{" ,\t;:"};
// Lines are read as fgets reads them into a 128-byte buffer: the rest of a
// longer line counts as the next line.
constexpr size_t kPieceMax = 127;
constexpr size_t kFieldsNeeded = 6;
constexpr std::string_view kSkipMark{"3"};
// Far beyond any chip list: past it the "list" is something else.
constexpr size_t kListMaxBytes = size_t{64} << 20;

// A run of delimiters ends a field; a run at the very end therefore opens
// one more, empty, field. Characters past the 15th of a field are dropped.
std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (kDelimiters.find(c) != std::string_view::npos) {
      if (!fields.back().empty()) fields.emplace_back();
    } else if (fields.back().size() < kChipNameMax) {
      fields.back() += c;
    }
  }
  return fields;
}

std::string ShortField(const std::string& field) { return ToUpperAscii(field.substr(0, kChipFieldMax)); }

// The folder and the file name joined as text, so that a bare drive such
// as "C:" still means its root folder.
fs::path ListFilePath(const std::string& folder) {
  const char last = folder.empty() ? '\0' : folder.back();
  const bool endsInSeparator = last == '/' || (fs::path::preferred_separator == '\\' && last == '\\');
  std::string joined = folder;
  if (!endsInSeparator) joined += static_cast<char>(fs::path::preferred_separator);
  return Utf8Path(joined + kChipListFileName);
}

void KeepOnlyNoChipRow(AppState& state) {
  state.chipTable.assign(kChipRows, ChipRecord{});
  state.chipTable[0].name = kNoChipName;
  state.chipCount = 1;
  state.chipListLoaded = 0;
}

bool LoadFromPath(const fs::path& path, AppState& state) {
  std::string bytes;
  const bool read = ReadWholeFile(path, kListMaxBytes, bytes) == ReadResult::kRead;
  std::vector<ChipRecord> rows = read ? ParseChipList(bytes) : std::vector<ChipRecord>{};
  KeepOnlyNoChipRow(state);
  // An empty table would leave nothing to select; treat it as no file.
  if (rows.empty()) return false;
  std::move(rows.begin(), rows.end(), state.chipTable.begin());
  state.chipCount = static_cast<uint32_t>(rows.size());
  state.chipListLoaded = 1;
  return true;
}

}  // namespace

// A text-mode stream would read CR LF as LF. That needs no emulation here:
// the CR is stripped with the line end, and a piece left holding only the
// LF has no field to load.
std::vector<ChipListLine> ParseChipListLines(std::string_view fileBytes) {
  std::vector<ChipListLine> lines;
  size_t listed = 0;
  size_t pos = 0;
  while (pos < fileBytes.size() && listed < kChipRows) {
    const size_t newline = fileBytes.find('\n', pos);
    const size_t lineEnd = newline == std::string_view::npos ? fileBytes.size() : newline + 1;
    std::string_view piece = fileBytes.substr(pos, std::min(lineEnd - pos, kPieceMax));
    pos += piece.size();
    // Pieces are C strings: a NUL ends one.
    piece = piece.substr(0, piece.find('\0'));
    while (!piece.empty() && (piece.back() == '\r' || piece.back() == '\n')) piece.remove_suffix(1);

    const std::vector<std::string> fields = SplitFields(piece);
    if (fields.size() < kFieldsNeeded) continue;
    const bool shown = fields[5] != kSkipMark;
    if (shown) ++listed;
    lines.push_back({ChipRecord{ToUpperAscii(fields[0]), ShortField(fields[1]), ShortField(fields[2]),
                                ShortField(fields[3]), ShortField(fields[4])},
                     shown});
  }
  return lines;
}

std::vector<ChipRecord> ParseChipList(std::string_view fileBytes) {
  std::vector<ChipRecord> rows;
  for (ChipListLine& line : ParseChipListLines(fileBytes)) {
    if (line.listed) rows.push_back(std::move(line.chip));
  }
  return rows;
}

std::optional<std::vector<ChipListLine>> ReadChipListLines(const std::string& path) {
  std::string bytes;
  if (ReadWholeFile(Utf8Path(path), kListMaxBytes, bytes) != ReadResult::kRead) return std::nullopt;
  return ParseChipListLines(bytes);
}

bool LoadChipListFile(const std::string& path, AppState& state) { return LoadFromPath(Utf8Path(path), state); }

void LoadChipList(AppContext& ctx) {
  // A recorded folder is the only place looked at, so that a broken
  // installation is reported rather than quietly served by another list.
  std::optional<std::string> folder = ctx.registry.ReadString(Hive::kMachine, kSettingsKey, "setup");
  if (!folder) folder = ctx.programFolder.Path();
  if (folder && LoadFromPath(ListFilePath(*folder), ctx.state)) return;
  KeepOnlyNoChipRow(ctx.state);
  ctx.window.ShowMessageBox({.text = "调入指定安装路径的烧写器芯片列表文件失败!",
                             .caption = kWarningCaption,
                             .buttons = MbButtons::kOk,
                             .icon = MbIcon::kNone,
                             .defaultButton = 0});
}

void FillChipCombo(AppContext& ctx) {
  ctx.window.ComboReset(id::kChipCombo);
  for (uint32_t row = 0; row < ctx.state.chipCount && row < ctx.state.chipTable.size(); ++row) {
    ctx.window.ComboAdd(id::kChipCombo, ctx.state.chipTable[row].name);
  }
  ctx.window.ComboSelect(id::kChipCombo, 0);
}

int SelectedChipIndex(AppContext& ctx) {
  const std::string text = ctx.window.GetText(id::kChipCombo).substr(0, kChipNameMax);
  if (text.empty()) return 0;
  const std::vector<ChipRecord>& table = ctx.state.chipTable;
  const size_t rows = std::min<size_t>(ctx.state.chipCount, table.size());
  for (size_t row = 0; row < rows; ++row) {
    if (table[row].name == text) return static_cast<int>(row);
  }
  return 0;
}

}  // namespace kovra
