// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "platform/line_database.h"

namespace kovra::odbc {

// The line's database through ODBC: odbc32 on Windows, unixODBC on Linux,
// the same wide-character calls on both. Messages carry the driver's words,
// with the connection string's password taken out.
class OdbcLineDatabase : public LineDatabase {
 public:
  // An ODBC connection string: "DSN=kovra-line" or
  // "Driver={PostgreSQL Unicode};Server=...;Port=...;Database=...;Uid=...;".
  explicit OdbcLineDatabase(std::string connection);
  ~OdbcLineDatabase() override;
  OdbcLineDatabase(const OdbcLineDatabase&) = delete;
  OdbcLineDatabase& operator=(const OdbcLineDatabase&) = delete;

  // Also all a "db init" needs: it makes the tables that are missing.
  DbResult Open() override;
  void Close() override;
  DbResult InsertRecord(const StoredRecord& record) override;
  DbResult InsertSpent(const SpentSerial& spent) override;
  DbResult LeaseBlock(const SerialSeries& series, uint64_t count, const std::string& station,
                      const std::string& timeUtc, std::optional<SerialBlock>& block) override;
  DbResult Records(const RecordQuery& query, std::vector<StoredRecord>& rows) override;
  DbResult LastSequence(const std::string& station, uint64_t& last) override;
  DbResult Spent(const RecordQuery& query, std::vector<SpentSerial>& spent) override;

 private:
  struct Connection;
  std::string connection_;
  std::string password_;
  std::unique_ptr<Connection> db_;
};

}  // namespace kovra::odbc
