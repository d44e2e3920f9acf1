// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_number.h"
#include "platform/line_database.h"

// The line supervisor's yield report: one HTML page, readable offline and
// without scripts, from record files or the line's database.
namespace kovra::cli {

// What a report is made of. Each record's fields are the record's columns in
// the header's order (kRecordHeader), whatever order its source had.
struct ReportData {
  std::vector<StoredRecord> records{};
  std::vector<SpentSerial> spent{};
  // The numbers come from the database's spent list; else from the rows'
  // serial column.
  bool spentFromDatabase = false;
  std::vector<std::string> sources{};
  // Whole rows read, and rows left out: torn by a crash or a full disk, or
  // (from a database) unreadable.
  size_t rowsRead = 0;
  size_t rowsSkipped = 0;
};

struct ReportOptions {
  std::optional<int64_t> from{};  // UTC seconds: rows from then on
  std::optional<int64_t> to{};    // rows before then
  std::string station{};          // empty: every station
  // One chip's floor time for every port; else each port's fastest pass.
  std::optional<uint64_t> floorMs{};
  // How the serial column's bytes hold the number.
  Encoding serialEncoding = Encoding::kBcd;
};

// "2026-12-08T15:00:00Z", "2026-12-08T15:00" or "2026-12-08", all UTC, as
// seconds since 1970.
std::optional<int64_t> ParseUtcTime(std::string_view text);

// Seconds as the record writes them, "12.345", at most three decimals, as
// milliseconds.
std::optional<uint64_t> ParseMilliseconds(std::string_view text);

// Adds the rows of one record file (its text); the station is the file's
// name without ".csv". A malformed file is an error naming the file and the
// line; a torn row is skipped and counted.
std::optional<std::string> AddRecordFile(const std::string& path, std::string_view text, ReportData& data);

// Adds what the database holds for the query: its rows and spent numbers.
// An error names the source and the database's words.
std::optional<std::string> ReportFromDatabase(LineDatabase& database, const RecordQuery& query,
                                              const std::string& source, ReportData& data);

// The page, UTF-8.
std::string ReportHtml(const ReportData& data, const ReportOptions& options);

}  // namespace kovra::cli
