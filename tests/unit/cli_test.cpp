// SPDX-License-Identifier: MIT
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

#include "support/cli_runner.h"
#include "support/sample_files.h"

namespace kovra {
namespace {

using test::TempDir;

using Result = test::CliResult;
using test::Cli;

// A port with no programmer behind it: whatever reaches it can be read.
class SilentPort {
 public:
  SilentPort() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    EXPECT_GE(master_, 0);
    EXPECT_EQ(grantpt(master_), 0);
    EXPECT_EQ(unlockpt(master_), 0);
  }
  ~SilentPort() { close(master_); }
  std::string Name() const { return ptsname(master_); }
  bool Untouched() const {
    char byte;
    return read(master_, &byte, 1) == -1;
  }

 private:
  int master_;
};

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
  const SilentPort silent;
  const std::string port = " --port " + silent.Name() + " --chips " + chips;
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
  EXPECT_TRUE(silent.Untouched()) << "a byte went to the programmer";
  EXPECT_FALSE(std::filesystem::exists(out));
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
  std::string first, second, third, fourth;
  std::getline(in, first);
  std::getline(in, second);
  std::getline(in, third);
  EXPECT_EQ(first.substr(0, 9), ":0B000500");
  EXPECT_EQ(second.substr(0, 9), ":05001000");
  // Other tools warn about a file without one; the window's files have none.
  EXPECT_EQ(third, ":00000001FF\r");
  EXPECT_FALSE(std::getline(in, fourth));
}

TEST(Cli, ChipsListsRowsWithTheirRomEnd) {
  TempDir dir;
  const auto list = dir.Write("samlist.txt", "NOSELEC OTP 0 VCC 5V 1\nkv86p4a,otp,,0,12v,5v,1\nshort line\n");
  const Result r = Cli("chips " + list);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "row 0: NOSELEC OTP 0 VCC 5V 7FFF\nrow 1: KV86P4A OTP 0 12V 5V BFFF\ncount: 2\n");
}

// What a new user meets: a use that cannot be done names what is wrong on
// one "error:" line (exit 2, or 1 where a file fails as in the window),
// and no failure exits 0. The port has no programmer: nothing may reach it.
TEST(Cli, EveryUseSaysWhatWentWrong) {
  TempDir dir;
  const std::string hex = dir.Write("a.hex", test::SampleHex(0x40));
  const std::string list = dir.Write("samlist.txt",
                                     "NOSELEC OTP 0 VCC 5V 1\nKV86P48 OTP 0 12V 5V 1\nKV86P99 OTP 0 12V 5V 3\n"
                                     "KV86M48 MTP 0 VCC 5V 1\n");
  const std::string empty = dir.Write("empty.txt", "CHIP TYPE SPARE VPP VDD\n");
  // Beyond the ROM of an 8 KiB chip, and of a 64 KiB one.
  const std::string big = dir.Write("big.bin", std::string(0x3000, '\x5A'));
  const std::string huge = dir.Write("huge.bin", std::string(0x10100, '\x5A'));
  const std::string nowhere = (dir.path() / "nowhere").string();
  const std::string journal = (dir.path() / "serials.journal").string();
  const SilentPort silent;
  const std::string port = " --port " + silent.Name();
  const std::string job = port + " --chips " + list;
  const struct {
    std::string args;
    int status;
    std::string out;  // a fragment of standard output; "" for none
    std::string err;  // of the one "error:" line; "" for no line
  } cases[] = {
      {"", 2, "", "no command given"},
      {"frobnicate", 2, "", "unknown command frobnicate"},
      {"--bogus load " + hex, 2, "", "unknown option --bogus"},
      {"load", 2, "", "FILE is required"},
      {"load a b", 2, "", "not expected: b"},
      {"load a --bogus", 2, "", "not expected: --bogus"},
      {"save-hex a b", 2, "", "END is required"},
      {"save-hex a 0 GGGGG c", 2, "", "END takes a hexadecimal number up to FFFFF, not GGGGG"},
      {"save-hex a 2 1 c", 2, "", "START lies beyond END"},
      {"program " + hex + port, 2, "", "--chip is required"},
      {"program " + hex + job + " --chip KV86P48 --count 0", 2, "", "--count takes a whole number of chips from 1"},
      {"read-hex out.hex" + port + " --end 8000", 2, "", "--end takes a hexadecimal number up to 7FFF, not 8000"},
      {"--version", 0, "kovra-cli " KOVRA_VERSION "\n", ""},
      {"--help", 0, "offline-master", ""},
      {"read-hex --help", 0, "Usage: kovra-cli read-hex [OPTIONS] OUT", ""},
      // The window's writer names no reason; the exit status tells it failed.
      {"save-hex " + hex + " 0 3F " + nowhere + "/out.hex", 1, "status: 保存文件错误!\n", ""},
      // Before the load is reported, not after.
      {"load " + hex + " --dump " + nowhere + "/image.bin", 2, "", "--dump " + nowhere + "/image.bin: no such folder"},
      {"chips " + nowhere + ".txt", 1, "", "the chip list cannot be read"},
      {"chips " + empty, 1, "", "no chip the window would list"},
      {"chips /dev/zero", 2, "", "/dev/zero is not a regular file"},
      {"chips " + list, 0, "1FFF\nunlisted: KV86P99 OTP 0 12V 5V 7FFF\nrow 2: KV86M48 MTP 0 VCC 5V 1FFF\ncount: 3\n",
       ""},
      {"program " + hex + job + " --chip KV86P99", 2, "",
       "chip KV86P99 is in " + list + " on a line the window does not list"},
      {"program " + hex + job + " --chip KV86P77", 2, "", "unknown chip KV86P77 (not in " + list + ")"},
      {"program " + hex + job + " --chip noselec", 2, "", "noselec is the chip list's first row"},
      // The window's question as the reason's witness, on the same line.
      {"program " + big + job + " --chip KV86P48", 2, "",
       "the programming range ends at 2FFF, beyond the ROM of KV86P48 (up to 1FFF) (the window would ask: "
       "加载的程序代码编程终止地址已超出了所选目标芯片 最大ROM有效地址!"},
      {"offline-master " + huge + job + " --chip KV86P48", 2, "", "the code ends at 100FF, beyond the programming"},
      {"program " + hex + job + " --chip KV86M48 --steps program,verify", 2, "",
       "KV86M48 is an MTP chip: the steps must include smart (the window would say: "},
      // Root opens it, but no row could be written there.
      {"program " + hex + job + " --chip KV86P48 --record /proc/version", 2, "",
       "/proc/version: the record file cannot be written"},
      // Serial numbers that could not be given as asked.
      {"program " + hex + job + " --chip KV86P48 --serial 0020:1:bcd:1:1:100 --serial-journal " + journal, 2, "",
       "100 does not fit 1 byte"},
      {"program " + hex + job + " --chip KV86P48 --serial 003E:4:le:1:1:9 --serial-journal " + nowhere + "j", 2, "",
       "overlap 003CH..003FH"},
      {"program " + hex + job + " --chip KV86P48 --serial 0020:4:le:1:1:9", 2, "", "--serial-journal"},
      {"program " + hex + job + " --chip KV86P48 --serial 0020:4:le:1:1:9 --steps blank,program --serial-journal " +
           journal,
       2, "", "the steps must include verify"},
      // The line's database: a driver that does not exist is a mistake to
      // mend now, not an outage to wait out; its password is never shown.
      {"program " + hex + job + " --chip KV86P48 --station a", 2, "", "--station and --journal need --record odbc:"},
      {"program " + hex + job + " --chip KV86P48 --record 'odbc:Driver={NoSuch};PWD=hush' --journal " + journal, 2, "",
       "odbc:Driver={NoSuch};PWD=***: "},
      {"program " + hex + job + " --chip KV86P48 --record odbc:DSN=x --station 'a b'", 2, "",
       "--station a b: a station's name holds only"},
      {"db init odbc:DSN=nothere", 1, "", "IM002"},
      // The shipped chip list beside kovra-cli: this chip is in it.
      {"chips", 0, ": KV86C08 OTP", ""},
      {"program " + big + port + " --chip KV86C08", 2, "", "beyond the ROM of KV86C08 (up to 1FFF)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Cli(c.args);
    EXPECT_EQ(r.status, c.status);
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(r.err.starts_with("error: ")) << r.err;
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
  EXPECT_TRUE(silent.Untouched()) << "a byte went to the programmer";
}

}  // namespace
}  // namespace kovra
