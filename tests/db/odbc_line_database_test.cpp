// SPDX-License-Identifier: MIT
// The line's database against a real server: KOVRA_TEST_ODBC names it (CTest
// starts a throwaway PostgreSQL, tests/db/pg_cluster.sh). With
// KOVRA_TEST_PG_CLUSTER and KOVRA_TEST_PG_DIR the server is also stopped and
// started again under the tests' feet.
#include "odbc/odbc_line_database.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kovra::odbc {
namespace {

using Kind = DbResult::Kind;
using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Names no earlier run against the same database used.
std::string Tag() {
  static const std::string tag =
      "t" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count() % 1000000000000);
  return tag;
}

// Runs one statement outside any transaction, as CREATE DATABASE needs.
bool Execute(std::string connection, std::string sql) {
  const auto text = [](std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); };
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  bool ok = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) &&
            SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) &&
            SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)) &&
            SQL_SUCCEEDED(
                SQLDriverConnect(dbc, nullptr, text(connection), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
  if (ok) {
    ok = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st)) &&
         SQL_SUCCEEDED(SQLExecDirect(st, text(sql), SQL_NTS));
    if (st != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
  }
  if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  return ok;
}

StoredRecord Record(const std::string& station, uint64_t sequence, const std::string& time) {
  return {station,
          sequence,
          {time, "COM3", "KV86C08", "C:\\代码\\demo.hex", "1A2B", "1A2B", "blank,program,verify,protect", "pass",
           "自动编程已成功完成", "7.366", "", "", "0000002A", "line \"A\", 7", std::string(64, 'f')}};
}

class OdbcLineDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = Env("KOVRA_TEST_ODBC");
    if (connection_.empty()) GTEST_SKIP() << "KOVRA_TEST_ODBC names no database";
  }

  std::unique_ptr<OdbcLineDatabase> Opened(const std::string& connection = "") {
    auto db = std::make_unique<OdbcLineDatabase>(connection.empty() ? connection_ : connection);
    const DbResult r = db->Open();
    EXPECT_EQ(r.kind, Kind::kDone) << r.message;
    return db;
  }

  std::string connection_;
};

TEST_F(OdbcLineDatabaseTest, FreshDatabaseGetsItsTablesFromStationsOpeningAtOnce) {
  const std::string name = "kovra_" + Tag();
  const size_t at = connection_.find("Database=kovra;");
  if (at == std::string::npos) GTEST_SKIP() << "the connection string names no Database=kovra";
  ASSERT_TRUE(Execute(connection_, "CREATE DATABASE " + name));
  const std::string fresh = std::string(connection_).replace(at, 15, "Database=" + name + ";");

  constexpr int kStations = 4;
  std::vector<DbResult> opened(kStations);
  std::latch start(kStations);
  std::vector<std::thread> threads;
  for (int i = 0; i < kStations; ++i)
    threads.emplace_back([&, i] {
      OdbcLineDatabase db(fresh);
      start.arrive_and_wait();
      opened[i] = db.Open();
    });
  for (std::thread& t : threads) t.join();
  for (const DbResult& r : opened) EXPECT_EQ(r.kind, Kind::kDone) << r.message;

  auto db = Opened(fresh);
  EXPECT_EQ(db->InsertRecord(Record("S1", 1, "2026-12-08T15:00:00Z")).kind, Kind::kDone);
  db->Close();
  EXPECT_EQ(db->Open().kind, Kind::kDone);
  std::vector<StoredRecord> rows;
  EXPECT_EQ(db->Records({}, rows).kind, Kind::kDone);
  EXPECT_EQ(rows.size(), 1u);
  db.reset();
  Execute(connection_, "DROP DATABASE " + name);
}

TEST_F(OdbcLineDatabaseTest, RowsComeBackAsTheyWentInOnceEach) {
  auto db = Opened();
  const std::string a = Tag() + "-甲", b = Tag() + "-B";
  StoredRecord first = Record(a, 1, "2026-12-08T15:00:00Z");
  StoredRecord failed = Record(a, 2, "2026-12-08T16:00:00Z");
  failed.fields = {"2026-12-08T16:00:00Z",
                   "/dev/kovra/pci-0000:00:14.0-usb-0:2:1.0",
                   "",
                   "",
                   "",
                   "",
                   "",
                   "fail",
                   "芯片不空!",
                   "0.000",
                   "not-blank",
                   "00400",
                   "",
                   "",
                   ""};
  StoredRecord elsewhere = Record(b, 1, "2026-12-08T15:30:00Z");
  StoredRecord late = Record(a, 3, "2026-12-09T08:00:00Z");
  late.fields[9] = "";  // NULL in elapsed_ms
  for (const StoredRecord* row : {&late, &first, &elsewhere, &failed}) {
    const DbResult r = db->InsertRecord(*row);
    ASSERT_EQ(r.kind, Kind::kDone) << r.message;
  }

  // A retry of a row that went in, even one with no seconds; another row
  // under its key is no retry.
  EXPECT_EQ(db->InsertRecord(first).kind, Kind::kAlreadyThere);
  EXPECT_EQ(db->InsertRecord(late).kind, Kind::kAlreadyThere);
  StoredRecord impostor = failed;
  impostor.fields[7] = "pass";
  EXPECT_EQ(db->InsertRecord(impostor).kind, Kind::kRefused);
  uint64_t last = 0;
  ASSERT_EQ(db->LastSequence(a, last).kind, Kind::kDone);
  EXPECT_EQ(last, 3u);
  ASSERT_EQ(db->LastSequence("nobody", last).kind, Kind::kDone);
  EXPECT_EQ(last, 0u);
  StoredRecord badSeconds = Record(a, 9, "2026-12-08T15:00:00Z");
  badSeconds.fields[9] = "7.5";
  EXPECT_EQ(db->InsertRecord(badSeconds).kind, Kind::kRefused);

  struct Case {
    RecordQuery query;
    std::vector<const StoredRecord*> rows;
  };
  const Case cases[] = {
      {{"", "", a}, {&first, &failed, &late}},
      {{"2026-12-08T15:00:00Z", "2026-12-08T16:00:00Z", a}, {&first}},
      {{"2026-12-08T15:00:01Z", "", a}, {&failed, &late}},
      {{"2026-12-08T15:00:00Z", "2026-12-09T00:00:00Z", ""}, {&elsewhere, &first, &failed}},  // "-B" sorts before "-甲"
  };
  for (const Case& c : cases) {
    std::vector<StoredRecord> rows;
    ASSERT_EQ(db->Records(c.query, rows).kind, Kind::kDone);
    // Rows of earlier runs lie in the open windows too: only this run's count.
    std::erase_if(rows, [&](const StoredRecord& r) { return r.station != a && r.station != b; });
    ASSERT_EQ(rows.size(), c.rows.size()) << c.query.from << ".." << c.query.to << " " << c.query.station;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].station, c.rows[i]->station);
      EXPECT_EQ(rows[i].sequence, c.rows[i]->sequence);
      EXPECT_EQ(rows[i].fields, c.rows[i]->fields);
    }
  }

  const std::string series = Tag() + "-spent";
  const SpentSerial spent[] = {{series, 7, "00000007", a, "COM3", "2026-12-08T15:00:00Z"},
                               {series, 5, "00000005", a, "COM4", "2026-12-08T15:00:01Z"},
                               {series, 6, "00000006", b, "COM3", "2026-12-08T15:00:02Z"}};
  for (const SpentSerial& s : spent) ASSERT_EQ(db->InsertSpent(s).kind, Kind::kDone);
  EXPECT_EQ(db->InsertSpent(spent[0]).kind, Kind::kAlreadyThere);
  std::vector<SpentSerial> read;
  ASSERT_EQ(db->Spent({"2026-12-08T15:00:00Z", "2026-12-08T16:00:00Z", a}, read).kind, Kind::kDone);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].number, 5u);
  EXPECT_EQ(read[0].port, "COM4");
  EXPECT_EQ(read[1].number, 7u);
  EXPECT_EQ(read[1].bytes, "00000007");
  EXPECT_EQ(read[1].timeUtc, "2026-12-08T15:00:00Z");
}

TEST_F(OdbcLineDatabaseTest, StationsLeasingAtOnceNeverShareANumber) {
  const SerialSeries series{Tag() + "-lease", 1000, 3, 1000 + 3 * 99};  // 100 numbers
  constexpr int kStations = 8;
  constexpr uint64_t kCount = 7;
  std::vector<std::vector<SerialBlock>> leased(kStations);
  std::vector<DbResult> ends(kStations);
  std::latch start(kStations);
  std::vector<std::thread> threads;
  for (int i = 0; i < kStations; ++i)
    threads.emplace_back([&, i] {
      OdbcLineDatabase db(connection_);
      start.arrive_and_wait();
      for (DbResult r = db.Open(); r.kind == Kind::kDone;) {
        std::optional<SerialBlock> block;
        r = db.LeaseBlock(series, kCount, "S" + std::to_string(i), "2026-12-08T15:00:00Z", block);
        ends[i] = r;
        if (r.kind != Kind::kDone || !block) break;
        leased[i].push_back(*block);
      }
    });
  for (std::thread& t : threads) t.join();
  for (const DbResult& r : ends) EXPECT_EQ(r.kind, Kind::kDone) << r.message;

  std::vector<SerialBlock> all;
  for (const auto& blocks : leased) all.insert(all.end(), blocks.begin(), blocks.end());
  std::sort(all.begin(), all.end(), [](const SerialBlock& x, const SerialBlock& y) { return x.first < y.first; });
  ASSERT_EQ(all.size(), 15u);
  uint64_t expected = series.first;
  for (const SerialBlock& block : all) {
    EXPECT_EQ(block.first, expected);
    EXPECT_EQ(block.last, &block == &all.back() ? series.last : block.first + (kCount - 1) * series.step);
    expected = block.last + series.step;
  }

  auto db = Opened();
  std::optional<SerialBlock> block;
  EXPECT_EQ(db->LeaseBlock(series, 1, "S0", "2026-12-08T15:00:00Z", block).kind, Kind::kDone);
  EXPECT_FALSE(block);
  // The same name with other numbers would hand some out twice.
  SerialSeries other = series;
  other.last += 300;
  EXPECT_EQ(db->LeaseBlock(other, 1, "S0", "2026-12-08T15:00:00Z", block).kind, Kind::kRefused);
}

TEST_F(OdbcLineDatabaseTest, AStoppedServerIsUnreachableAtOnceAndTheRowsGoInOnceItIsBack) {
  const std::string script = Env("KOVRA_TEST_PG_CLUSTER"), dir = Env("KOVRA_TEST_PG_DIR");
  if (script.empty() || dir.empty()) GTEST_SKIP() << "no throwaway server to stop";
  const auto cluster = [&](const char* command) {
    return std::system(("'" + script + "' " + command + " '" + dir + "'").c_str()) == 0;
  };
  const std::string station = Tag() + "-restart";
  auto idle = Opened();  // connected before the stop, first used after the start
  auto busy = Opened();
  ASSERT_EQ(busy->InsertRecord(Record(station, 1, "2026-12-08T15:00:00Z")).kind, Kind::kDone);

  ASSERT_TRUE(cluster("pause"));
  const Clock::time_point stopped = Clock::now();
  DbResult r = busy->InsertRecord(Record(station, 2, "2026-12-08T15:00:01Z"));
  EXPECT_EQ(r.kind, Kind::kUnreachable) << r.message;
  EXPECT_FALSE(r.message.empty());
  r = busy->Open();
  EXPECT_EQ(r.kind, Kind::kUnreachable) << r.message;
  EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(10));
  ASSERT_TRUE(cluster("resume"));

  r = idle->InsertRecord(Record(station, 2, "2026-12-08T15:00:01Z"));
  EXPECT_EQ(r.kind, Kind::kUnreachable) << r.message;
  ASSERT_EQ(idle->Open().kind, Kind::kDone);
  EXPECT_EQ(idle->InsertRecord(Record(station, 2, "2026-12-08T15:00:01Z")).kind, Kind::kDone);
  ASSERT_EQ(busy->Open().kind, Kind::kDone);
  EXPECT_EQ(busy->InsertRecord(Record(station, 2, "2026-12-08T15:00:01Z")).kind, Kind::kAlreadyThere);
  std::vector<StoredRecord> rows;
  ASSERT_EQ(busy->Records({"", "", station}, rows).kind, Kind::kDone);
  EXPECT_EQ(rows.size(), 2u);

  // The driver's words name the database; the password must not show.
  const std::string secret = "hunter2x";
  std::string wrong = connection_;
  const size_t at = wrong.find("Database=kovra;");
  if (at != std::string::npos) wrong.replace(at, 15, "Database=kovra_" + secret + ";");
  OdbcLineDatabase refused(wrong + "Pwd={" + secret + "};");
  r = refused.Open();
  EXPECT_EQ(r.kind, Kind::kUnreachable);
  EXPECT_EQ(r.message.find(secret), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("kovra_***"), std::string::npos) << r.message;
  EXPECT_EQ(refused.InsertRecord(Record(station, 3, "2026-12-08T15:00:02Z")).kind, Kind::kUnreachable);
}

}  // namespace
}  // namespace kovra::odbc
