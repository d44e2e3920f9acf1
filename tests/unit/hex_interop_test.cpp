// SPDX-License-Identifier: MIT
// Our HEX files against two independent readers and writers of the format:
// GNU objcopy and SRecord's srec_cat.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "base/control_ids.h"
#include "image/code_loader.h"
#include "image/hex_writer.h"
#include "support/sample_files.h"
#include "support/test_context.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, 0);
  for (char& b : bytes) b = static_cast<char>(random());
  return bytes;
}

class NoProgrammer : public BlockSource {
 public:
  bool ReadBlock(uint32_t, uint32_t, uint8_t*) override { return false; }
};

class HexInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/objcopy") || !fs::exists("/usr/bin/srec_cat")) GTEST_SKIP() << "no objcopy/srec_cat";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Read(const char* name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Runs a tool in the work folder: "" when it succeeded, else what it said.
  std::string Tool(const std::string& command) {
    const std::string dir = dir_.string();
    if (std::system(("cd " + dir + " && " + command + " >tool.log 2>&1").c_str()) == 0) return "";
    return "failed: " + Read("tool.log");
  }

  test::TestWorld w;
  test::TempDir tmp_;
  fs::path dir_ = tmp_.path();
};

TEST_F(HexInterop, LoaderReadsWhatTheToolsWrite) {
  struct {
    const char* command;  // in.bin -> in.hex
    size_t size;
    uint32_t offset;
    const char* records;  // the address record the case is about
  } cases[] = {
      {"objcopy -I binary -O ihex in.bin in.hex", 0x100000, 0, ":02000002F0000C"},
      {"objcopy -I binary -O ihex --change-addresses 0x12340 in.bin in.hex", 200'000, 0x12340, ":020000022000DC"},
      {"srec_cat in.bin -binary -offset 0x12340 -o in.hex -intel", 200'000, 0x12340, ":020000040002F8"},
      {"srec_cat in.bin -binary -o in.hex -intel -address-length=3", 200'000, 0, ":020000021000EC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string data = RandomBytes(c.size, 1);
    std::ofstream(dir_ / "in.bin", std::ios::binary) << data;
    ASSERT_EQ(Tool(c.command), "");
    ASSERT_NE(Read("in.hex").find(c.records), std::string::npos);

    w.window.SetText(id::kFilePath, (dir_ / "in.hex").string());
    LoadCodeFile(w.ctx);
    EXPECT_EQ(w.window.GetText(id::kStatusLine), kLoadDone);
    EXPECT_EQ(w.state.programEnd, c.offset + c.size - 1);
    const auto first = w.state.codeImage.begin() + c.offset;
    EXPECT_TRUE(std::string(first, first + c.size) == data);
    const size_t outside = c.offset ? c.offset - 1 : c.size;
    EXPECT_TRUE(outside >= kImageSize || w.state.codeImage[outside] == 0xFF);
  }
}

TEST_F(HexInterop, ToolsReadWhatTheWriterWrites) {
  const std::string image = RandomBytes(0x100000, 3);
  std::copy(image.begin(), image.end(), w.state.codeImage.begin());
  w.window.SetChecked(id::kDebugMode, true);
  for (auto [start, end] : {std::pair<uint32_t, uint32_t>{0x0000, 0x7FFF}, {0x0FF05, 0x3'0123}, {0xF0000, 0xFFFFF}}) {
    SCOPED_TRACE(::testing::Message() << std::hex << start << ".." << end);
    w.state.programStart = start;
    w.state.programEnd = end;
    w.dialogs.Answer((dir_ / "out.hex").string());
    NoProgrammer programmer;
    SaveMemoryAsHex(w.ctx, programmer);
    // Both tools write the binary from the lowest address on. srec_cat
    // warns that the file has no end record; the data is all it needs.
    for (const std::string& command :
         {std::string("objcopy -I ihex -O binary out.hex back.bin"),
          "srec_cat out.hex -intel -offset -" + std::to_string(start) + " -o back.bin -binary"}) {
      fs::remove(dir_ / "back.bin");
      EXPECT_EQ(Tool(command), "") << command;
      EXPECT_TRUE(Read("back.bin") == image.substr(start, end - start + 1)) << command;
    }
  }
}

}  // namespace
}  // namespace kovra
