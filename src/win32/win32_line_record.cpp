// SPDX-License-Identifier: MIT
#include "win32/win32_line_record.h"

#include "odbc/odbc_line_database.h"
#include "win32/win32_program_folder.h"
#include "win32/win32_serial_journal.h"

namespace kovra::win32 {
Win32LineRecord::Win32LineRecord() = default;

Win32LineRecord::~Win32LineRecord() = default;

LineOutbox* Win32LineRecord::Outbox(const std::string& record) {
  std::lock_guard lock(mutex_);
  if (outbox_ && openedFor_ == record) return outbox_.get();
  outbox_.reset();
  database_.reset();
  journal_.reset();
  const std::string station = ComputerName();
  const std::string folder = LocalStateFolder();
  if (station.empty() || folder.empty()) return nullptr;
  std::string error;
  journal_ = Win32SerialJournal::Open(folder + "\\record-" + station + ".journal", error);
  if (!journal_) return nullptr;
  database_ = std::make_unique<odbc::OdbcLineDatabase>(DatabaseConnection(record));
  outbox_ = std::make_unique<LineOutbox>(*database_, *journal_, clock_, station, kDatabaseRetryMs);
  if (!outbox_->Start().empty()) {
    outbox_.reset();
    return nullptr;
  }
  openedFor_ = record;
  return outbox_.get();
}

bool Win32LineRecord::Append(const std::string& path, std::string_view header, std::string_view rows) {
  lastToDatabase_ = IsDatabaseRecord(path);
  if (!lastToDatabase_) return files_.Append(path, header, rows);
  LineOutbox* outbox = Outbox(path);
  return outbox && outbox->Append(path, header, rows);
}

bool Win32LineRecord::CanAppend(const std::string& path) {
  if (!IsDatabaseRecord(path)) return files_.CanAppend(path);
  LineOutbox* outbox = Outbox(path);
  return outbox && outbox->CanAppend(path);
}

void Win32LineRecord::Settle(uint32_t ms) {
  std::lock_guard lock(mutex_);
  if (outbox_ && outbox_->Status().reachable) outbox_->Drain(ms);
}

std::string Win32LineRecord::Notice() {
  if (!lastToDatabase_) return {};
  std::lock_guard lock(mutex_);
  return outbox_ ? outbox_->Notice() : std::string();
}

}  // namespace kovra::win32
