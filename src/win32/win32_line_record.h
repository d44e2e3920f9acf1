// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "ops/line_outbox.h"
#include "platform/system_clock.h"
#include "win32/win32_record_file.h"

namespace kovra::win32 {

// The window's record: a CSV file, or ("odbc:CONNECTION") the line's
// database, reached through this computer's station journal
// (%LOCALAPPDATA%\kovra\record-COMPUTER.journal), opened on first use.
class Win32LineRecord : public RecordFile {
 public:
  Win32LineRecord();
  ~Win32LineRecord() override;

  bool Append(const std::string& path, std::string_view header, std::string_view rows) override;
  bool CanAppend(const std::string& path) override;
  std::string Notice() override;
  // Before the window closes: gives a database that is there up to ms to
  // take what waits; what it does not take waits in the journal.
  void Settle(uint32_t ms);

 private:
  // The outbox for record; nullptr when the station's journal cannot be
  // opened (held by another program, no folder for it).
  LineOutbox* Outbox(const std::string& record);

  Win32RecordFile files_;
  SystemClock clock_;
  std::mutex mutex_;
  std::string openedFor_;
  std::unique_ptr<SerialJournal> journal_;
  std::unique_ptr<LineDatabase> database_;
  std::unique_ptr<LineOutbox> outbox_;
  bool lastToDatabase_ = false;
};

}  // namespace kovra::win32
