// SPDX-License-Identifier: MIT
#include "cli/job_file.h"

#include <gtest/gtest.h>

#include <string>

#include "base/sha256.h"
#include "base/text_helpers.h"
#include "support/sample_files.h"

namespace kovra::cli {
namespace {

constexpr char kFirmware[] = ":00000001FF\n";

std::string ValidJob() {
  return "[code]\n"
         "file = \"firmware.hex\"\n"
         "sha256 = \"" +
         ToUpperAscii(Sha256Hex(kFirmware)) +
         "\"\n"
         "[chip]\n"
         "name = \"KV86C08\"\n"
         "list = \"../shared/samlist.txt\"\n"
         "expect_checksum = \"5e21\"\n"
         "[run]\n"
         "steps = [\"blank\", \"program\", \"verify\"]\n"
         "ports = [\"/dev/kovra/a\", \"/dev/kovra/b\"]\n"
         "record = \"line.csv\"\n"
         "allow_override = [\"ports\", \"count\"]\n"
         "[serial]\n"
         "address = \"0100\"\n"
         "width = 4\n"
         "encoding = \"bcd\"\n"
         "first = 1\n"
         "last = 9999\n"
         "journal = \"serials.journal\"\n"
         "block = \"B\"\n"
         "step = 2\n"
         "[serial.blocks]\n"
         "A = [1, 4999]\n"
         "B = [5000, 9999]\n";
}

TEST(JobFile, ReadsAValidJobAndRefusesEachFaultWithItsLine) {
  // Each row changes the valid job once; an empty want means it still reads.
  struct Case {
    const char* from;
    const char* to;
    const char* want;
  } cases[] = {
      {"", "", ""},
      {"file = \"firmware.hex\"\n", "", "job.toml:1: [code] has no file"},
      {"sha256", "# sha256", "job.toml:1: [code] has no sha256"},
      {"name = \"KV86C08\"\n", "", "job.toml:4: [chip] has no name"},
      {"[chip]\nname = \"KV86C08\"\nlist = \"../shared/samlist.txt\"\nexpect_checksum = \"5e21\"\n", "",
       "job.toml: no [chip] table"},
      {"journal", "# journal", "job.toml:13: [serial] has no journal"},
      {"record", "recrod", "job.toml:11: unknown key run.recrod"},
      {"[serial]", "[serials]", "job.toml:13: unknown table [serials]"},
      {"width = 4", "width = \"4\"", "job.toml:15: serial.width must be an integer, not string"},
      {"ports = [\"/dev/kovra/a\", ", "ports = [1, ",
       "job.toml:10: run.ports must hold non-empty strings, not integer"},
      {"sha256 = \"", "sha256 = \"g", "job.toml:3: code.sha256 must be 64 hexadecimal digits"},
      {"\"5e21\"", "\"5E2\"", "job.toml:7: chip.expect_checksum must be 4 hexadecimal digits, not \"5E2\""},
      {"\"verify\"", "\"verfy\"", "job.toml:9: run.steps: unknown step verfy"},
      {"\"program\", ", "", "job.toml:9: run.steps must include program"},
      {"\"count\"", "\"code\"", "job.toml:12: run.allow_override: code cannot be overridden"},
      {"last = 9999", "last = 100000000",
       "job.toml:18: serial.last 100000000 does not fit 4 byte(s) of bcd (at most 99999999)"},
      {"last = 9999\n", "", "job.toml:13: [serial] has no last"},
      {"\"bcd\"", "\"binary\"", "job.toml:16: serial.encoding must be le, be, bcd, dec or hex, not binary"},
      {"first = 1", "list = \"keys.txt\"", "job.toml:16: serial.encoding does not go with serial.list"},
      {"block = \"B\"", "block = \"B\"\nblock = \"A\"", "job.toml:21: value (\"block\") already exists."},
      {"block = \"B\"", "block = \"C\"", "job.toml:20: serial.block: no block C in [serial.blocks]"},
      {"block = \"B\"\n", "", "job.toml:13: [serial] has blocks but no block"},
      {"B = [5000", "B = [4999", "job.toml:24: serial.blocks.B overlaps serial.blocks.A"},
      {"9999]", "10001]", "job.toml:24: serial.blocks.B reaches outside serial.first..serial.last (1..9999)"},
      {"B = [5000, 9999]", "B = [5000, 5000]", "job.toml:24: serial.blocks.B holds no number of the range's step"},
      {"\"line.csv\"", "\"odbc:DSN=line\"",
       "job.toml:19: serial.journal: with a database record the numbers are leased"},
  };
  test::TempDir dir;
  const std::string jobPath = (dir.path() / "lines" / "job.toml").string();
  std::filesystem::create_directories(dir.path() / "lines");
  for (const Case& c : cases) {
    std::string text = ValidJob();
    if (*c.from) text.replace(text.find(c.from), std::string(c.from).size(), c.to);
    dir.Write("lines/job.toml", text);
    const auto read = ReadJobFile(jobPath);
    if (*c.want) {
      const auto* error = std::get_if<std::string>(&read);
      ASSERT_NE(error, nullptr) << c.want;
      EXPECT_NE(error->find(c.want), std::string::npos) << *error;
      continue;
    }
    const auto* job = std::get_if<JobFile>(&read);
    ASSERT_NE(job, nullptr) << std::get<std::string>(read);
    const auto lines = dir.path() / "lines";
    EXPECT_EQ(job->sha256, Sha256Hex(text));
    EXPECT_EQ(job->codeFile, (lines / "firmware.hex").string());
    EXPECT_EQ(job->chipList, (dir.path() / "shared" / "samlist.txt").string());
    EXPECT_EQ(job->record, (lines / "line.csv").string());
    // A database record, the journal left out, is no file.
    text.replace(text.find("\"line.csv\""), 10, "\"odbc:DSN=line;Database=x\"");
    text.insert(text.find("journal = "), "# ");
    dir.Write("lines/job.toml", text);
    const auto leased = ReadJobFile(jobPath);
    ASSERT_TRUE(std::holds_alternative<JobFile>(leased)) << std::get<std::string>(leased);
    EXPECT_EQ(std::get<JobFile>(leased).record, "odbc:DSN=line;Database=x");
    EXPECT_EQ(std::get<JobFile>(leased).serial->journal, "");
    EXPECT_EQ(job->expectChecksum, 0x5E21);
    EXPECT_EQ(job->ports.size(), 2u);
    ASSERT_TRUE(job->serial.has_value());
    EXPECT_EQ(job->serial->address, 0x100u);
    // Block B, on the odd numbers from 1.
    ASSERT_TRUE(job->serial->rule.has_value());
    EXPECT_EQ(job->serial->rule->encoding, Encoding::kBcd);
    EXPECT_EQ(job->serial->rule->first, 5001u);
    EXPECT_EQ(job->serial->rule->step, 2u);
    EXPECT_EQ(job->serial->rule->last, 9999u);
    EXPECT_EQ(job->serial->journal, (lines / "serials.journal").string());

    // The code file binds the job to one build of the firmware.
    EXPECT_EQ(CheckCodeFile(*job), job->codeFile + ": cannot be read");
    dir.Write("lines/firmware.hex", kFirmware);
    EXPECT_EQ(CheckCodeFile(*job), std::nullopt);
    const std::string rebuilt = ":0100000001FE\n:00000001FF\n";
    dir.Write("lines/firmware.hex", rebuilt);
    EXPECT_EQ(CheckCodeFile(*job),
              job->codeFile + ": SHA-256 " + Sha256Hex(rebuilt) + " differs from the job's " + job->codeSha256);
  }
}

}  // namespace
}  // namespace kovra::cli
