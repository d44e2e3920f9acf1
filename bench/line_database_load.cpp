// SPDX-License-Identifier: MIT
// The line's database under load: stations (16 unless told) programming at
// once for a bounded wall time, each a one-port RunLine on the simulated
// programmer in virtual time, writing through its own LineOutbox: its own
// journal file (an fsync a row, as on a station) and its own ODBC
// connection. Then every outbox drains and each station's rows are read
// back: exactly seq 1..N, N the chips its line counted, or the run fails.
//
//   kovra_db_load [--connection ODBC] [--seconds S] [--stations N] [--prefix P] [--outage]
//
// The connection defaults to KOVRA_TEST_ODBC; stations are P-01, P-02, ...
// (P is "load"). --outage stops the server for a second a third of the way
// in, through tests/db/pg_cluster.sh as KOVRA_TEST_PG_CLUSTER and
// KOVRA_TEST_PG_DIR name it: connections break mid-insert, and the rows
// must still go in once each. A plain program, not a Google Benchmark: one run is one
// measurement of many threads, and its figure is worth nothing unless the
// rows check out afterwards.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/sim_on_pty.h"
#include "cli/line.h"
#include "image/hex_writer.h"
#include "linux/posix_serial_journal.h"
#include "odbc/odbc_line_database.h"
#include "ops/line_outbox.h"

namespace kovra {
namespace {

using WallClock = std::chrono::steady_clock;

// KV86C08 with its code already in the programmer's memory: a line's
// steady state, as kovra_bench's LineChipSteady.
using bench::Code;
using bench::kChipList;
using bench::kCodeSize;
using bench::SimOnPty;

// The record's columns the check reads (kRecordHeader's order).
constexpr size_t kTimeField = 0;
constexpr size_t kResultField = 7;
// The sender's pause after an unreachable database: short, so that an
// outage under load costs the drain little.
constexpr uint32_t kRetryMs = 200;

std::string CodeHex() {
  std::string hex;
  uint32_t segment = 0;
  AppendHexRecords(hex, 0, Code(), segment);
  return hex + ":00000001FF\r\n";
}

struct Station {
  Station(std::string n, const std::string& connection) : name(std::move(n)), database(connection) {
    sim.rig.programmer.WriteMemory(0, Code());
  }

  std::string name;
  SimOnPty sim;
  odbc::OdbcLineDatabase database;
  std::unique_ptr<linux_platform::PosixSerialJournal> journal;
  std::unique_ptr<LineOutbox> outbox;
  cli::LineSummary summary;
  std::string problem;  // why its rows are not as its line counted them
};

struct Options {
  std::string connection;
  double seconds = 10;
  int stations = 16;
  std::string prefix = "load";
  std::string cluster;  // pg_cluster.sh and its folder, for --outage
  std::string clusterDir;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  if (const char* env = std::getenv("KOVRA_TEST_ODBC")) options.connection = env;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--outage") {
      const char* script = std::getenv("KOVRA_TEST_PG_CLUSTER");
      const char* dir = std::getenv("KOVRA_TEST_PG_DIR");
      if (script == nullptr || dir == nullptr) return false;
      options.cluster = script;
      options.clusterDir = dir;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--connection") {
      options.connection = value;
    } else if (arg == "--seconds") {
      options.seconds = std::atof(value.c_str());
    } else if (arg == "--stations") {
      options.stations = std::atoi(value.c_str());
    } else if (arg == "--prefix") {
      options.prefix = value;
    } else {
      return false;
    }
  }
  return !options.connection.empty() && options.seconds > 0 && options.stations >= 1 && options.stations <= 99;
}

std::string StationName(const Options& options, int i) {
  const std::string number = std::to_string(i + 1);
  return options.prefix + "-" + (number.size() < 2 ? "0" : "") + number;
}

double Seconds(WallClock::duration d) { return std::chrono::duration<double>(d).count(); }

// What the database holds of the station against what its line counted.
std::string CheckRows(const Station& station, const std::vector<StoredRecord>& rows) {
  const uint64_t chips = static_cast<uint64_t>(station.summary.passed + station.summary.failed);
  int passed = 0;
  std::string lastTime;
  for (size_t i = 0; i < rows.size(); ++i) {
    const StoredRecord& row = rows[i];
    if (row.sequence != i + 1) {
      return "row " + std::to_string(i + 1) + " has seq " + std::to_string(row.sequence) + " (missing or doubled)";
    }
    if (row.fields.size() <= kResultField) return "seq " + std::to_string(row.sequence) + " lacks fields";
    // Virtual time only moves on: a row out of its place shows here.
    if (row.fields[kTimeField] < lastTime) return "seq " + std::to_string(row.sequence) + " goes back in time";
    lastTime = row.fields[kTimeField];
    if (row.fields[kResultField] == "pass") ++passed;
  }
  if (rows.size() != chips) {
    return std::to_string(rows.size()) + " rows for " + std::to_string(chips) + " chips";
  }
  if (passed != station.summary.passed) {
    return std::to_string(passed) + " rows say pass, the line passed " + std::to_string(station.summary.passed);
  }
  return {};
}

int Run(const Options& options) {
  // Each station's rows must be exactly its own 1..N: names that have rows
  // from an earlier run are refused.
  {
    odbc::OdbcLineDatabase checker(options.connection);
    if (const DbResult r = checker.Open(); r.kind != DbResult::Kind::kDone) {
      std::fprintf(stderr, "kovra_db_load: the database: %s\n", r.message.c_str());
      return 2;
    }
    for (int i = 0; i < options.stations; ++i) {
      std::vector<StoredRecord> rows;
      const DbResult r = checker.Records({.from = {}, .to = {}, .station = StationName(options, i)}, rows);
      if (r.kind != DbResult::Kind::kDone || !rows.empty()) {
        std::fprintf(stderr, "kovra_db_load: station %s has rows in the database already%s; give another --prefix\n",
                     StationName(options, i).c_str(), r.message.empty() ? "" : (": " + r.message).c_str());
        return 2;
      }
    }
  }

  std::string folderTemplate = (std::filesystem::temp_directory_path() / "kovra-db-load.XXXXXX").string();
  if (mkdtemp(folderTemplate.data()) == nullptr) {
    std::perror("kovra_db_load: a temporary folder");
    return 2;
  }
  const std::filesystem::path folder = folderTemplate;
  std::ofstream(folder / "code.hex", std::ios::binary) << CodeHex();
  std::ofstream(folder / "samlist.txt", std::ios::binary) << kChipList;
  cli::Job job;
  job.codeFile = (folder / "code.hex").string();
  job.chipList = (folder / "samlist.txt").string();
  job.chip = "KV86C08";
  job.recordPath = ShownRecordPath("odbc:" + options.connection);

  std::vector<std::unique_ptr<Station>> stations;
  for (int i = 0; i < options.stations; ++i) {
    auto station = std::make_unique<Station>(StationName(options, i), options.connection);
    std::string error;
    station->journal =
        linux_platform::PosixSerialJournal::Open((folder / (station->name + ".journal")).string(), error);
    const DbResult opened = station->journal ? station->database.Open() : DbResult{};
    if (!station->journal || opened.kind != DbResult::Kind::kDone) {
      std::fprintf(stderr, "kovra_db_load: %s: %s\n", station->name.c_str(),
                   station->journal ? opened.message.c_str() : error.c_str());
      return 2;
    }
    station->outbox =
        std::make_unique<LineOutbox>(station->database, *station->journal, station->sim.clock, station->name, kRetryMs);
    if (error = station->outbox->Start(); !error.empty()) {
      std::fprintf(stderr, "kovra_db_load: %s: %s\n", station->name.c_str(), error.c_str());
      return 2;
    }
    stations.push_back(std::move(station));
  }

  std::latch go(1);
  WallClock::time_point deadline;
  std::vector<std::thread> threads;
  for (auto& station : stations) {
    threads.emplace_back([&, s = station.get()] {
      go.wait();
      s->summary =
          cli::RunLine({s->sim.Port()}, job, std::numeric_limits<int>::max(), *s->outbox, bench::QuietLine([&] {
                         s->sim.rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kOtp, kCodeSize));
                         return WallClock::now() < deadline;
                       }));
    });
  }
  const auto start = WallClock::now();
  deadline = start + std::chrono::duration_cast<WallClock::duration>(std::chrono::duration<double>(options.seconds));
  go.count_down();
  bool outage = true;
  if (!options.cluster.empty()) {
    std::this_thread::sleep_until(start + (deadline - start) / 3);
    const auto cluster = [&](const char* command) {
      const std::string line = "'" + options.cluster + "' " + command + " '" + options.clusterDir + "'";
      return std::system(line.c_str()) == 0;
    };
    outage = cluster("pause");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    outage = cluster("resume") && outage;
    if (!outage) std::fprintf(stderr, "kovra_db_load: the server could not be stopped and started again\n");
  }
  for (std::thread& thread : threads) thread.join();
  const auto ran = WallClock::now();

  size_t waiting = 0;
  for (auto& station : stations) waiting += station->outbox->Status().waiting;
  bool drained = true;
  for (auto& station : stations) {
    if (!station->outbox->Drain(120'000)) {
      drained = false;
      station->problem = "rows still waiting after 120 s: " + station->outbox->Status().problem;
    }
  }
  const auto emptied = WallClock::now();

  int passed = 0;
  int failed = 0;
  bool sound = drained && outage;
  {
    odbc::OdbcLineDatabase checker(options.connection);
    const DbResult opened = checker.Open();
    for (auto& station : stations) {
      passed += station->summary.passed;
      failed += station->summary.failed;
      std::vector<StoredRecord> rows;
      if (station->summary.refused) {
        station->problem = "refused: " + *station->summary.refused;
      } else if (station->summary.recordFailed) {
        station->problem = "a row could not be journalled";
      } else if (opened.kind != DbResult::Kind::kDone) {
        station->problem = "reading its rows: " + opened.message;
      } else if (const DbResult r = checker.Records({.from = {}, .to = {}, .station = station->name}, rows);
                 r.kind != DbResult::Kind::kDone) {
        station->problem = "reading its rows: " + r.message;
      } else if (station->problem.empty()) {
        station->problem = CheckRows(*station, rows);
      }
      if (!station->problem.empty()) {
        sound = false;
        std::fprintf(stderr, "kovra_db_load: %s: %s\n", station->name.c_str(), station->problem.c_str());
      }
    }
  }

  const int rows = passed + failed;
  const double runSeconds = Seconds(ran - start);
  const double drainSeconds = Seconds(emptied - ran);
  std::printf("stations %d, run %.2f s (asked %.1f s), chips %d (passed %d, failed %d)\n", options.stations, runSeconds,
              options.seconds, rows, passed, failed);
  std::printf("rows per second: %.1f (%d rows in %.2f s)\n", rows / runSeconds, rows, runSeconds);
  std::printf("waiting when the run ended: %zu; drain: %.3f s; into the database: %.1f rows/s\n", waiting, drainSeconds,
              rows / (runSeconds + drainSeconds));
  std::printf("rows checked: %s\n", sound ? "each station exactly seq 1..N, none missing, none doubled" : "FAILED");

  // The journals stay for a look when the rows did not check out.
  if (sound) {
    stations.clear();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  } else {
    std::fprintf(stderr, "kovra_db_load: the journals are in %s\n", folder.c_str());
  }
  return sound ? 0 : 1;
}

}  // namespace
}  // namespace kovra

int main(int argc, char** argv) {
  kovra::Options options;
  if (!kovra::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: kovra_db_load [--connection ODBC] [--seconds S] [--stations 1..99] [--prefix P]\n"
                 "                     [--outage: KOVRA_TEST_PG_CLUSTER and KOVRA_TEST_PG_DIR set]\n"
                 "       (the connection from KOVRA_TEST_ODBC when not given)\n");
    return 2;
  }
  return kovra::Run(options);
}
