// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ops/line_outbox.h"
#include "platform/clock.h"
#include "platform/line_database.h"
#include "platform/serial_journal.h"

namespace kovra::cli {

// Why a station name cannot be used; empty when it can.
std::string StationNameProblem(std::string_view station);

// A station writing to the line's database: its journal, held by this
// process alone, the connection, and the outbox between them.
class DatabaseRecord {
 public:
  // Throws Refusal: a journal that cannot be opened or is another
  // station's, a connection the database or its driver refuses. An
  // unreachable database is no refusal: the rows wait in the journal.
  DatabaseRecord(const std::string& record, const std::string& station, const std::string& journalPath, Clock& clock);
  ~DatabaseRecord();

  LineOutbox& Outbox() { return *outbox_; }
  const std::string& JournalPath() const { return journalPath_; }
  // The numbers of a rule or list, leased from the database.
  std::unique_ptr<SerialSequence> Serials(std::optional<SerialRule> rule, std::vector<std::vector<uint8_t>> values,
                                          uint64_t blockSize);

 private:
  std::string journalPath_;
  std::unique_ptr<SerialJournal> journal_;
  std::unique_ptr<LineDatabase> database_;
  std::unique_ptr<LineOutbox> outbox_;
};

// The station's default name and journal: the computer's name, and
// record-STATION.journal in the user's state folder.
std::string DefaultStation();
std::string DefaultStationJournal(const std::string& station);

// kovra-cli db init RECORD: the tables made, or found.
int DbInit(const std::string& record);

}  // namespace kovra::cli
