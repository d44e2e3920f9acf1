// SPDX-License-Identifier: MIT
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ops/serial_sequence.h"
#include "platform/clock.h"
#include "platform/line_database.h"
#include "platform/record_file.h"
#include "platform/serial_journal.h"

namespace kovra {

// A station's side of the line's database. Every record row and every serial
// number spent is first written to the station's own journal, on the disk,
// and only then sent, in order, by a thread of its own; so the station keeps
// programming while the database is away, and a row that went in before a
// connection broke is not doubled by its retry (station, sequence is unique).
//
// The journal's lines, one space apart:
//
//   station NAME FIRST               the station the journal belongs to, and its first row's number
//   row SEQ CSV                      a record row, its line breaks as \r \n, '\' as \\ .
//   sent row SEQ                     that row is in the database
//   series NAME                      the serial numbers below are of series NAME
//   lease FIRST LAST                 numbers FIRST..LAST of it are this station's
//   spent NUMBER BYTES PORT TIME     a number handed to a chip (as the serial journal has it)
//   sent spent SERIES NUMBER         that number is in the database
class LineOutbox : public RecordFile {
 public:
  // retryMs: how long the sender waits before it tries an unreachable
  // database again.
  LineOutbox(LineDatabase& database, SerialJournal& journal, Clock& clock, std::string station, uint32_t retryMs);
  ~LineOutbox() override;
  LineOutbox(const LineOutbox&) = delete;
  LineOutbox& operator=(const LineOutbox&) = delete;

  // Reads the journal and starts sending what waits; why it cannot (an
  // unreadable journal, one of another station, a new one while the
  // database cannot say where the station's rows stand), empty otherwise.
  std::string Start();

  // The rows go to the journal (the path, the connection, is the outbox's
  // own); true once they are on the disk.
  bool Append(const std::string& path, std::string_view header, std::string_view rows) override;
  // Whether a row could be kept now: the journal has not failed.
  bool CanAppend(const std::string& path) override;
  std::string Notice() override;

  struct Health {
    bool reachable = true;  // the last call to the database got through
    size_t waiting = 0;     // rows and numbers not yet in the database
    size_t refused = 0;     // refused by it this run: they stay in the journal
    std::string problem{};  // the last failure's words
  };
  Health Status();
  // Waits up to ms for everything to be sent; true when nothing waits.
  bool Drain(uint32_t ms);

  // The serial numbers of series, kept in this journal and leased from the
  // database in blocks of blockSize: the source the ports share. nullptr
  // and error when the journal's numbers cannot be these.
  std::unique_ptr<SerialSequence> Serials(const SerialSeries& series, std::optional<SerialRule> rule,
                                          std::vector<std::vector<uint8_t>> values, uint64_t blockSize,
                                          std::string& error);

 private:
  // A record row (sequence, csv), or a spent number.
  struct Pending {
    uint64_t sequence = 0;
    std::string csv{};
    std::optional<SpentSerial> spent{};
  };
  class SeriesJournal;
  class Leaser;

  // Appends with mutex_ held; a failure stops every later row.
  bool AppendLocked(std::string_view line);
  // lastInDatabase: a new journal, to be named and numbered after it.
  std::string Load(const std::vector<std::string>& lines, std::optional<uint64_t> lastInDatabase);
  void Send();
  DbResult Deliver(const Pending& item);
  DbResult Attempt(const std::function<DbResult()>& call);
  std::optional<SerialBlock> Lease(const SerialSeries& series, uint64_t count, bool mustTry);

  LineDatabase& database_;
  SerialJournal& journal_;
  Clock& clock_;
  const std::string station_;
  const uint32_t retryMs_;

  std::mutex mutex_;  // the journal, the queue and the health
  std::condition_variable changed_;
  std::deque<Pending> pending_;
  uint64_t nextSequence_ = 1;
  std::string lastSeries_;  // of the journal's last "series" line
  bool failed_ = false;     // an append failed: nothing more is kept
  bool stop_ = false;
  Health health_;

  std::mutex databaseMutex_;  // one call at a time on the connection
  std::thread sender_;
  std::vector<std::unique_ptr<SerialJournal>> seriesJournals_;
  std::vector<std::unique_ptr<BlockLeaser>> leasers_;
};

// A record that names the line's database ("odbc:CONNECTION"), not a CSV file.
inline bool IsDatabaseRecord(std::string_view record) { return record.starts_with("odbc:"); }
// Its ODBC connection string.
inline std::string DatabaseConnection(std::string_view record) {
  return std::string(record.substr(std::string_view("odbc:").size()));
}
// How long a station's sender waits before it tries an unreachable database again.
inline constexpr uint32_t kDatabaseRetryMs = 2000;
// The record as an operator may see it: a database's password hidden.
std::string ShownRecordPath(std::string_view record);

// The row as one journal line's CSV field, and back.
std::string EscapeJournalText(std::string_view text);
std::string UnescapeJournalText(std::string_view text);

}  // namespace kovra
