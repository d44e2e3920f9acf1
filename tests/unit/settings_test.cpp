// SPDX-License-Identifier: MIT
#include "app/settings.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/control_ids.h"
#include "chips/chip_list.h"
#include "support/test_context.h"

namespace kovra {
namespace {

// Entry 1 begins with entry 2's name; entries 3 and 4 share their first 12
// characters.
constexpr const char* kList =
    "NOSELEC OTP 0 VCC 5V 1\nKV86C08LONG OTP 0 12V 5V 1\nKV86C08 OTP 0 12V 5V 1\n"
    "KV86M10ABCDE MTP 0 VCC 5V 1\nKV86M10ABCDEFGH MTP 0 VCC 5V 1\nKV86C04 OTP 0 12V 5V 1\n";

struct World : test::TestWorld {
  explicit World(const char* list = kList) {
    const std::vector<ChipRecord> rows = ParseChipList(list);
    std::copy(rows.begin(), rows.end(), state.chipTable.begin());
    state.chipCount = static_cast<uint32_t>(rows.size());
    state.chipListLoaded = 1;
    FillChipCombo(ctx);
  }
  int Selection() { return window.ComboSelection(id::kChipCombo); }
};

TEST(Settings, RestoresPortAndChip) {
  using std::nullopt;
  struct Case {
    const char* label;
    const char* list;
    std::optional<std::string> com, chip;
    std::string port;
    int entry;
  } cases[] = {
      {"saved values", kList, "COM3", "KV86C04", "COM3", 5},
      {"nothing saved", kList, nullopt, nullopt, "COM1", 0},
      {"seven-character port, empty chip", kList, "COM1234", "", "COM1234", 0},
      {"eight-character port", kList, "COM12345", nullopt, "COM1", 0},
      {"padding after the port", kList, std::string("COM9\0\0\0\0", 8), nullopt, "COM9", 0},
      {"whole name before a longer one", kList, "", "KV86C08", "", 2},
      {"lower-case name", kList, "", "kv86c08", "", 2},
      {"prefix: first in search order", kList, "", "KV86C0", "", 1},
      {"10-character form", kList, "", "KV86M10ABC", "", 3},
      {"cut to 15 characters", kList, "", "KV86M10ABCDEFGHIJ", "", 4},
      {"unknown chip", kList, "", "ZZ", "", 0},
      {"search starts after entry 0", "KV1X O 0 V 5V 1\nKV1Y O 0 V 5V 1\n", "", "KV1", "", 1},
      {"NOSELEC after entry 0", "KV1 O 0 V 5V 1\nNOSELEC O 0 V 5V 1\n", "", "ZZ", "", 1},
      {"no NOSELEC entry", "KV1 O 0 V 5V 1\nKV2 O 0 V 5V 1\n", "", "ZZ", "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    World w(c.list);
    w.registry.WriteString(Hive::kMachine, kSettingsKey, "setup", "/opt/kovra");
    if (c.com) w.registry.WriteString(Hive::kMachine, kSettingsKey, "com", *c.com);
    if (c.chip) w.registry.WriteString(Hive::kMachine, kSettingsKey, "chip", *c.chip);
    w.window.ComboAdd(id::kChipCombo, "SENTINEL");  // selected first, so that keeping a selection shows
    w.window.ComboSelect(id::kChipCombo, 2);
    LoadSettings(w.ctx);
    EXPECT_EQ(w.state.currentPortName, c.port);
    EXPECT_EQ(w.Selection(), c.entry);
  }

  World noKey;
  noKey.window.ComboSelect(id::kChipCombo, 2);
  LoadSettings(noKey.ctx);
  EXPECT_EQ(noKey.state.currentPortName, "");
  EXPECT_EQ(noKey.Selection(), 2);
}

TEST(Settings, RoundTripsEveryEntry) {
  for (int entry = 0; entry < 6; ++entry) {
    World w;
    w.state.currentPortName = "COM7";
    w.window.ComboSelect(id::kChipCombo, entry);
    SaveSettings(w.ctx);
    EXPECT_EQ(w.registry.ReadString(Hive::kUser, kSettingsKey, "chip"), w.window.ComboItem(id::kChipCombo, entry));

    w.state.currentPortName.clear();
    w.window.ComboSelect(id::kChipCombo, 0);
    LoadSettings(w.ctx);
    EXPECT_EQ(w.state.currentPortName, "COM7");
    EXPECT_EQ(w.Selection(), entry);
  }
}

// A standard user cannot write the machine's key: the port and the chip
// are kept per user, and what an older installation left machine-wide is
// only the first start's default.
TEST(Settings, StandardUserKeepsTheSettingsAcrossRestarts) {
  World w;
  w.registry.WriteString(Hive::kMachine, kSettingsKey, "com", "COM2");
  w.registry.WriteString(Hive::kMachine, kSettingsKey, "chip", "KV86C04");
  w.registry.SetReadOnly(Hive::kMachine, true);
  LoadSettings(w.ctx);
  EXPECT_EQ(w.state.currentPortName, "COM2");
  EXPECT_EQ(w.Selection(), 5);

  w.state.currentPortName = "COM5";
  w.window.ComboSelect(id::kChipCombo, 2);
  SaveSettings(w.ctx);
  w.state.currentPortName.clear();
  w.window.ComboSelect(id::kChipCombo, 0);
  LoadSettings(w.ctx);
  EXPECT_EQ(w.state.currentPortName, "COM5");
  EXPECT_EQ(w.Selection(), 2);
  EXPECT_EQ(w.registry.ReadString(Hive::kMachine, kSettingsKey, "com"), "COM2");

  // Nothing writable at all: silently nothing saved.
  w.registry.SetReadOnly(Hive::kUser, true);
  w.state.currentPortName = "COM9";
  SaveSettings(w.ctx);
  EXPECT_EQ(w.registry.ReadString(Hive::kUser, kSettingsKey, "com"), "COM5");
  EXPECT_TRUE(w.window.MessageBoxes().empty());
}

}  // namespace
}  // namespace kovra
