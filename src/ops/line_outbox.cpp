// SPDX-License-Identifier: MIT
#include "ops/line_outbox.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "base/csv.h"
#include "base/text_helpers.h"
#include "ops/production_record.h"

namespace kovra {
namespace {

std::vector<std::string> Words(std::string_view line, size_t most) {
  std::vector<std::string> words;
  while (!line.empty() && words.size() + 1 < most) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) break;
    words.emplace_back(line.substr(0, space));
    line.remove_prefix(space + 1);
  }
  words.emplace_back(line);
  return words;
}

std::optional<uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

// A "spent" line of the serial journal as the database keeps it.
std::optional<SpentSerial> SpentOf(std::string_view line, const std::string& series, const std::string& station) {
  const auto words = Words(line, 6);
  if (words.size() != 5 || words[0] != "spent") return std::nullopt;
  const auto number = Number(words[1]);
  if (!number) return std::nullopt;
  return SpentSerial{.series = series,
                     .number = *number,
                     .bytes = words[2],
                     .station = station,
                     .port = words[3] == "-" ? std::string() : words[3],
                     .timeUtc = words[4]};
}

}  // namespace

std::string ShownRecordPath(std::string_view record) {
  if (!IsDatabaseRecord(record)) return std::string(record);
  // Key=value pairs split by ';'; a braced value may hold one.
  std::string shown;
  size_t at = 0;
  while (at < record.size()) {
    size_t end = at;
    bool braced = false;
    while (end < record.size() && (braced || record[end] != ';')) {
      if (record[end] == '{') braced = true;
      if (record[end] == '}') braced = false;
      ++end;
    }
    std::string pair(record.substr(at, end - at));
    const size_t equals = pair.find('=');
    std::string key = ToUpperAscii(pair.substr(0, equals));
    key.erase(0, key.find_first_not_of(' '));
    if (equals != std::string::npos && (key == "PWD" || key == "PASSWORD")) pair = pair.substr(0, equals + 1) + "***";
    shown += pair;
    if (end < record.size()) shown += ';';
    at = end + 1;
  }
  return shown;
}

std::string EscapeJournalText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeJournalText(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

// The serial journal of one series inside the station's journal: its lines
// are those after a "series NAME" line of that name.
class LineOutbox::SeriesJournal : public SerialJournal {
 public:
  SeriesJournal(LineOutbox& outbox, std::string series) : outbox_(outbox), series_(std::move(series)) {}

  std::optional<std::vector<std::string>> Lines() override {
    std::lock_guard lock(outbox_.mutex_);
    auto all = outbox_.journal_.Lines();
    if (!all) return std::nullopt;
    std::vector<std::string> mine;
    std::string current;
    for (std::string& line : *all) {
      const auto words = Words(line, 2);
      if (words[0] == "series" && words.size() == 2) {
        current = words[1];
      } else if (current == series_ && words[0] != "sent") {
        mine.push_back(std::move(line));
      }
    }
    return mine;
  }

  bool Append(std::string_view line) override {
    std::lock_guard lock(outbox_.mutex_);
    if (outbox_.lastSeries_ != series_) {
      if (!outbox_.AppendLocked("series " + series_)) return false;
      outbox_.lastSeries_ = series_;
    }
    if (!outbox_.AppendLocked(line)) return false;
    if (auto spent = SpentOf(line, series_, outbox_.station_)) {
      outbox_.pending_.push_back({.spent = std::move(*spent)});
      outbox_.changed_.notify_all();
    }
    return true;
  }

 private:
  LineOutbox& outbox_;
  const std::string series_;
};

class LineOutbox::Leaser : public BlockLeaser {
 public:
  Leaser(LineOutbox& outbox, SerialSeries series, uint64_t count)
      : outbox_(outbox), series_(std::move(series)), count_(count) {}
  std::optional<SerialBlock> Lease(bool mustTry) override { return outbox_.Lease(series_, count_, mustTry); }

 private:
  LineOutbox& outbox_;
  const SerialSeries series_;
  const uint64_t count_;
};

LineOutbox::LineOutbox(LineDatabase& database, SerialJournal& journal, Clock& clock, std::string station,
                       uint32_t retryMs)
    : database_(database), journal_(journal), clock_(clock), station_(std::move(station)), retryMs_(retryMs) {}

LineOutbox::~LineOutbox() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (sender_.joinable()) sender_.join();
}

std::string LineOutbox::Load(const std::vector<std::string>& lines, std::optional<uint64_t> lastInDatabase) {
  // In the journal's order; what a "sent" line names is left out.
  std::vector<Pending> found;
  std::map<uint64_t, size_t> rows;
  std::map<std::pair<std::string, uint64_t>, size_t> spent;
  std::vector<bool> sent;
  for (const std::string& line : lines) {
    const auto words = Words(line, 3);
    const std::string& kind = words[0];
    if (kind == "station" && words.size() >= 2) {
      if (words[1] != station_) return "the journal is station " + words[1] + "'s, not " + station_ + "'s";
      // Where its numbering began: after the station's rows of another journal.
      if (words.size() == 3) nextSequence_ = std::max(nextSequence_, Number(words[2]).value_or(1));
    } else if (kind == "series" && words.size() == 2) {
      lastSeries_ = words[1];
    } else if (kind == "row" && words.size() == 3) {
      const auto sequence = Number(words[1]);
      if (!sequence) continue;
      nextSequence_ = std::max(nextSequence_, *sequence + 1);
      rows[*sequence] = found.size();
      found.push_back({.sequence = *sequence, .csv = UnescapeJournalText(words[2])});
      sent.push_back(false);
    } else if (kind == "spent") {
      auto value = SpentOf(line, lastSeries_, station_);
      if (!value) continue;
      spent[{value->series, value->number}] = found.size();
      found.push_back({.spent = std::move(*value)});
      sent.push_back(false);
    } else if (kind == "sent" && words.size() == 3) {
      const auto rest = Words(words[2], 2);
      if (words[1] == "row") {
        if (const auto sequence = Number(words[2]); sequence && rows.count(*sequence)) sent[rows[*sequence]] = true;
      } else if (words[1] == "spent" && rest.size() == 2) {
        const auto number = Number(rest[1]);
        if (number && spent.count({rest[0], *number})) sent[spent[{rest[0], *number}]] = true;
      }
    }
  }
  if (lastInDatabase) {
    nextSequence_ = *lastInDatabase + 1;
    if (!AppendLocked("station " + station_ + " " + std::to_string(nextSequence_))) return "cannot write the journal";
  }
  for (size_t i = 0; i < found.size(); ++i) {
    if (!sent[i]) pending_.push_back(std::move(found[i]));
  }
  return {};
}

std::string LineOutbox::Start() {
  std::optional<std::vector<std::string>> lines;
  {
    std::lock_guard lock(mutex_);
    lines = journal_.Lines();
  }
  if (!lines) return "cannot read the journal";
  // A new journal numbers its rows after those the station has in the
  // database already (a reinstalled PC, another user's journal): the same
  // key for another row would pass for a retry.
  std::optional<uint64_t> last;
  const bool named =
      std::any_of(lines->begin(), lines->end(), [](const std::string& line) { return line.starts_with("station "); });
  if (!named) {
    uint64_t highest = 0;
    std::lock_guard database(databaseMutex_);
    const DbResult found = Attempt([&] { return database_.LastSequence(station_, highest); });
    if (!found.delivered()) {
      return "a new journal needs the database once, to learn where station " + station_ +
             "'s rows stand: " + found.message;
    }
    last = highest;
  }
  {
    std::lock_guard lock(mutex_);
    if (std::string error = Load(*lines, last); !error.empty()) return error;
  }
  sender_ = std::thread([this] { Send(); });
  return {};
}

bool LineOutbox::AppendLocked(std::string_view line) {
  if (failed_) return false;
  if (!journal_.Append(line)) failed_ = true;
  return !failed_;
}

bool LineOutbox::Append(const std::string&, std::string_view, std::string_view rows) {
  const CsvTable table = ParseCsv(rows);
  std::lock_guard lock(mutex_);
  for (const auto& fields : table.rows) {
    const uint64_t sequence = nextSequence_;
    const std::string csv = FormatCsvRow(fields);
    if (!AppendLocked("row " + std::to_string(sequence) + " " + EscapeJournalText(csv))) return false;
    ++nextSequence_;
    pending_.push_back({.sequence = sequence, .csv = csv});
  }
  changed_.notify_all();
  return !table.tornTail;
}

bool LineOutbox::CanAppend(const std::string&) {
  std::lock_guard lock(mutex_);
  return !failed_;
}

std::string LineOutbox::Notice() {
  const Health health = Status();
  if (!health.reachable) return "数据库未连接，记录暂存本机，待发送 " + std::to_string(health.waiting) + " 项";
  if (health.refused > 0) return "数据库拒收 " + std::to_string(health.refused) + " 项，已留在本机日志";
  return {};
}

LineOutbox::Health LineOutbox::Status() {
  std::lock_guard lock(mutex_);
  Health health = health_;
  health.waiting = pending_.size();
  return health;
}

bool LineOutbox::Drain(uint32_t ms) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return pending_.empty(); });
}

DbResult LineOutbox::Attempt(const std::function<DbResult()>& call) {
  DbResult result = database_.Open();
  if (result.delivered()) result = call();
  if (result.kind == DbResult::Kind::kUnreachable) database_.Close();
  std::lock_guard lock(mutex_);
  health_.reachable = result.kind != DbResult::Kind::kUnreachable;
  // A refusal's words stay: its item waits in the journal until a person looks.
  if (!result.delivered()) {
    health_.problem = result.message;
  } else if (health_.refused == 0) {
    health_.problem.clear();
  }
  return result;
}

DbResult LineOutbox::Deliver(const Pending& item) {
  if (item.spent) return Attempt([&] { return database_.InsertSpent(*item.spent); });
  CsvTable table = ParseCsv(item.csv);
  StoredRecord record{station_, item.sequence, table.rows.empty() ? std::vector<std::string>{} : table.rows[0]};
  return Attempt([&] { return database_.InsertRecord(record); });
}

void LineOutbox::Send() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (stop_) return;
    const Pending item = pending_.front();
    lock.unlock();
    DbResult result;
    {
      std::lock_guard database(databaseMutex_);
      result = Deliver(item);
    }
    lock.lock();
    if (result.kind == DbResult::Kind::kUnreachable) {
      // What waits stays in the journal; the station goes on meanwhile.
      changed_.wait_for(lock, std::chrono::milliseconds(retryMs_), [this] { return stop_; });
      continue;
    }
    // A refused item is not tried again in this run: it would hold up every
    // row after it. It stays unsent in the journal for the next start.
    if (!result.delivered()) ++health_.refused;
    if (result.delivered()) {
      const std::string line = item.spent
                                   ? "sent spent " + item.spent->series + " " + std::to_string(item.spent->number)
                                   : "sent row " + std::to_string(item.sequence);
      // A lost "sent" line only means one more try, which the key absorbs.
      journal_.Append(line);
    }
    pending_.pop_front();
    changed_.notify_all();
  }
}

std::optional<SerialBlock> LineOutbox::Lease(const SerialSeries& series, uint64_t count, bool mustTry) {
  {
    std::lock_guard lock(mutex_);
    if (!mustTry && !health_.reachable) return std::nullopt;
  }
  std::optional<SerialBlock> block;
  std::lock_guard database(databaseMutex_);
  Attempt([&] { return database_.LeaseBlock(series, count, station_, UtcTimestamp(clock_.UtcMs()), block); });
  return block;
}

std::unique_ptr<SerialSequence> LineOutbox::Serials(const SerialSeries& series, std::optional<SerialRule> rule,
                                                    std::vector<std::vector<uint8_t>> values, uint64_t blockSize,
                                                    std::string& error) {
  seriesJournals_.push_back(std::make_unique<SeriesJournal>(*this, series.name));
  leasers_.push_back(std::make_unique<Leaser>(*this, series, blockSize));
  return SerialSequence::Leased(rule, std::move(values), *seriesJournals_.back(), *leasers_.back(), blockSize / 2,
                                error);
}

}  // namespace kovra
