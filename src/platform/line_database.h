// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kovra {

// What a call to the line's database came to.
struct DbResult {
  enum class Kind {
    kDone,
    kAlreadyThere,  // the row's key is in the database already: a retry of a row that went in
    kUnreachable,   // no connection, or it broke: try again later
    kRefused,       // the server refused the statement itself: trying again will not help
  };
  Kind kind = Kind::kDone;
  std::string message;  // the driver's words, for the operator

  bool delivered() const { return kind == Kind::kDone || kind == Kind::kAlreadyThere; }
};

// One chip's record row as a station numbered it: fields are the record's
// columns in the CSV header's order, as text.
struct StoredRecord {
  std::string station;
  uint64_t sequence = 0;
  std::vector<std::string> fields;
};

// Numbers first, first + step, ... up to last, shared by every station that
// names the series.
struct SerialSeries {
  std::string name;
  uint64_t first = 0;
  uint64_t step = 1;
  uint64_t last = 0;
};

// Numbers of a series, first..last inclusive, leased to one station.
struct SerialBlock {
  uint64_t first = 0;
  uint64_t last = 0;
};

// A number a station handed to a chip.
struct SpentSerial {
  std::string series;
  uint64_t number = 0;
  std::string bytes;  // what was written into the chip, upper-case hex
  std::string station;
  std::string port;
  std::string timeUtc;  // "2026-12-08T15:00:00Z"
};

// Which rows a report reads: time in [from, to) as "2026-12-08T15:00:00Z"
// texts (empty: open), of one station (empty: all).
struct RecordQuery {
  std::string from;
  std::string to;
  std::string station;
};

// The factory's database as the line uses it. Not safe to share between
// threads: its user serialises the calls.
class LineDatabase {
 public:
  virtual ~LineDatabase() = default;
  // Connects when not connected, and creates the tables that are missing.
  virtual DbResult Open() = 0;
  // Drops the connection, as after kUnreachable.
  virtual void Close() = 0;
  // One record row in a transaction of its own; (station, sequence) is
  // unique. kAlreadyThere only when the row under that key is this one.
  virtual DbResult InsertRecord(const StoredRecord& record) = 0;
  // The station's highest sequence in the database, 0 when it has none.
  virtual DbResult LastSequence(const std::string& station, uint64_t& last) = 0;
  // One spent number; (series, number) is unique.
  virtual DbResult InsertSpent(const SpentSerial& spent) = 0;
  // The next `count` numbers of the series for station, in one transaction,
  // so that no two stations ever get the same number: block is nullopt when
  // the series has none left.
  virtual DbResult LeaseBlock(const SerialSeries& series, uint64_t count, const std::string& station,
                              const std::string& timeUtc, std::optional<SerialBlock>& block) = 0;
  // The record rows the query asks for, by station, then sequence.
  virtual DbResult Records(const RecordQuery& query, std::vector<StoredRecord>& rows) = 0;
  // The numbers spent in the query's window, by series, then number.
  virtual DbResult Spent(const RecordQuery& query, std::vector<SpentSerial>& spent) = 0;
};

}  // namespace kovra
