// SPDX-License-Identifier: MIT
#include "chips/chip_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "app/settings.h"
#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "chips/target_rules.h"
#include "support/test_context.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Rows(const std::vector<ChipRecord>& rows) {
  std::vector<std::string> out;
  for (const ChipRecord& r : rows)
    out.push_back(r.name + "|" + r.memoryType + "|" + r.spare + "|" + r.vpp + "|" + r.vdd);
  return out;
}

std::string Padded(std::string text, size_t length) {
  text.resize(length, ' ');
  return text;
}

TEST(ChipList, LineRules) {
  using namespace std::string_literals;
  const std::string a = "A|OTP|0|12V|5V";
  struct Case {
    const char* label;
    std::string input;
    std::vector<std::string> want;
  } cases[] = {
      {"double commas are one separator", "A,,OTP,0,12V,5V,1\n", {a}},
      {"leading delimiters", " \t;:A OTP 0 12V 5V 1", {a}},
      {"five words", "A OTP 0 12V 5V\n", {}},
      {"five words and a blank", "A OTP 0 12V 5V \n", {a}},
      {"sixth field 3", "A OTP 0 12V 5V 3 x\n", {}},
      {"sixth field 30", "A OTP 0 12V 5V 30\n", {a}},
      {"20-character name", "KV345678901234567890 OTP 0 12V 5V 1", {"KV3456789012345|OTP|0|12V|5V"}},
      {"lower case", "kv86c08 mtp x vcc 3v 1", {"KV86C08|MTP|X|VCC|3V"}},
      {"other fields cut to 7",
       "K OTPOTPOTP SPARE12345 12VOLTSX 5VOLTSXXXXXXXXXXX 1",
       {"K|OTPOTPO|SPARE12|12VOLTS|5VOLTSX"}},
      {"17 fields", "A OTP 0 12V 5V 1 7 8 9 10 11 12 13 14 15 16 17", {a}},
      {"blank lines and headings", "\n\r\n   \nCHIP TYPE SPARE VPP VDD\nA OTP 0 12V 5V 1\n", {a}},
      {"CRLF file", "A OTP 0 12V 5V 1\r\nB MTP 0 VCC 3V 3\r\nA OTP 0 12V 5V \r\n", {a, a}},
      {"lone CR stays in the field", "A OTP 0 12V 5V\r1\n", {}},
      {"NUL ends the line", "B OTP 0 12V 5V\0 1\nA OTP 0 12V 5V 1\n"s, {a}},
      {"rest of a long line is the next line", Padded("A OTP 0 12V 5V 1", 127) + "A OTP 0 12V 5V 1", {a, a}},
      {"the 127th character is on the line", Padded("A OTP 0 12V 5V", 126) + "3\n", {}},
      {"the 128th is not", Padded("A OTP 0 12V 5V", 127) + "3\n", {a}},
  };
  for (const Case& c : cases) EXPECT_EQ(Rows(ParseChipList(c.input)), c.want) << c.label;

  std::string many;
  for (int i = 0; i < 257; ++i) many += "K" + std::to_string(i) + " OTP 0 12V 5V 1\n";
  const std::vector<ChipRecord> rows = ParseChipList(many);
  ASSERT_EQ(rows.size(), kChipRows);
  EXPECT_EQ(rows.back().name, "K255");
}

TEST(ChipList, ShippedListHasTheIntendedRows) {
  std::ifstream in(std::string(KOVRA_DATA_DIR) + "/samlist.txt", std::ios::binary);
  const std::vector<ChipRecord> chips = ParseChipList(std::string(std::istreambuf_iterator<char>(in), {}));
  std::vector<std::string> got = Rows(chips);
  for (size_t i = 0; i < got.size(); ++i) got[i] += "|" + Hex4(ChipRomEnd(chips[i]));
  const std::vector<std::string> want = {
      "NOSELEC|OTP|0|VCC|5V|7FFF", "KV86C02|OTP|0|12V|5V|07FF", "KV86C04|OTP|0|12V|5V|0FFF",
      "KV86C08|OTP|0|12V|5V|1FFF", "KV86L08|OTP|0|12V|3V|1FFF", "KV86C05|OTP|0|11V|5V|3FFF",
      "KV88C07|OTP|0|11V|5V|5FFF", "KV88L07|OTP|0|11V|3V|5FFF", "KV88C0A|OTP|0|12V|5V|BFFF",
      "KV88C0B|OTP|0|12V|5V|FFFF", "KV86M04|MTP|0|VCC|5V|0FFF", "KV86M08|MTP|0|VCC|5V|1FFF",
      "KV88M16|MTP|0|VCC|3V|7FFF", "KV88N08|MTP|0|VCC|3V|1FFF",
  };
  EXPECT_EQ(got, want);
}

// An installation records its folder; a copied or unpacked program has its
// list beside itself. A recorded folder is never second-guessed.
TEST(ChipList, RecordedFolderOrProgramFolderElseNoChipAndAWarning) {
  const fs::path root = fs::path(::testing::TempDir()) / "kovra_chip_list";
  const fs::path installed = root / fs::path(u8"安装目录");  // the setup value is UTF-8
  const fs::path program = root / fs::path(u8"程序");
  auto utf8 = [](const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  };
  const std::string setup = utf8(installed);
  const std::string twoRows = "NOSELEC OTP 0 VCC 5V 1\nKV1 OTP 0 12V 5V 1\n";
  const std::string threeRows = twoRows + "KV2 MTP 0 VCC 3V 1\n";
  constexpr bool kKey = true;
  constexpr bool kNoKey = false;
  struct Case {
    const char* label;
    bool key;
    std::optional<std::string> setup;
    std::optional<std::string> installedList;
    std::optional<std::string> programList;
    bool programFolderKnown;
    uint32_t rows;  // 2 from the installed list, 3 from the program's own
    bool warned;
  } cases[] = {
      {"no key: beside the program", kNoKey, std::nullopt, twoRows, threeRows, true, 3, false},
      {"no setup value: beside the program", kKey, std::nullopt, twoRows, threeRows, true, 3, false},
      {"no key, nothing beside the program", kNoKey, std::nullopt, twoRows, std::nullopt, true, 1, true},
      {"no key, program folder unknown", kNoKey, std::nullopt, twoRows, threeRows, false, 1, true},
      {"no setup value, useless list beside", kKey, std::nullopt, twoRows, "HEADING ONLY\n", true, 1, true},
      {"installed", kKey, setup, twoRows, threeRows, true, 2, false},
      {"folder ending in a separator", kKey, setup + "/", twoRows, threeRows, true, 2, false},
      {"installed list missing: no fallback", kKey, setup, std::nullopt, threeRows, true, 1, true},
      {"installed list useless: no fallback", kKey, setup, "HEADING ONLY\n\n", threeRows, true, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(root);
    fs::create_directories(installed);
    fs::create_directories(program);
    if (c.installedList) std::ofstream(installed / "samlist.txt", std::ios::binary) << *c.installedList;
    if (c.programList) std::ofstream(program / "samlist.txt", std::ios::binary) << *c.programList;
    test::TestWorld w;
    if (c.key) w.registry.WriteString(Hive::kMachine, kSettingsKey, "com", "COM3");
    if (c.key && c.setup) w.registry.WriteString(Hive::kMachine, kSettingsKey, "setup", *c.setup);
    if (c.programFolderKnown) w.programFolder.Set(utf8(program));
    w.state.chipTable[5].name = "STALE";

    LoadChipList(w.ctx);

    EXPECT_EQ(w.state.chipCount, c.rows);
    EXPECT_EQ(w.state.chipListLoaded.load(), c.rows > 1 ? 1 : 0);
    EXPECT_EQ(Rows({w.state.chipTable[0], w.state.chipTable[5]}),
              (std::vector<std::string>{c.rows > 1 ? "NOSELEC|OTP|0|VCC|5V" : "NOSELEC||||", "||||"}));
    const auto boxes = w.window.MessageBoxes();
    ASSERT_EQ(boxes.size(), c.warned ? 1u : 0u);
    if (c.warned) {
      EXPECT_EQ(boxes[0].text, "调入指定安装路径的烧写器芯片列表文件失败!");
      EXPECT_EQ(boxes[0].caption, kWarningCaption);
      EXPECT_EQ(boxes[0].buttons, MbButtons::kOk);
      EXPECT_EQ(boxes[0].icon, MbIcon::kNone);
    }
  }
  fs::remove_all(root);
}

TEST(ChipList, ComboOffersTheTableAndSelectionFindsTheFirstEqualName) {
  test::TestWorld w;
  const std::vector<ChipRecord> rows =
      ParseChipList("NOSELEC O 0 V 5V 1\nKV1 O 0 V 5V 1\nKV10 O 0 V 5V 1\nKV1 M 9 V 3V 1\n");
  std::copy(rows.begin(), rows.end(), w.state.chipTable.begin());
  w.state.chipCount = 4;
  FillChipCombo(w.ctx);

  ASSERT_EQ(w.window.ComboCount(id::kChipCombo), 4);
  EXPECT_EQ(w.window.ComboSelection(id::kChipCombo), 0);
  EXPECT_EQ(w.window.ComboItem(id::kChipCombo, 2), "KV10");
  for (int entry : {0, 1, 2, 3}) {
    w.window.ComboSelect(id::kChipCombo, entry);
    EXPECT_EQ(SelectedChipIndex(w.ctx), entry == 3 ? 1 : entry) << "entry " << entry;
  }
  w.window.ComboAdd(id::kChipCombo, "UNKNOWN");
  w.window.ComboSelect(id::kChipCombo, 4);
  EXPECT_EQ(SelectedChipIndex(w.ctx), 0);
}

}  // namespace
}  // namespace kovra
