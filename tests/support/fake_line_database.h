// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/line_database.h"

namespace kovra::test {

// The line's database in memory, shared by several stations, that can be
// taken away, or made to lose its answer after a commit, as a network does.
class FakeLineDatabase {
 public:
  // One station's connection to it.
  class Connection : public LineDatabase {
   public:
    explicit Connection(FakeLineDatabase& db) : db_(db) {}
    DbResult Open() override { return db_.Reach(); }
    void Close() override {}
    DbResult InsertRecord(const StoredRecord& record) override {
      DbResult result = db_.Insert(db_.records, {record.station, record.sequence}, record);
      std::lock_guard lock(db_.mutex);
      if (result.kind == DbResult::Kind::kAlreadyThere &&
          db_.records[{record.station, record.sequence}].fields != record.fields) {
        result = {DbResult::Kind::kRefused, "another row under this key"};
      }
      return result;
    }
    DbResult LastSequence(const std::string& station, uint64_t& last) override {
      std::lock_guard lock(db_.mutex);
      if (db_.away) return {DbResult::Kind::kUnreachable, "away"};
      last = 0;
      for (const auto& [key, row] : db_.records) {
        if (key.first == station) last = std::max(last, key.second);
      }
      return {};
    }
    DbResult InsertSpent(const SpentSerial& spent) override {
      return db_.Insert(db_.spent, {spent.series, spent.number}, spent);
    }
    DbResult LeaseBlock(const SerialSeries& series, uint64_t count, const std::string&, const std::string&,
                        std::optional<SerialBlock>& block) override {
      std::lock_guard lock(db_.mutex);
      block.reset();
      if (db_.away) return {DbResult::Kind::kUnreachable, "away"};
      uint64_t& next = db_.next.try_emplace(series.name, series.first).first->second;
      if (next > series.last) return {};
      const uint64_t last = next + (count - 1) * series.step;
      block = SerialBlock{next, std::min(last, series.last)};
      next = last + series.step;
      return {};
    }
    DbResult Records(const RecordQuery&, std::vector<StoredRecord>& rows) override {
      std::lock_guard lock(db_.mutex);
      rows.clear();
      for (const auto& [key, row] : db_.records) rows.push_back(row);
      return {};
    }
    DbResult Spent(const RecordQuery&, std::vector<SpentSerial>& rows) override {
      std::lock_guard lock(db_.mutex);
      rows.clear();
      for (const auto& [key, row] : db_.spent) rows.push_back(row);
      return {};
    }

   private:
    FakeLineDatabase& db_;
  };

  void SetAway(bool value) {
    std::lock_guard lock(mutex);
    away = value;
  }
  // The next insert goes in, but its caller hears that the connection broke.
  void LoseNextAnswer() {
    std::lock_guard lock(mutex);
    loseAnswer = true;
  }
  std::map<std::pair<std::string, uint64_t>, StoredRecord> Rows() {
    std::lock_guard lock(mutex);
    return records;
  }
  std::map<std::pair<std::string, uint64_t>, SpentSerial> SpentNumbers() {
    std::lock_guard lock(mutex);
    return spent;
  }

 private:
  DbResult Reach() {
    std::lock_guard lock(mutex);
    return away ? DbResult{DbResult::Kind::kUnreachable, "away"} : DbResult{};
  }
  template <typename Table, typename Row>
  DbResult Insert(Table& table, typename Table::key_type key, const Row& row) {
    std::lock_guard lock(mutex);
    if (away) return {DbResult::Kind::kUnreachable, "away"};
    if (!table.emplace(std::move(key), row).second) return {DbResult::Kind::kAlreadyThere, ""};
    if (loseAnswer) {
      loseAnswer = false;
      return {DbResult::Kind::kUnreachable, "connection lost after the commit"};
    }
    return {};
  }

  std::mutex mutex;
  bool away = false;
  bool loseAnswer = false;
  std::map<std::pair<std::string, uint64_t>, StoredRecord> records;
  std::map<std::pair<std::string, uint64_t>, SpentSerial> spent;
  std::map<std::string, uint64_t> next;
};

}  // namespace kovra::test
