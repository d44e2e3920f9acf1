// SPDX-License-Identifier: MIT
#include "image/hex_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "image/code_loader.h"
#include "support/sample_files.h"
#include "support/test_context.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ReadAll(const fs::path& path) {
  if (!fs::is_regular_file(path)) return "";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Stands in for the programmer: serves the image and records each block
// with the status shown while it was read; can interrupt or fail at a block.
class ScriptedSource : public BlockSource {
 public:
  explicit ScriptedSource(test::TestWorld& world) : w_(world) {}
  bool ReadBlock(uint32_t first, uint32_t last, uint8_t* out) override {
    blocks.push_back(w_.window.GetText(id::kStatusLine).substr(kSaveProgress.size()));
    if (blocks.size() == interruptAt) w_.state.interruptRequested = 1;
    if (blocks.size() == failAt) return false;
    std::copy(w_.state.codeImage.begin() + first, w_.state.codeImage.begin() + last + 1, out);
    return true;
  }
  std::vector<std::string> blocks;
  size_t interruptAt = 0, failAt = 0;

 private:
  test::TestWorld& w_;
};

class HexWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    target_ = dir_ / "out.hex";
    std::mt19937 random(5);
    for (auto& byte : w.state.codeImage) byte = static_cast<uint8_t>(random());
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Saves start..end to target_ and returns the file.
  std::string Save(uint32_t start, uint32_t end, bool debugMode = true) {
    w.state.programStart = start;
    w.state.programEnd = end;
    w.window.SetChecked(id::kDebugMode, debugMode);
    w.dialogs.Answer(Utf8(target_));
    source_.blocks.clear();
    SaveMemoryAsHex(w.ctx, source_);
    EXPECT_TRUE(!debugMode || source_.blocks.empty()) << "debug mode asked the programmer";
    return ReadAll(target_);
  }
  std::string Status() { return w.window.GetText(id::kStatusLine); }
  std::vector<fs::path> Folder() { return {fs::directory_iterator(dir_), {}}; }

  test::TestWorld w;
  ScriptedSource source_{w};
  test::TempDir tmp_;
  fs::path dir_;
  fs::path target_;
};

TEST_F(HexWriter, RecordsStopAtSixteenByteAndSegmentBoundaries) {
  struct {
    uint32_t start, end;
    std::vector<std::string> heads;  // each line's beginning
  } cases[] = {
      {0x0000, 0x001F, {":10000000", ":10001000"}},
      {0x0005, 0x0014, {":0B000500", ":05001000"}},
      {0x0100, 0x0100, {":01010000"}},
      {0xFFF8, 0x10017, {":08FFF800", ":020000021000EC", ":10000000", ":08001000"}},
      {0x10000, 0x10000, {":020000021000EC", ":01000000"}},
      {0x12345, 0x1234F, {":020000021000EC", ":0B234500"}},
      {0x2FFFF, 0x30000, {":020000022000DC", ":01FFFF00", ":020000023000CC", ":01000000"}},
      {0xFFFF0, 0xFFFFF, {":02000002F0000C", ":10FFF000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.start << ".." << c.end);
    std::string file = Save(c.start, c.end);
    for (const std::string& head : c.heads) {
      const size_t end = file.find("\r\n");
      ASSERT_NE(end, std::string::npos);
      EXPECT_EQ(file.substr(0, head.size()), head);
      EXPECT_EQ(end, 11 + 2 * HexToNumber(file.substr(1, 2), 16));
      file.erase(0, end + 2);
    }
    EXPECT_EQ(file, "");
    EXPECT_EQ(Status(), std::string(kSaveDone) + Utf8(target_));
  }
  std::fill_n(w.state.codeImage.begin(), 16, 0xFF);
  EXPECT_EQ(Save(0, 0xF), ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n");
  w.state.codeImage[0x100] = 0x3C;
  EXPECT_EQ(Save(0x100, 0x100), ":010100003CC2\r\n");
  w.state.hexEndRecord = true;
  EXPECT_EQ(Save(0x100, 0x100), ":010100003CC2\r\n:00000001FF\r\n");
}

TEST_F(HexWriter, ReadsThePagesBlockByBlock) {
  struct {
    uint32_t start, end;
    std::vector<std::string> blocks;
  } cases[] = {
      {0x0000, 0x02FF, {"00000~000FF", "00100~001FF", "00200~002FF"}},
      {0x0080, 0x017F, {"00080~000FF", "00100~0017F"}},
      {0x1FF00, 0x20001, {"1FF00~1FFFF", "20000~20001"}},
  };
  for (const auto& c : cases) {
    Save(c.start, c.end, /*debugMode=*/false);
    EXPECT_EQ(source_.blocks, c.blocks);
  }
  EXPECT_EQ(kSaveProgress, "[双击这里中断操作] 读取编程内存数据并保存到文件, 地址: ");
}

TEST_F(HexWriter, WhatItWritesLoadsBackByteForByte) {
  Save(0, 0x2'0123, /*debugMode=*/false);
  const std::vector<uint8_t> image = w.state.codeImage;
  w.window.SetText(id::kFilePath, Utf8(target_));
  LoadCodeFile(w.ctx);
  EXPECT_EQ(w.state.programEnd, 0x2'0123u);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x2'0124, w.state.codeImage.begin()));
}

TEST_F(HexWriter, ReplacesAnOlderFileOnlyWhenComplete) {
  struct {
    const char* what;
    size_t interruptAt, failAt;
    uint32_t end;
    std::string_view status;
    int linkError;
  } cases[] = {
      {"interrupted", 2, 0, 0x7FF, kSaveInterrupted, 0},
      {"block read failed", 0, 3, 0x7FF, kSaveFailed, 1},
      {"range leaves the image", 0, 0, 0x100000, kSaveFailed, 1},
  };
  for (const auto& c : cases) {
    for (bool older : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.what << (older ? " over an older file" : ""));
      fs::remove(target_);
      if (older) std::ofstream(target_) << "older";
      source_.interruptAt = c.interruptAt;
      source_.failAt = c.failAt;
      w.state.interruptRequested = 1;  // a stale request is forgotten
      Save(c.end - 0x7FF, c.end, /*debugMode=*/c.end == 0x100000);
      EXPECT_EQ(Status(), c.status);
      EXPECT_EQ(w.state.linkError, c.linkError);
      EXPECT_EQ(ReadAll(target_), older ? "older" : "");
      EXPECT_EQ(Folder().size(), older ? 1u : 0u);  // no temporary file left
    }
  }
  fs::remove(target_);
  target_ = dir_ / Utf8Path("程序.hex");
  std::ofstream(target_) << std::string(5000, 'x');
  EXPECT_EQ(Save(0, 0).size(), 15u);
  EXPECT_EQ(Status(), std::string(kSaveDone) + Utf8(target_));
  EXPECT_EQ(Folder().size(), 1u);
}

TEST_F(HexWriter, CancelAndUncreatableTargets) {
  w.window.SetText(id::kStatusLine, "before");
  w.state.linkError = 1;
  SaveMemoryAsHex(w.ctx, source_);  // nothing queued: the dialog is cancelled
  EXPECT_EQ(Status(), "before");
  EXPECT_EQ(w.state.linkError, 0);
  EXPECT_EQ(w.dialogs.filters.at(0), kSaveHexFilter);

  fs::create_directory(dir_ / "folder.hex");
  for (const fs::path& target : {dir_ / "no" / "out.hex", dir_ / "folder.hex", fs::path()}) {
    target_ = target;
    Save(0, 0xF);
    EXPECT_EQ(Status(), kSaveCannotCreate);
    EXPECT_EQ(w.state.linkError, 1);
  }
  EXPECT_EQ(Folder(), std::vector<fs::path>{dir_ / "folder.hex"});
}

}  // namespace
}  // namespace kovra
