// SPDX-License-Identifier: MIT
// kovra-cli with a job file: job check's lines, and the refusals of job check
// and program --job before any port is looked at.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "base/sha256.h"
#include "support/cli_runner.h"
#include "support/sample_files.h"

namespace kovra {
namespace {

using test::TempDir;

using Result = test::CliResult;
using test::Cli;

std::string Job(const std::string& codeSha256) {
  return "[code]\nfile = \"fw.hex\"\nsha256 = \"" + codeSha256 +
         "\"\n"
         "[chip]\nname = \"KV86C08\"\nlist = \"samlist.txt\"\n"
         "[run]\nsteps = [\"program\", \"verify\"]\nports = [\"/dev/kovra-none-a\"]\nrecord = \"line.csv\"\n"
         "allow_override = [\"ports\"]\n"
         "[serial]\naddress = \"0002\"\nwidth = 2\nencoding = \"bcd\"\nfirst = 1\nstep = 2\nlast = 9999\n"
         "journal = \"serials.journal\"\nblock = \"B\"\n"
         "[serial.blocks]\nA = [1, 4999]\nB = [5000, 9999]\n";
}

TEST(JobCommand, ChecksAJobAndRefusesWhatItMayNotRun) {
  TempDir dir;
  const std::string firmware = ":0400000012345678E8\n:00000001FF\n";
  dir.Write("fw.hex", firmware);
  dir.Write("samlist.txt", "NOSELEC OTP 0 VCC 5V 1\nKV86C08 OTP 0 12V 5V 1\n");
  const std::string spent = "spent 0000005001 5001 /dev/kovra-none-a 2026-01-01T00:00:00Z\n";
  const std::string journal = dir.Write("serials.journal", spent);
  const std::string jobText = Job(Sha256Hex(firmware));
  const std::string job = dir.Write("job.toml", jobText);
  const std::string stale = dir.Write("stale.toml", Job(Sha256Hex(":00000001FF\n")));
  const std::string code = (dir.path() / "fw.hex").string();

  struct Case {
    std::string args;
    int status;
    std::string out;
    std::string err;  // a part of it
  } cases[] = {
      {"job check " + job, 0,
       "job: " + job + "\njob sha256: " + Sha256Hex(jobText) + "\ncode file: " + code +
           "\ncode sha256: ok\nchip: KV86C08\nsteps: program,verify\nrange: 0000..0003\nchecksum: 0114\n"
           "ports: /dev/kovra-none-a\nrecord: " +
           (dir.path() / "line.csv").string() + "\nserial: 0002:2:bcd:5001:2:9999\nserial next: 5003 (5003)\n",
       ""},
      {"job check " + stale, 2, "", code + ": SHA-256 " + Sha256Hex(firmware) + " differs from the job's"},
      {"job check " + (dir.path() / "none.toml").string(), 1, "", "none.toml: cannot be read"},
      {"program --job " + job + " --record other.csv", 2, "",
       "--record: the job " + job + " does not allow overriding record"},
      // The port is no device: the job's refusal comes before it is looked at.
      {"program --job " + stale + " --port /dev/kovra-none-b", 2, "", code + ": SHA-256 "},
      {"program --job " + job + " --port /dev/kovra-none-b", 2, "", "/dev/kovra-none-b"},
      {"program --port /dev/kovra-none-b --chip KV86C08", 2, "", "FILE is required"},
  };
  for (const Case& c : cases) {
    const Result r = Cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << "\n" << r.err;
  }
  std::stringstream after;
  after << std::ifstream(journal).rdbuf();
  EXPECT_EQ(after.str(), spent) << "checking a job spent a number";
}

}  // namespace
}  // namespace kovra
