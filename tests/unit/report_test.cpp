// SPDX-License-Identifier: MIT
// The yield report against records of known content: the page's numbers,
// the rows it reads and those it must not, and what it refuses.
#include "cli/report.h"

#include <gtest/gtest.h>

#include <string>

#include "support/cli_runner.h"
#include "support/fake_line_database.h"
#include "support/sample_files.h"

namespace kovra {
namespace {

using cli::ReportData;

constexpr const char* kHeader =
    "time,port,chip,code file,file checksum,memory checksum,steps,result,status,elapsed s,failure,address,serial,job,"
    "job sha256\r\n";
// As a version before serial numbers wrote it.
constexpr const char* kOldHeader =
    "time,port,chip,code file,file checksum,memory checksum,steps,result,status,elapsed s,failure,address\r\n";

std::string Row(const std::string& time, const std::string& port, const std::string& result, const std::string& status,
                const std::string& elapsed, const std::string& failure, const std::string& serial) {
  return time + "," + port + ",KV86C08,\"fw<1>&.hex\",5E21,5E21,\"blank,program\"," + result + "," + status + "," +
         elapsed + "," + failure + ",," + serial + ",,\r\n";
}

// The text of the cell <td ATTRIBUTES ...>; "missing" when there is none.
std::string Cell(const std::string& page, const std::string& attributes) {
  size_t at = page.find("<td " + attributes);
  while (at != std::string::npos && page[at + 4 + attributes.size()] != ' ' &&
         page[at + 4 + attributes.size()] != '>') {
    at = page.find("<td " + attributes, at + 1);
  }
  if (at == std::string::npos) return "missing";
  const size_t start = page.find('>', at + 4 + attributes.size()) + 1;
  return page.substr(start, page.find("</td>", start) - start);
}

TEST(Report, ShowsWhatTheRecordSays) {
  const std::string a =
      std::string(kHeader) + Row("2026-12-08T15:05:00Z", "P1", "pass", "ok", "2.000", "", "00000001") +
      Row("2026-12-08T15:10:00Z", "P1", "pass", "ok", "2.500", "", "00000002") +
      Row("2026-12-08T15:20:00Z", "P1", "fail", "\"芯片不空, 在地址: 00100\"", "1.700", "not-blank", "00000005") +
      Row("2026-12-08T16:01:00Z", "P2", "pass", "ok", "4.000", "", "00000006") +
      Row("2026-12-08T16:30:00Z", "P2", "fail", "\"line one\r\nline two, \"\"quoted\"\"\"", "0.000", "", "") +
      // Torn by a full disk and ended by the next append, then torn by a crash.
      "2026-12-08T16:35:00Z,P2,KV86C08,\"fw<1>&.h\"\r\n" + "2026-12-08T16:40:00Z,P2,KV86C08,\"fw<1>&.hex,5E";
  const std::string old = std::string(kOldHeader) +
                          "2026-12-08T15:30:00Z,P1,KV86C08,x.hex,5E21,5E21,blank,fail,bad,3.000,verify-failed,00100\r\n"
                          "2026-12-08T15:35:00Z,P1,KV86C08,x.hex,5E21,5E21,blank,fail,bad,2.000,verify-failed,\r\n" +
                          // Appended by this version to the old file: the newer columns beyond its header.
                          Row("2026-12-08T15:40:00Z", "P1", "pass", "ok", "1.000", "", "00000007");
  ReportData data;
  ASSERT_EQ(cli::AddRecordFile("/records/a.csv", a, data), std::nullopt);
  ASSERT_EQ(cli::AddRecordFile("old.CSV", old, data), std::nullopt);
  const std::string page = cli::ReportHtml(data, {});

  const struct {
    std::string attributes;
    std::string value;
  } cells[] = {
      {"id=\"rows-read\"", "8"},
      {"id=\"rows-skipped\"", "2"},
      {"data-scope=\"port\" data-station=\"a\" data-port=\"P1\" data-k=\"chips\"", "3"},
      {"data-scope=\"port\" data-station=\"a\" data-port=\"P1\" data-k=\"yield\"", "66.7"},
      {"data-scope=\"port\" data-station=\"a\" data-port=\"P1\" data-k=\"floor-s\"", "2.000"},
      {"data-scope=\"port\" data-station=\"a\" data-port=\"P2\" data-k=\"failed\"", "1"},
      {"data-scope=\"port\" data-station=\"old\" data-port=\"P1\" data-k=\"floor-s\"", "1.000"},
      {"data-scope=\"station\" data-station=\"a\" data-k=\"yield\"", "60.0"},
      {"data-scope=\"station\" data-station=\"old\" data-k=\"passed\"", "1"},
      {"data-scope=\"line\" data-k=\"chips\"", "8"},
      {"data-scope=\"line\" data-k=\"yield\"", "50.0"},
      {"data-hour=\"2026-12-08T15\" data-k=\"chips\"", "6"},
      {"data-hour=\"2026-12-08T15\" data-k=\"failed\"", "3"},
      // a/P1 at 2 s and old/P1 at 1 s worked that hour: 1800 + 3600.
      {"data-hour=\"2026-12-08T15\" data-k=\"floor\"", "5400.0"},
      {"data-hour=\"2026-12-08T16\" data-k=\"floor\"", "900.0"},
      {"data-failure=\"verify-failed\" data-k=\"count\"", "2"},
      {"data-failure=\"not-blank\" data-k=\"cumulative\"", "75.0"},
      {"data-failure=\"not-blank\" data-k=\"status\"", "芯片不空, 在地址: 00100"},
      {"data-failure=\"unknown\" data-k=\"status\"", "line one \nline two, &quot;quoted&quot;"},
      {"data-series=\"serial\" data-k=\"spent\"", "5"},
      {"data-series=\"serial\" data-k=\"highest\"", "7"},
      {"data-series=\"serial\" data-k=\"missing\"", "2"},
  };
  for (const auto& cell : cells) EXPECT_EQ(Cell(page, cell.attributes), cell.value) << cell.attributes;
  EXPECT_LT(page.find("data-failure=\"verify-failed\""), page.find("data-failure=\"not-blank\""));
  EXPECT_NE(page.find("data-gap=\"3-4\""), std::string::npos);
  EXPECT_NE(page.find("<span id=\"failed-spent\">1</span>"), std::string::npos);
  EXPECT_NE(page.find("fw&lt;1&gt;&amp;.hex"), std::string::npos);
  EXPECT_EQ(page.find("fw<1>"), std::string::npos);

  cli::ReportOptions late;
  late.from = cli::ParseUtcTime("2026-12-08T16:00");
  EXPECT_EQ(Cell(cli::ReportHtml(data, late), "data-scope=\"line\" data-k=\"chips\""), "2");
  EXPECT_NE(cli::ReportHtml({}, {}).find("id=\"empty\""), std::string::npos);
}

TEST(Report, ReadsTheLinesDatabaseBySeries) {
  test::FakeLineDatabase db;
  test::FakeLineDatabase::Connection line(db);
  const auto fields = [](const std::string& time, const std::string& result, const std::string& serial) {
    return std::vector<std::string>{time,
                                    "P1",
                                    "KV86C08",
                                    "fw.hex",
                                    "5E21",
                                    "5E21",
                                    "program",
                                    result,
                                    "ok",
                                    "1.000",
                                    result == "fail" ? "verify-failed" : "",
                                    "",
                                    serial,
                                    "",
                                    ""};
  };
  for (const StoredRecord& row : {StoredRecord{"A", 1, fields("2026-12-08T15:00:00Z", "pass", "00000001")},
                                  StoredRecord{"A", 2, fields("2026-12-08T15:01:00Z", "fail", "00000002")},
                                  StoredRecord{"B", 1, fields("yesterday", "pass", "")}}) {
    line.InsertRecord(row);
  }
  for (const SpentSerial& spent : {SpentSerial{"remote", 1, "00000001", "A", "P1", "2026-12-08T15:00:00Z"},
                                   SpentSerial{"remote", 2, "00000002", "A", "P1", "2026-12-08T15:01:00Z"},
                                   SpentSerial{"remote", 5, "00000005", "B", "P1", "2026-12-08T15:02:00Z"},
                                   SpentSerial{"keys", 7, "A1B2", "B", "P1", "2026-12-08T15:02:00Z"}}) {
    line.InsertSpent(spent);
  }
  ReportData data;
  ASSERT_EQ(cli::ReportFromDatabase(line, {}, "odbc:line", data), std::nullopt);
  const std::string page = cli::ReportHtml(data, {});
  EXPECT_EQ(Cell(page, "id=\"rows-skipped\""), "1");
  EXPECT_EQ(Cell(page, "data-scope=\"line\" data-k=\"chips\""), "2");
  EXPECT_EQ(Cell(page, "data-series=\"remote\" data-k=\"missing\""), "2");
  EXPECT_EQ(Cell(page, "data-series=\"keys\" data-k=\"spent\""), "1");
  EXPECT_NE(page.find("<span id=\"failed-spent\">1</span>"), std::string::npos);

  db.SetAway(true);
  EXPECT_EQ(cli::ReportFromDatabase(line, {}, "odbc:line", data), "odbc:line: away");
}

TEST(Report, RefusesWhatItCannotReadNamingTheLine) {
  test::TempDir dir;
  const std::string bad = dir.Write(
      "bad.csv", std::string(kHeader) + Row("2026-12-08T15:05:00Z", "P1", "fail", "\"two\nlines\"", "1.000", "", "") +
                     Row("2026-12-08 15:06:00", "P1", "pass", "ok", "1.000", "", ""));
  const std::string good = dir.Write("good.csv", std::string(kHeader));
  const struct {
    std::string args;
    int status;
    std::string err;  // a part of it
  } cases[] = {
      {"report " + bad, 2, "bad.csv:4: time"},
      {"report " + dir.Write("plain.csv", "a,b\r\n1,2\r\n"), 2, "plain.csv:1: no record file"},
      {"report " + good + " --from 2026-12-32", 2, "--from 2026-12-32: not a time"},
      {"report " + good + " --floor-seconds 0", 2, "--floor-seconds 0"},
      {"report " + good + " " + good, 2, "is named twice"},
      {"report odbc:line", 2, "odbc:line"},
      {"report " + good + " -o " + good, 2, "is a record the report reads"},
      {"report " + good + " -o " + (dir.path() / "page.html").string(), 0, ""},
  };
  for (const auto& c : cases) {
    const test::CliResult result = test::Cli(c.args);
    EXPECT_EQ(result.status, c.status) << c.args << "\n" << result.err;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << c.args << "\n" << result.err;
  }
}

}  // namespace
}  // namespace kovra
