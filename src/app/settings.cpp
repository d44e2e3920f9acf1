// SPDX-License-Identifier: MIT
#include "app/settings.h"

#include <optional>
#include <string>
#include <string_view>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "chips/chip_list.h"

namespace kovra {
namespace {

// What the fixed read buffers hold, terminator excluded.
constexpr size_t kPortNameMax = 7;
constexpr size_t kChipValueMax = 15;
constexpr const char* kDefaultPort = "COM1";

// The combo box's select-string order: entries 1 to the end, then entry 0.
// text is upper case, as every entry is.
int FindEntry(MainWindow& w, std::string_view text, bool whole) {
  const int count = w.ComboCount(id::kChipCombo);
  for (int k = 1; k <= count; ++k) {
    const int entry = k % count;
    const std::string item = w.ComboItem(id::kChipCombo, entry);
    if (whole ? item == text : item.starts_with(text)) return entry;
  }
  return -1;
}

// The whole name first, so that a saved KV1 does not come back as KV10; a
// value cut to 10 characters is still found by its prefix.
int FindChipEntry(MainWindow& w, std::string_view text) {
  if (text.empty()) return -1;
  const int entry = FindEntry(w, text, true);
  return entry >= 0 ? entry : FindEntry(w, text, false);
}

// The user's own value; else one an older installation left for the
// whole machine.
std::optional<std::string> ReadSaved(Registry& reg, std::string_view name) {
  std::optional<std::string> value = reg.ReadString(Hive::kUser, kSettingsKey, name);
  return value ? value : reg.ReadString(Hive::kMachine, kSettingsKey, name);
}

}  // namespace

void LoadSettings(AppContext& ctx) {
  Registry& reg = ctx.registry;
  if (!reg.KeyExists(Hive::kUser, kSettingsKey) && !reg.KeyExists(Hive::kMachine, kSettingsKey)) return;

  const std::optional<std::string> port = ReadSaved(reg, "com");
  ctx.state.currentPortName = port && port->size() <= kPortNameMax ? *port : kDefaultPort;

  const std::string chip = ToUpperAscii(ReadSaved(reg, "chip").value_or("").substr(0, kChipValueMax));
  int entry = FindChipEntry(ctx.window, chip);
  if (entry < 0) entry = FindChipEntry(ctx.window, kNoChipName);
  if (entry >= 0) ctx.window.ComboSelect(id::kChipCombo, entry);

  // Only a line that asks for a production record gets one.
  ctx.state.recordPath = ReadSaved(reg, "record").value_or("");
}

void SaveSettings(AppContext& ctx) {
  Registry& reg = ctx.registry;
  if (!reg.WriteString(Hive::kUser, kSettingsKey, "com", ctx.state.currentPortName)) return;
  const ChipRecord& chip = ctx.state.chipTable[static_cast<size_t>(SelectedChipIndex(ctx))];
  // The whole name: a 10-character cut can bring back a different chip.
  reg.WriteString(Hive::kUser, kSettingsKey, "chip", chip.name);
}

}  // namespace kovra
