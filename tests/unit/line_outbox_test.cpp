// SPDX-License-Identifier: MIT
// A station's rows and serial numbers on their way to the line's database:
// through an outage, a lost answer and a restart, each arrives once.

#include "ops/line_outbox.h"

#include <gtest/gtest.h>

#include <set>

#include "base/csv.h"
#include "ops/production_record.h"
#include "support/fake_line_database.h"
#include "support/memory_serial_journal.h"
#include "support/virtual_clock.h"

namespace kovra {
namespace {

std::string Row(int chip) {
  return FormatRecordRow({.utcMs = 1765206000000 + chip * 1000,
                          .port = "COM3",
                          .chip = "KV88C0A",
                          .codeFile = "a,\"b\".hex",
                          .passed = chip % 2 == 0,
                          .status = "编程成功\n第" + std::to_string(chip) + "片"});
}

TEST(LineOutbox, RowsWaitThroughAnOutageAndGoInOnce) {
  test::FakeLineDatabase db;
  test::FakeLineDatabase::Connection connection(db);
  test::MemorySerialJournal journal;
  test::VirtualClock clock;
  {
    LineOutbox outbox(connection, journal, clock, "A", 2);
    ASSERT_EQ(outbox.Start(), "");
    db.SetAway(true);
    for (int chip = 1; chip <= 3; ++chip) ASSERT_TRUE(outbox.Append("odbc:x", kRecordHeader, Row(chip)));
    EXPECT_FALSE(outbox.Drain(50));
    EXPECT_FALSE(outbox.Status().reachable);
    EXPECT_EQ(outbox.Status().waiting, 3u);
    EXPECT_NE(outbox.Notice(), "");
    db.LoseNextAnswer();
    db.SetAway(false);
    ASSERT_TRUE(outbox.Drain(5000));
    EXPECT_TRUE(outbox.Status().reachable);
  }
  auto rows = db.Rows();
  ASSERT_EQ(rows.size(), 3u);
  for (int chip = 1; chip <= 3; ++chip) {
    EXPECT_EQ(FormatCsvRow(rows[{"A", chip}].fields) + "\r\n", Row(chip)) << chip;
  }

  // A crash before the last "sent" line: the row is sent again, and the key
  // keeps it single. The sequence goes on after the journal's last row.
  journal.contents.erase(journal.contents.rfind("sent row 3\n"));
  {
    LineOutbox outbox(connection, journal, clock, "A", 2);
    ASSERT_EQ(outbox.Start(), "");
    ASSERT_TRUE(outbox.Append("odbc:x", kRecordHeader, Row(4)));
    ASSERT_TRUE(outbox.Drain(5000));
    EXPECT_EQ(outbox.Notice(), "");
  }
  EXPECT_EQ(db.Rows().size(), 4u);

  // A new journal for station A (a reinstalled PC) numbers after the
  // database's rows; the old journal, still in use, then collides with it:
  // its row is refused and kept, never taken for one that went in.
  test::MemorySerialJournal fresh;
  db.SetAway(true);
  EXPECT_NE(LineOutbox(connection, fresh, clock, "A", 2).Start().find("needs the database"), std::string::npos);
  db.SetAway(false);
  {
    LineOutbox renewed(connection, fresh, clock, "A", 2);
    ASSERT_EQ(renewed.Start(), "");
    ASSERT_TRUE(renewed.Append("odbc:x", kRecordHeader, Row(5)));
    ASSERT_TRUE(renewed.Drain(5000));
    LineOutbox old(connection, journal, clock, "A", 2);
    ASSERT_EQ(old.Start(), "");
    ASSERT_TRUE(old.Append("odbc:x", kRecordHeader, Row(6)));
    ASSERT_TRUE(old.Drain(5000));
    EXPECT_EQ(old.Status().refused, 1u);
    EXPECT_NE(old.Notice(), "");
  }
  rows = db.Rows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(FormatCsvRow(rows[{"A", 5}].fields) + "\r\n", Row(5));
  EXPECT_NE(journal.contents.find("row 5 "), std::string::npos);
  EXPECT_EQ(journal.contents.find("sent row 5"), std::string::npos);

  LineOutbox other(connection, journal, clock, "B", 2);
  EXPECT_NE(other.Start().find("station A"), std::string::npos);

  // A journal that can no longer be written keeps no row: the run stops.
  test::MemorySerialJournal full;
  LineOutbox refusing(connection, full, clock, "C", 2);
  ASSERT_EQ(refusing.Start(), "");
  full.refuse = true;
  EXPECT_FALSE(refusing.Append("odbc:x", kRecordHeader, Row(1)));
  EXPECT_FALSE(refusing.CanAppend("odbc:x"));
}

TEST(LineOutbox, StationsLeaseBlocksAndSpendThemThroughAnOutage) {
  test::FakeLineDatabase db;
  test::VirtualClock clock;
  const SerialRule rule = *ParseSerialRule("0100:2:bcd:1:1:30").rule;
  const SerialSeries series{"0100:2:bcd:1:1:30", 1, 1, 30};
  struct Station {
    explicit Station(test::FakeLineDatabase& db) : connection(db) {}
    test::FakeLineDatabase::Connection connection;
    test::MemorySerialJournal journal;
  };
  Station a(db), b(db);
  std::set<uint64_t> handedOut;
  const auto take = [&](SerialSequence& sequence) {
    const SerialNext next = sequence.Next("COM3", 0);
    if (next.take != SerialTake::kTaken) return false;
    EXPECT_TRUE(handedOut.insert(next.value.number).second) << next.value.number;
    return true;
  };
  std::string error;
  {
    LineOutbox outboxA(a.connection, a.journal, clock, "A", 2);
    LineOutbox outboxB(b.connection, b.journal, clock, "B", 2);
    ASSERT_EQ(outboxA.Start(), "");
    ASSERT_EQ(outboxB.Start(), "");
    auto serialsA = outboxA.Serials(series, rule, {}, 10, error);
    auto serialsB = outboxB.Serials(series, rule, {}, 10, error);
    ASSERT_TRUE(serialsA && serialsB) << error;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(take(*serialsA));  // A holds 1..10
    ASSERT_TRUE(take(*serialsB));                              // B holds 11..20
    // Without the database A spends what it holds, and then no more.
    db.SetAway(true);
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(take(*serialsA)) << i;
    EXPECT_FALSE(take(*serialsA));
    db.SetAway(false);
    ASSERT_TRUE(take(*serialsA));  // 21..30
    ASSERT_TRUE(outboxA.Drain(5000) && outboxB.Drain(5000));
  }
  // After a restart A goes on inside the block it holds.
  {
    LineOutbox outboxA(a.connection, a.journal, clock, "A", 2);
    ASSERT_EQ(outboxA.Start(), "");
    auto serialsA = outboxA.Serials(series, rule, {}, 10, error);
    ASSERT_TRUE(serialsA) << error;
    while (take(*serialsA)) {
    }
    ASSERT_TRUE(outboxA.Drain(5000));
  }
  const std::set<uint64_t> fromA{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
  std::set<uint64_t> inDatabase;
  for (const auto& [key, spent] : db.SpentNumbers()) {
    inDatabase.insert(spent.number);
    EXPECT_EQ(spent.station, spent.number > 10 && spent.number <= 20 ? "B" : "A") << spent.number;
  }
  EXPECT_EQ(inDatabase, handedOut);
  EXPECT_EQ(handedOut.size(), fromA.size() + 1);
}

}  // namespace
}  // namespace kovra
