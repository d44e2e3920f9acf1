// kovra-cli as scripts see it: its exact output lines and exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/sample_files.h"

namespace kovra {
namespace {

using test::TempDir;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Cli(const std::string& args) {
  TempDir errDir;
  const std::string errFile = (errDir.path() / "err").string();
  const std::string command = std::string(KOVRA_CLI_PATH) + " " + args + " 2>" + errFile;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err.str()};
}

TEST(Cli, LoadPrintsWhatTheWindowWouldShow) {
  TempDir dir;
  const auto file = dir.Write("a.hex", ":0400000012345678E8\n");
  const Result r = Cli("load " + file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "status: 调入代码成功!\nstart: 0000\nend: 0003\nchecksum: 0114\n");
}

TEST(Cli, LoadFailureIsExitOne) {
  TempDir dir;
  const auto file = dir.Write("bad.hex", "no records\n");
  EXPECT_EQ(Cli("load " + file).out, "status: 代码文件错误[未包含有效代码]\n");
  EXPECT_EQ(Cli("load " + file).status, 1);
  const Result missing = Cli("load " + (dir.path() / "none.hex").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "status: 打开代码文件失败!请确认该文件是否存在或对该文件是否有存取权限!\n");
}

// The window skips a record it cannot read and stops at a wrong checksum;
// a half-copied file would program a shorter range. Every command that
// loads a code file refuses it, before a byte goes to the programmer.
TEST(Cli, DamagedCodeFileIsRefused) {
  TempDir dir;
  const std::string good = test::SampleHex(0x40);
  const struct {
    const char* name;
    std::string contents;
    const char* where;
  } files[] = {
      {"checksum.hex", good.substr(0, 88) + good.substr(88, 41) + "00\n", "line 3: the record's checksum is wrong"},
      {"cut.hex", good.substr(0, 88) + ":1000200017", "line 3: the record is cut short or garbled"},
  };
  const std::string chips = dir.Write("samlist.txt", "NOSELEC OTP 0 VCC 5V 1\nKV86P48 OTP 0 12V 5V 1\n");
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string port = std::string(" --port ") + ptsname(master) + " --chips " + chips;
  const std::string out = (dir.path() / "out.hex").string();
  for (const auto& file : files) {
    const std::string path = dir.Write(file.name, file.contents);
    for (const std::string& args :
         {"load " + path, "save-hex " + path + " 00000 0003F " + out, "download " + path + port,
          "program " + path + port + " --chip KV86P48", "offline-master " + path + port + " --chip KV86P48"}) {
      SCOPED_TRACE(args);
      const Result r = Cli(args);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.out, "");
      // One line; a gang's names the port that found it first.
      EXPECT_TRUE(r.err.starts_with("error: ")) << r.err;
      EXPECT_TRUE(r.err.ends_with(path + ": " + file.where + "\n")) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    }
  }
  char byte;
  EXPECT_EQ(read(master, &byte, 1), -1) << "a byte went to the programmer";
  EXPECT_FALSE(std::filesystem::exists(out));
  close(master);
}

TEST(Cli, DumpWritesTheWholeImageWithTheChosenFill) {
  TempDir dir;
  const auto file = dir.Write("a.bin", std::string(300, '\x11'));
  const auto dump = (dir.path() / "image.bin").string();
  const Result r = Cli("load " + file + " --fill-zero --dump " + dump);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("end: 012B\n"), std::string::npos);
  std::ifstream in(dump, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string image = s.str();
  ASSERT_EQ(image.size(), 0x100000u);
  EXPECT_EQ(image[299], '\x11');
  EXPECT_EQ(image[300], '\0');
}

TEST(Cli, SaveHexWritesTheRange) {
  TempDir dir;
  const auto file = dir.Write("a.hex", test::SampleHex(0x40));
  const auto out = (dir.path() / "out.hex").string();
  const Result r = Cli("save-hex " + file + " 00005 00014 " + out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("status: 代码文件文件已成功保存在: ", 0), 0u) << r.out;
  std::ifstream in(out);
  std::string first, second, third;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first.substr(0, 9), ":0B000500");
  EXPECT_EQ(second.substr(0, 9), ":05001000");
  EXPECT_FALSE(std::getline(in, third));
}

TEST(Cli, ChipsListsRowsWithTheirRomEnd) {
  TempDir dir;
  const auto list = dir.Write("samlist.txt", "NOSELEC OTP 0 VCC 5V 1\nkv86p4a,otp,,0,12v,5v,1\nshort line\n");
  const Result r = Cli("chips " + list);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "row 0: NOSELEC OTP 0 VCC 5V 7FFF\nrow 1: KV86P4A OTP 0 12V 5V BFFF\ncount: 2\n");
  // A list that cannot be read leaves the one row that stands for no chip.
  const Result missing = Cli("chips " + (dir.path() / "none.txt").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "row 0: NOSELEC - - - - 7FFF\ncount: 1\n");
}

TEST(Cli, WrongUsageIsExitTwo) {
  for (const char* args : {"", "frobnicate", "load", "save-hex a b", "save-hex a 0 GGGGG c", "save-hex a 2 1 c",
                           "chips", "load a --bogus"}) {
    EXPECT_EQ(Cli(args).status, 2) << args;
  }
}

}  // namespace
}  // namespace kovra
