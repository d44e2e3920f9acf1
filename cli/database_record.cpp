// SPDX-License-Identifier: MIT
#include "cli/database_record.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/sha256.h"
#include "base/text_helpers.h"
#include "cli/commands.h"
#include "cli/system.h"
#include "odbc/odbc_line_database.h"

namespace kovra::cli {
std::string StationNameProblem(std::string_view station) {
  if (station.empty() || station.size() > 64) return "a station's name has 1 to 64 characters";
  const bool plain = std::all_of(station.begin(), station.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
  });
  return plain ? std::string() : "a station's name holds only letters, digits, '-', '_' and '.'";
}

std::string DefaultStation() { return HostName(); }

std::string DefaultStationJournal(const std::string& station) {
  const std::string folder = StateFolder();
  if (folder.empty()) return {};
  return PathText(Utf8Path(folder) / ("record-" + station + ".journal"));
}

DatabaseRecord::DatabaseRecord(const std::string& record, const std::string& station, const std::string& journalPath,
                               Clock& clock)
    : journalPath_(journalPath) {
  if (const std::string problem = StationNameProblem(station); !problem.empty()) {
    throw Refusal{"--station " + station + ": " + problem};
  }
  if (journalPath_.empty()) throw Refusal{"no folder for the station's journal: give --journal FILE"};
  RequireRegularFile("--journal", journalPath_, true);
  std::string error;
  journal_ = OpenSerialJournal(journalPath_, error);
  if (!journal_) throw Refusal{journalPath_ + ": " + error};
  database_ = std::make_unique<odbc::OdbcLineDatabase>(DatabaseConnection(record));
  // A connection the driver or the server refuses is a mistake to mend now;
  // one that cannot be made now is the outage the journal is for.
  const DbResult opened = database_->Open();
  if (opened.kind == DbResult::Kind::kRefused) {
    throw Refusal{ShownRecordPath(record) + ": " + opened.message};
  }
  if (opened.kind == DbResult::Kind::kUnreachable) {
    std::fprintf(stderr, "database unreachable, rows wait in %s: %s\n", journalPath_.c_str(), opened.message.c_str());
  }
  outbox_ = std::make_unique<LineOutbox>(*database_, *journal_, clock, station, kDatabaseRetryMs);
  if (std::string problem = outbox_->Start(); !problem.empty()) throw Refusal{journalPath_ + ": " + problem};
}

DatabaseRecord::~DatabaseRecord() = default;

std::unique_ptr<SerialSequence> DatabaseRecord::Serials(std::optional<SerialRule> rule,
                                                        std::vector<std::vector<uint8_t>> values, uint64_t blockSize) {
  SerialSeries series;
  if (rule) {
    series = {SerialRuleText(*rule), rule->first, rule->step, rule->last};
  } else {
    // A list is its values: the same file on every station is one series.
    std::string all;
    for (const auto& value : values) all += HexBytes(value) + "\n";
    series = {"list:" + Sha256Hex(all).substr(0, 16), 1, 1, values.size()};
  }
  std::string error;
  auto sequence = outbox_->Serials(series, rule, std::move(values), blockSize, error);
  if (!sequence) throw Refusal{journalPath_ + ": " + error};
  return sequence;
}

int DbInit(const std::string& record) {
  if (!IsDatabaseRecord(record)) throw Refusal{record + ": not odbc:CONNECTION"};
  odbc::OdbcLineDatabase database(DatabaseConnection(record));
  const DbResult opened = database.Open();
  if (!opened.delivered()) {
    std::fprintf(stderr, "error: %s: %s\n", ShownRecordPath(record).c_str(), opened.message.c_str());
    return kExitFailed;
  }
  Print("database", ShownRecordPath(record));
  Print("tables", "ready");
  return kExitOk;
}

}  // namespace kovra::cli
