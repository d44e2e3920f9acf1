// SPDX-License-Identifier: MIT
#include "image/code_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "image/code_image.h"
#include "support/sample_files.h"
#include "support/test_context.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// One record line with its checksum, ended by a line feed.
std::string Rec(uint8_t type, uint16_t address, const Bytes& data) {
  Bytes bytes{uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = uint8_t(sum + b);
  bytes.push_back(uint8_t(-sum));
  std::string line = ":";
  for (uint8_t b : bytes) line += NumberToText(b, 16, 2);
  return line + "\n";
}
std::string Data(uint16_t address, const Bytes& data) { return Rec(0x00, address, data); }
std::string Seg(uint16_t paragraph) { return Rec(0x02, 0, {uint8_t(paragraph >> 8), uint8_t(paragraph)}); }
std::string Lin(uint16_t upper) { return Rec(0x04, 0, {uint8_t(upper >> 8), uint8_t(upper)}); }
Bytes Seq(size_t size) {  // byte i is i * 7
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7);
  return bytes;
}
std::string Str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

const std::string kPlain = ":0400000012345678E8";  // 12 34 56 78 at 0..3

class CodeLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "folder.hex");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A previous load that every failure must leave alone, then a load of
  // name (contents nullopt: no such file).
  std::string Load(const std::string& name, const std::optional<std::string>& contents) {
    w.state.programStart = 0x11;
    w.state.programEnd = 0x2222;
    w.window.SetText(id::kStartAddress, "0011");
    w.window.SetText(id::kEndAddress, "2222");
    w.window.SetText(id::kChecksumField, "ABCD");
    std::fill(w.state.codeImage.begin(), w.state.codeImage.end(), 0x5A);
    const fs::path path = dir_ / Utf8Path(name);
    if (contents) std::ofstream(path, std::ios::binary) << *contents;
    w.window.SetText(id::kFilePath, name.empty() ? "" : Utf8(path));
    LoadCodeFile(w.ctx);
    return w.window.GetText(id::kStatusLine);
  }
  uint8_t At(uint32_t address) const { return w.state.codeImage[address]; }

  test::TestWorld w;
  test::TempDir tmp_;
  fs::path dir_;
};

TEST_F(CodeLoader, FailuresLeaveTheRangeAndItsFields) {
  enum Image { kUntouched, kRefilled, kFirstLine };
  struct {
    const char* name;
    std::optional<std::string> contents;
    std::string_view status;
    Image image;
  } cases[] = {
      {"", std::nullopt, kLoadNoPath, kUntouched},
      {"gone.bin", std::nullopt, kLoadBinaryOpenFailed, kRefilled},
      {"gone.hex", std::nullopt, kLoadTextOpenFailed, kUntouched},
      {"folder.hex", std::nullopt, kLoadTextOpenFailed, kUntouched},
      {"a.hex", kPlain + "\n:0400040012345678E9\n" + Data(8, {1}), kLoadBadChecksum, kFirstLine},
      {"b.hex", "words\n\n" + Seg(0x1000) + Rec(0x01, 0, {}), kLoadNoCode, kRefilled},
      {"c.hex", kPlain + " \n" + kPlain + " ", kLoadNoCode, kRefilled},    // trailing blanks
      {"d.hex", std::string(1010, 'x') + kPlain, kLoadNoCode, kRefilled},  // cut by the 1023 limit
      {"e.bin", "", kLoadNoCode, kRefilled},
      {"f.bin", std::string(kImageSize + 1, 1), kLoadFileTooLarge, kRefilled},
      {"g.hex", kPlain + "\n" + Seg(0xF000) + Data(0xFFF8, Seq(9)), kLoadAddressTooHigh, kFirstLine},
      {"h.hex", kPlain + "\n" + Lin(0x0010) + Data(0, {1}), kLoadAddressTooHigh, kFirstLine},
      {"i.hex", kPlain + "\n" + Lin(0x0010) + Data(1, {}), kLoadAddressTooHigh, kFirstLine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Load(c.name, c.contents), c.status);
    EXPECT_EQ(w.state.linkError, 1);
    EXPECT_EQ(w.state.programStart, 0x11u);
    EXPECT_EQ(w.state.programEnd, 0x2222u);
    EXPECT_EQ(
        w.window.GetText(id::kStartAddress) + w.window.GetText(id::kEndAddress) + w.window.GetText(id::kChecksumField),
        "00112222ABCD");
    EXPECT_EQ(At(0), c.image == kUntouched ? 0x5A : c.image == kRefilled ? 0xFF : 0x12);
    EXPECT_EQ(At(8), c.image == kUntouched ? 0x5A : 0xFF);  // nothing from the bad line on
    EXPECT_EQ(At(kImageSize - 1), c.image == kUntouched ? 0x5A : 0xFF);
  }
}

// A device or a pipe named in the path field would be read for ever (or,
// on Windows, be the programmer's own port), and so would a text file of
// any size: neither gets past the loader.
TEST_F(CodeLoader, ReadsOnlyRegularFilesOfABoundedSize) {
  ASSERT_EQ(mkfifo((dir_ / "pipe.hex").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir_ / "pipe.bin").c_str(), 0600), 0);
  const fs::path huge = dir_ / "huge.hex";
  std::ofstream(huge, std::ios::binary) << kPlain << "\n";
  fs::resize_file(huge, (uintmax_t{64} << 20) + 1);  // zeros after a good record
  const struct {
    std::string path;
    std::string_view status;
  } cases[] = {
      {"/dev/zero", kLoadTextOpenFailed},
      {Utf8(dir_ / "pipe.hex"), kLoadTextOpenFailed},
      {Utf8(dir_ / "pipe.bin"), kLoadBinaryOpenFailed},
      {Utf8(huge), kLoadFileTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    w.window.SetText(id::kFilePath, c.path);
    LoadCodeFile(w.ctx);
    EXPECT_EQ(w.window.GetText(id::kStatusLine), c.status);
    EXPECT_EQ(w.state.linkError, 1);
  }
}

TEST_F(CodeLoader, LoadsWhereTheRecordsSay) {
  struct {
    const char* name;
    std::string contents;
    const char* endField;  // programEnd as shown
    std::vector<std::pair<uint32_t, uint8_t>> bytes;
  } cases[] = {
      {"plain.hex", kPlain, "0003", {{0, 0x12}, {3, 0x78}, {4, 0xFF}}},
      {"blanks.hex", "  " + kPlain, "0003", {{0, 0x12}}},
      {"xyz.obj", "xyz:1:" + kPlain, "0003", {{0, 0x12}}},
      {"crlf.hex", kPlain + "\r\n" + Data(4, {9}) + "\r\n", "0004", {{4, 9}}},
      // As one line feed, CR LF leaves this record too short to count; as two
      // characters it would be read as a checksum and fail the file.
      {"short.hex", ":0400000012345678\r\n" + Data(5, {9}), "0005", {{0, 0xFF}}},
      {"seg.hex", Seg(0x1000) + Data(0x10, {1, 2, 3, 4}), "10013", {{0x10010, 1}, {0x10, 0xFF}}},
      {"lin.hex", Lin(0x0001) + Data(0x10, {1, 2}), "10011", {{0x10010, 1}}},
      {"lin-seg.hex", Seg(0x2000) + Lin(0) + Data(0x10, {5}), "0010", {{0x10, 5}}},
      {"seg-lin.hex", Lin(3) + Seg(0x1000) + Rec(0x02, 0, {0x20}) + Data(0, {6}), "10000", {{0x10000, 6}}},
      {"type20.hex",
       Rec(0x20, 2, {0xAB}) + Rec(0x03, 0, {1, 2, 3, 4}) + Rec(0x05, 0, {1, 2, 3, 4}),
       "0002",
       {{2, 0xAB}}},
      {"after-eof.hex", Data(0, {1}) + Rec(0x01, 0, {}) + Data(1, {2}), "0001", {{1, 2}}},
      {"descending.hex", Data(0x10, {2}) + Data(0, {1}), "0010", {{0, 1}, {0x10, 2}}},
      {"overlap.hex", Data(0, Seq(16)) + Data(8, Seq(16)), "0017", {{7, 49}, {8, 0}, {0x17, 105}}},
      {"ll0-up.hex", Data(0, {1}) + Data(0x1000, {}), "0FFF", {{1, 0xFF}}},
      {"ll0-down.hex", Data(0x100, {1}) + Data(0x10, {}), "0100", {{0x100, 1}}},
      {"top.hex", Seg(0xF000) + Data(0xFFF0, Seq(16)), "FFFFF", {{0xFFFFF, 105}}},
      {"top-ll0.hex", Lin(0x0010) + Data(0, {}), "FFFFF", {}},
      {"extra-digits.hex", kPlain + "00", "0003", {{3, 0x78}}},
      {"bad-length.hex", ":0500000012345678E8\n:\t400000012345678E8\n" + Data(9, {1}), "0009", {{0, 0xFF}}},
      {"long.hex", std::string(1023, 'x') + kPlain, "0003", {{0, 0x12}}},
      // The foreign character falls into the next piece, so the record loads.
      {"pieces.hex", kPlain + std::string(1004, '0') + "Z", "0003", {{0, 0x12}}},
      // Text is read 64 KiB at a time: the short record's CR LF must still
      // read as one line feed with the CR last in a chunk or the LF first.
      {"cr-last.hex", std::string(65517, 'x') + "\n:0400000012345678\r\n" + Data(5, {9}), "0005", {{0, 0xFF}, {5, 9}}},
      {"lf-first.hex", std::string(65518, 'x') + "\n:0400000012345678\r\n" + Data(5, {9}), "0005", {{0, 0xFF}, {5, 9}}},
      {"record-across.hex", std::string(65526, 'x') + "\r\n" + kPlain + "\r\n" + Data(4, {9}), "0004", {{3, 0x78}}},
      {"one.bin", "\x42", "0000", {{0, 0x42}, {1, 0xFF}}},
      {"three.BIN", Str(Seq(300)), "012B", {{0x12B, 0x2D}, {0x12C, 0xFF}}},
      {"mixed.Bin", kPlain, "0012", {{0, ':'}}},
      {"text.bin.hex", kPlain, "0003", {{0, 0x12}}},
      {"full.bin", Str(Seq(kImageSize)), "FFFFF", {{0xFFFFF, 0xF9}}},
      {"代码.hex", kPlain, "0003", {{3, 0x78}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Load(c.name, c.contents), kLoadDone);
    EXPECT_EQ(w.state.linkError, 0);
    EXPECT_EQ(w.state.programStart, 0u);
    EXPECT_EQ(w.state.programEnd, HexToNumber(c.endField, 16));
    EXPECT_EQ(w.window.GetText(id::kStartAddress), "0000");
    EXPECT_EQ(w.window.GetText(id::kEndAddress), c.endField);
    EXPECT_EQ(w.window.GetText(id::kChecksumField), Hex4(SumImage(w.state, 0, w.state.programEnd)));
    for (const auto& [address, value] : c.bytes) EXPECT_EQ(At(address), value) << std::hex << address;
  }
}

// The load itself stays as it was; what it passed over is reported, by the
// file's line (a long line's pieces are one line).
TEST_F(CodeLoader, ReportsTheFirstDamagedRecord) {
  using Kind = RecordDamage::Kind;
  const std::string cut = ":0400000012345";
  struct {
    const char* name;
    std::string contents;
    std::string_view status;
    RecordDamage want;
  } cases[] = {
      {"clean.hex", "words\n\n" + std::string(1500, 'x') + "\n" + kPlain + "\r\n", kLoadDone, {}},
      {"clean.bin", cut, kLoadDone, {}},
      {"cut-last.hex", Data(0, {1}) + Data(1, {2}) + cut, kLoadDone, {Kind::kUnreadable, 3}},
      {"cut-crlf.hex",
       kPlain + "\r\n" + std::string(1500, 'x') + "\r\n" + cut + "\r\n" + Data(4, {9}),
       kLoadDone,
       {Kind::kUnreadable, 3}},
      {"zeros.hex", Data(0, {1}) + ":04000400" + std::string(10, '\0') + "\n", kLoadDone, {Kind::kUnreadable, 2}},
      {"joined.hex", Data(0, {1}) + ":0100010002FC" + Data(2, {3}), kLoadDone, {Kind::kUnreadable, 2}},
      {"checksum.hex", kPlain + "\n" + Data(4, {1}) + ":0400080012345678E9\n", kLoadBadChecksum, {Kind::kChecksum, 3}},
      {"cut-then-checksum.hex", cut + "\n:0400080012345678E9\n", kLoadBadChecksum, {Kind::kUnreadable, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    w.window.SetText(id::kFilePath, Utf8(dir_ / c.name));
    std::ofstream(dir_ / c.name, std::ios::binary) << c.contents;
    RecordDamage damage{Kind::kChecksum, 99};
    LoadCodeFile(w.ctx, &damage);
    EXPECT_EQ(w.window.GetText(id::kStatusLine), c.status);
    EXPECT_EQ(damage.kind, c.want.kind);
    EXPECT_EQ(damage.line, c.want.line);
  }
}

TEST_F(CodeLoader, ChecksumAndFillByte) {
  Load("ff.bin", std::string(0x10000, '\xFF'));  // sums to 0xFF0000
  EXPECT_EQ(w.window.GetText(id::kChecksumField), "0000");

  w.state.fillZero = 1;
  Load("zero.hex", kPlain + "\n" + Data(0xFF, {0xEE}));
  EXPECT_EQ(w.window.GetText(id::kChecksumField), "0202");
  EXPECT_EQ(At(4), 0x00);
  EXPECT_EQ(At(kImageSize - 1), 0x00);
}

TEST_F(CodeLoader, PutsTheChosenPathIntoThePathField) {
  w.window.SetText(id::kFilePath, "old.hex");
  for (auto answer :
       {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("新.hex")}) {
    w.dialogs.Answer(answer);
    EXPECT_EQ(ChooseCodeFile(w.ctx), answer.has_value());
  }
  EXPECT_EQ(w.window.GetText(id::kFilePath), "新.hex");
  EXPECT_EQ(w.dialogs.filters.at(0), kOpenCodeFilter);
}

TEST_F(CodeLoader, RecordTextToBytes) {
  EXPECT_EQ(TrimToRecordMark("x:a:0011\n"), ":0011\n");
  EXPECT_EQ(TrimToRecordMark("no mark\n"), "");
  for (auto [record, want] : {std::pair{":00000001FF", true},
                              {":00000001F", false},
                              {kPlain.c_str(), true},
                              {":0400000012345678E", false},
                              {":0400000012345678E\n", true},
                              {":G000000000000", false}}) {
    EXPECT_EQ(RecordLongEnough(record, 11), want) << record;
  }
  for (auto [text, want] : {std::pair<const char*, Bytes>{"0aFf", {0x0A, 0xFF}},
                            {"123", {0x12, 0x03}},
                            {"1G34", {0xFF, 0x34}},
                            {"E8\n", {0xE8, 0xFF}},
                            {"", {}}}) {
    Bytes out(2, 0xAA);
    out.resize(HexPairsToBytes(text, out));
    EXPECT_EQ(out, want) << text;
  }
}

}  // namespace
}  // namespace kovra
