// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/app_context.h"
#include "base/chip_record.h"

namespace kovra {

inline constexpr const char* kChipListFileName = "samlist.txt";
inline constexpr const char* kNoChipName = "NOSELEC";

// The loadable lines of a chip list file, in file order, at most kChipRows.
// fileBytes are the file's raw bytes; line ends are read as a text-mode
// stream reads them.
std::vector<ChipRecord> ParseChipList(std::string_view fileBytes);

// A line with all six fields: its chip, and whether the window lists it (a
// sixth field of 3 keeps it out of the list).
struct ChipListLine {
  ChipRecord chip;
  bool listed = true;
};
// Every such line in file order, up to the one that fills the window's
// table: ParseChipList's rows and the ones it leaves out between them.
std::vector<ChipListLine> ParseChipListLines(std::string_view fileBytes);
// The same from the file at path (UTF-8); nullopt when it cannot be read.
std::optional<std::vector<ChipListLine>> ReadChipListLines(const std::string& path);

// Reads the list file at path (UTF-8) into the chip table. False when the
// file cannot be read or has no loadable line; the table then holds the
// single row NOSELEC and chipListLoaded is 0.
bool LoadChipListFile(const std::string& path, AppState& state);

// Loads samlist.txt from the installation folder named in the registry
// ("setup"), or, when none is recorded, from the program's own folder. A
// missing or useless file keeps the single row NOSELEC and is reported
// with a warning.
void LoadChipList(AppContext& ctx);

// Fills the chip combo box with the table's names in table order and
// selects entry 0.
void FillChipCombo(AppContext& ctx);

// The first table row whose name equals the combo box selection; 0 (no
// chip) when none does.
int SelectedChipIndex(AppContext& ctx);

}  // namespace kovra
