// SPDX-License-Identifier: MIT
#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>
#include <variant>

#include "base/control_ids.h"
#include "base/sha256.h"
#include "base/text_helpers.h"
#include "chips/chip_list.h"
#include "cli/database_record.h"
#include "cli/job_file.h"
#include "cli/line.h"
#include "cli/system.h"
#include "link/registry_port_map.h"
#include "ops/serial_sequence.h"
#include "platform/no_serial_port.h"
#include "platform/record_file.h"
#include "platform/system_clock.h"

namespace kovra::cli {
namespace {

constexpr const char* kPortHelp =
    "PORT: a serial device (/dev/ttyUSB0, a /dev/serial/by-path/ name, a pseudo-terminal) or COMn on Windows; "
    "auto: the first bridge port.";

std::optional<uint32_t> ParseHex(const std::string& text, uint32_t max) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  const uint32_t value = HexToNumber(text, 16);
  if (value == kBadNumber || value > max) return std::nullopt;
  return value;
}

// The ports named, each checked without a byte sent; "auto" is the first
// bridge port the system lists.
std::vector<std::string> ResolvePorts(const std::vector<std::string>& named) {
  std::vector<std::string> ports;
  std::set<std::string> seen;
  for (std::string name : named) {
    if (name == "auto") {
      const auto bridges = BridgePorts();
      if (bridges.empty()) throw Refusal{"auto: no bridge port found"};
      name = bridges.front().port;
    }
    if (auto problem = PortProblem(name)) throw Refusal{*problem};
    if (!seen.insert(PortIdentity(name)).second) throw Refusal{name + " is named twice"};
    ports.push_back(name);
  }
  return ports;
}

}  // namespace

std::string DefaultChipList() {
  const std::filesystem::path folder = Utf8Path(ExecutableFolder());
  const std::filesystem::path installed = folder.parent_path() / "share" / "kovra" / kChipListFileName;
  std::error_code error;
  if (folder.filename() == "bin" && std::filesystem::is_regular_file(installed, error)) return PathText(installed);
  return PathText(folder / Utf8Path(kChipListFileName));
}

namespace {

Job BaseJob(const Inputs& in, const std::string& codeFile) {
  Job job;
  job.codeFile = codeFile;
  if (in.chips) RequireRegularFile("--chips", *in.chips, false);
  job.chipList = in.chips ? *in.chips : DefaultChipList();
  // Empty would mean the list's first row, which is no chip.
  if (in.chip && in.chip->empty()) throw Refusal{"--chip names no chip"};
  job.chip = in.chip.value_or("");
  if (in.expectChecksum) job.expectChecksum = static_cast<uint16_t>(*in.expectChecksum);
  return job;
}

// One progress line per port on a terminal's standard error, redrawn in
// place; results and messages are written above it.
class Console {
 public:
  explicit Console(std::vector<std::string> ports)
      : ports_(std::move(ports)), terminal_(PrepareErrorTerminal()), started_(std::chrono::steady_clock::now()) {}

  // A new status text; its percent comes with the progress event after it.
  void Status(const std::string& port, const std::string& text) {
    if (!terminal_) return;
    std::lock_guard lock(mutex_);
    lines_[port] = {Shortened(OneLine(text)), -1};
    Redraw();
  }
  void Progress(const std::string& port, const ProgressEvent& event) {
    if (!terminal_) return;
    std::lock_guard lock(mutex_);
    lines_[port].percent = ProgressPercent(event);
    Redraw();
  }

  // Above the progress lines: the results to stdout, the rest to stderr.
  void Result(const std::string& line) { Above(stdout, line); }
  void Message(const std::string& port, const std::string& caption, const std::string& text) {
    Above(stderr, port + ": " + MessageLine(caption, text));
  }
  void Note(const std::string& line) { Above(stderr, line); }
  void Done() {
    std::lock_guard lock(mutex_);
    Erase();
  }
  // Between chips, for an operator at the terminal.
  void AskForNextChips() {
    std::lock_guard lock(mutex_);
    Erase();
    if (!terminal_) return;
    std::fputs("next chips in the sockets: press Enter (end of input stops)\n", stderr);
    std::fflush(stderr);
  }

 private:
  void Above(FILE* stream, const std::string& line) {
    std::lock_guard lock(mutex_);
    Erase();
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
    Redraw();
  }
  void Erase() {
    if (!terminal_ || drawn_ == 0) return;
    for (size_t i = 0; i < drawn_; ++i) std::fputs("\033[1A\r\033[2K", stderr);
    drawn_ = 0;
    std::fflush(stderr);
  }
  void Redraw() {
    if (!terminal_) return;
    Erase();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    for (const std::string& port : ports_) {
      auto it = lines_.find(port);
      if (it == lines_.end()) continue;
      if (it->second.percent >= 0) {
        std::fprintf(stderr, "%s  %s  %3d%%  %.0f s\n", port.c_str(), it->second.text.c_str(), it->second.percent,
                     seconds);
      } else {
        std::fprintf(stderr, "%s  %s  %.0f s\n", port.c_str(), it->second.text.c_str(), seconds);
      }
      ++drawn_;
    }
    std::fflush(stderr);
  }
  // A line that wraps would break the redraw: at most 50 columns of text,
  // Chinese characters taking two. The download's hint to double-click
  // the status line means nothing here.
  static std::string Shortened(std::string text) {
    if (text.starts_with("[") && text.find("] ") != std::string::npos) text.erase(0, text.find("] ") + 2);
    size_t columns = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if ((byte & 0xC0) == 0x80) continue;
      columns += byte >= 0xE0 ? 2 : 1;
      if (columns > 50) return text.substr(0, i);
    }
    return text;
  }

  std::vector<std::string> ports_;
  bool terminal_;
  std::chrono::steady_clock::time_point started_;
  std::mutex mutex_;
  struct PortLine {
    std::string text;
    int percent = -1;
  };
  std::map<std::string, PortLine> lines_;
  size_t drawn_ = 0;
};

// The JSON lines of --json: a chip's or a command's result, the operations'
// progress, a line's summary. Addresses are numbers; absent ones null.
nlohmann::ordered_json ResultJson(const std::string& port, const Result& result) {
  const Outcome& outcome = result.outcome;
  return {{"type", "result"},
          {"port", port},
          {"result", result.passed() ? "pass" : "fail"},
          {"failure", result.passed() ? nullptr : nlohmann::ordered_json(FailureName(outcome.failure))},
          {"step", outcome.step},
          {"address", outcome.hasAddress ? nlohmann::ordered_json(outcome.address) : nullptr},
          {"fault", outcome.fault ? nlohmann::ordered_json(outcome.fault) : nullptr},
          {"why", outcome.why.empty() ? nullptr : nlohmann::ordered_json(outcome.why)},
          {"elapsed_s", static_cast<double>(result.elapsedMs) / 1000.0},
          {"status", result.status}};
}

nlohmann::ordered_json ProgressJson(const std::string& port, const ProgressEvent& event) {
  return {{"type", "progress"},   {"port", port},     {"operation", event.operation},     {"address", event.address},
          {"start", event.start}, {"end", event.end}, {"percent", ProgressPercent(event)}};
}

// Invalid UTF-8 in a path or a box text is replaced, never a reason to fail.
std::string JsonLine(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

LineOutput ToConsole(Console& console, const Inputs& in) {
  return {.result =
              [&console, &in](const std::string& port, const Result& result) {
                console.Result(in.json ? JsonLine(ResultJson(port, result)) : ResultLine(port, result));
              },
          .status = [&console](const std::string& port, const std::string& text) { console.Status(port, text); },
          .progress =
              [&console, &in](const std::string& port, const ProgressEvent& event) {
                if (in.json && in.progress) console.Result(JsonLine(ProgressJson(port, event)));
                console.Progress(port, event);
              },
          .message = [&console](const std::string& port, const std::string& caption,
                                const std::string& text) { console.Message(port, caption, text); },
          .nextChip =
              [&console] {
                console.AskForNextChips();
                std::string line;
                return static_cast<bool>(std::getline(std::cin, line));
              }};
}

std::string OnlyPort(const Inputs& in) {
  const std::vector<std::string> ports = ResolvePorts(in.ports);
  if (ports.size() > 1) throw Refusal{"this command takes one --port"};
  return ports.front();
}

// One programmer for a single-port command, prepared; throws Refusal.
struct OnePort {
  OnePort(const Inputs& in, const Job& job)
      : json(in.json),
        port(OpenSystemPort(OnlyPort(in))),
        records(SystemRecordFile()),
        console({port.name}),
        station(*port.serial, *port.map, clock, *records, StationOutputFor(console, port.name, in)) {
    if (auto refused = station.Prepare(port.name, job)) throw Refusal{*refused};
  }
  static StationOutput StationOutputFor(Console& console, const std::string& name, const Inputs& in) {
    const LineOutput line = ToConsole(console, in);
    return {.status = [line, name](const std::string& text) { line.status(name, text); },
            .progress = [line, name](const ProgressEvent& event) { line.progress(name, event); },
            .message = [line, name](const std::string& caption,
                                    const std::string& text) { line.message(name, caption, text); }};
  }

  bool json;
  SystemPort port;
  SystemClock clock;
  std::unique_ptr<RecordFile> records;
  Console console;
  Station station;
};

// What a single-port command tells beside its status.
using Fields = std::vector<std::pair<const char*, std::string>>;

// A single-port command's end: its status and fields as "key: value"
// lines, or its JSON result with the fields.
int Finish(OnePort& one, const Result& result, const Fields& fields = {}) {
  one.console.Done();
  if (one.json) {
    nlohmann::ordered_json object = ResultJson(one.port.name, result);
    for (const auto& [key, value] : fields) object[key] = value;
    one.console.Result(JsonLine(object));
  } else {
    Print("status", result.status);
    for (const auto& [key, value] : fields) Print(key, value);
  }
  return result.passed() ? kExitOk : kExitFailed;
}

int Ports(const Inputs&) {
  const auto ports = BridgePorts();
  for (const BridgePort& port : ports) Print("port", port.port);
  Print("count", std::to_string(ports.size()));
  return kExitOk;
}

int Download(const Inputs& in) {
  OnePort one(in, BaseJob(in, in.file));
  if (auto refused = one.station.FileGate()) return Finish(one, *refused);
  bool downloaded = false;
  const Result result = one.station.Ready(&downloaded);
  if (!result.passed()) return Finish(one, result);
  return Finish(one, result,
                {{"download", downloaded ? "done" : "skipped"},
                 {"start", one.station.Text(id::kStartAddress)},
                 {"end", one.station.Text(id::kEndAddress)},
                 {"checksum", one.station.Text(id::kChecksumField)}});
}

// Numbers a station leases from the database at a time, unless told.
constexpr uint32_t kSerialBlock = 100;

// The serial numbers of a job: the journal, held for the run, and the
// sequence the ports share.
struct Serials {
  std::unique_ptr<SerialJournal> journal;
  std::unique_ptr<SerialSequence> sequence;
};

// ADDRESS:WIDTH:FILE; the file's values must be WIDTH bytes each.
std::vector<std::vector<uint8_t>> ReadSerialList(const std::string& text, uint32_t& address, int& width) {
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  const std::string where = "--serial-list " + text;
  if (second == std::string::npos) throw Refusal{where + ": not ADDRESS:WIDTH:FILE"};
  const auto at = ParseHex(text.substr(0, first), kImageSize - 1);
  const std::string widthText = text.substr(first + 1, second - first - 1);
  if (!at || widthText.size() != 1 || widthText[0] < '1' || widthText[0] > '8') {
    throw Refusal{where + ": ADDRESS is hexadecimal up to FFFFF and WIDTH 1 to 8 bytes"};
  }
  address = *at;
  width = widthText[0] - '0';
  const std::string file = text.substr(second + 1);
  RequireRegularFile("--serial-list", file, false);
  std::string contents;
  if (ReadWholeFile(Utf8Path(file), 16 << 20, contents) != ReadResult::kRead) {
    throw Refusal{file + ": the serial list cannot be read"};
  }
  ParsedSerialList list = ParseSerialList(contents, width);
  if (!list.error.empty()) throw Refusal{file + ": " + list.error};
  return std::move(list.values);
}

// The numbers a run would hand out, checked, before their journal is opened.
struct SerialPlan {
  uint32_t address = 0;
  int width = 0;
  std::optional<SerialRule> rule;  // else values, a list's
  std::vector<std::vector<uint8_t>> values;
  std::string journal;
};

// leased: the numbers come from the line's database, and the station's
// journal keeps them.
std::optional<SerialPlan> PlanSerials(const Inputs& in, bool leased) {
  if (!in.serial && !in.serialList) {
    if (in.serialJournal) throw Refusal{"--serial-journal needs --serial or --serial-list"};
    if (in.serialBlock) throw Refusal{"--serial-block needs --serial or --serial-list"};
    return std::nullopt;
  }
  if (in.serial && in.serialList) throw Refusal{"--serial and --serial-list exclude each other"};
  SerialPlan plan;
  if (leased) {
    if (in.serialJournal) {
      throw Refusal{
          "--serial-journal: with --record odbc: the numbers are leased from the database and kept in the "
          "station's --journal"};
    }
  } else {
    if (in.serialBlock) throw Refusal{"--serial-block needs --record odbc:"};
    if (!in.serialJournal) {
      throw Refusal{"serial numbers need --serial-journal FILE, where the numbers spent are kept"};
    }
    RequireRegularFile("--serial-journal", *in.serialJournal, true);
    plan.journal = *in.serialJournal;
  }
  if (in.serial) {
    const ParsedSerialRule parsed = ParseSerialRule(*in.serial);
    if (!parsed.rule) throw Refusal{"--serial " + *in.serial + ": " + parsed.error};
    plan.rule = parsed.rule;
    plan.address = plan.rule->address;
    plan.width = plan.rule->width;
  } else {
    plan.values = ReadSerialList(*in.serialList, plan.address, plan.width);
  }
  return plan;
}

std::unique_ptr<SerialSequence> Sequence(SerialPlan& plan, SerialJournal& journal) {
  std::string error;
  auto sequence = plan.rule ? SerialSequence::FromRule(*plan.rule, journal, error)
                            : SerialSequence::FromList(std::move(plan.values), journal, error);
  if (!sequence) throw Refusal{plan.journal + ": " + error};
  return sequence;
}

// With a database, the numbers are leased from it.
std::optional<Serials> OpenSerials(const Inputs& in, Job& job, DatabaseRecord* database) {
  std::optional<SerialPlan> plan = PlanSerials(in, database != nullptr);
  if (!plan) return std::nullopt;
  std::string error;
  Serials serials;
  if (database) {
    serials.sequence = database->Serials(plan->rule, std::move(plan->values), in.serialBlock.value_or(kSerialBlock));
  } else {
    serials.journal = OpenSerialJournal(plan->journal, error);
    if (!serials.journal) throw Refusal{plan->journal + ": " + error};
    serials.sequence = Sequence(*plan, *serials.journal);
  }
  job.serials = JobSerials{serials.sequence.get(), plan->address, plan->width};
  return serials;
}

// The journal as it stands, read without taking its lock: job check tells
// what a run started now would hand out, and spends nothing.
class JournalAsItStands : public SerialJournal {
 public:
  explicit JournalAsItStands(std::string path) : path_(std::move(path)) {}
  std::optional<std::vector<std::string>> Lines() override {
    std::error_code error;
    if (!std::filesystem::exists(Utf8Path(path_), error)) return std::vector<std::string>{};
    std::string contents;
    if (ReadWholeFile(Utf8Path(path_), size_t{1} << 30, contents) != ReadResult::kRead) return std::nullopt;
    return JournalLines(contents);
  }
  bool Append(std::string_view) override { return true; }

 private:
  std::string path_;
};

std::string SerialListText(const JobSerial& serial) {
  return Hex4(serial.address) + ":" + std::to_string(serial.width) + ":" + *serial.list;
}

// The job, its code file held to the SHA-256 the job was made for before
// anything else is looked at.
JobFile ReadJob(const std::string& path) {
  auto read = ReadJobFile(path);
  if (const auto* refused = std::get_if<std::string>(&read)) throw Refusal{*refused};
  JobFile job = std::move(std::get<JobFile>(read));
  if (auto wrong = CheckCodeFile(job)) throw Refusal{*wrong};
  return job;
}

// The job's settings, with the flags given beside it: a flag the job also
// sets is refused unless the job lets it override, one it does not set is
// taken as always.
Inputs WithJob(Inputs in, const JobFile& job) {
  const auto fromJob = [&](const std::string& flag, const std::string& key, bool given, bool set) {
    if (!set) return false;
    if (!given) return true;
    if (std::find(job.allowOverride.begin(), job.allowOverride.end(), key) == job.allowOverride.end()) {
      throw Refusal{flag + ": the job " + job.path + " does not allow overriding " + key};
    }
    return false;
  };
  in.file = job.codeFile;
  if (fromJob("--chip", "chip", in.chip.has_value(), true)) in.chip = job.chip;
  if (fromJob("--chips", "chip.list", in.chips.has_value(), job.chipList.has_value())) in.chips = job.chipList;
  if (fromJob("--expect-checksum", "chip.expect_checksum", in.expectChecksum.has_value(),
              job.expectChecksum.has_value())) {
    in.expectChecksum = *job.expectChecksum;
  }
  if (fromJob("--steps", "steps", in.steps.has_value(), job.steps.has_value())) in.steps = job.steps;
  if (fromJob("--port", "ports", !in.ports.empty(), !job.ports.empty())) in.ports = job.ports;
  if (fromJob("--record", "record", in.record.has_value(), job.record.has_value())) in.record = job.record;
  if (job.serial) {
    fromJob("--serial", "serial", in.serial.has_value(), true);
    fromJob("--serial-list", "serial", in.serialList.has_value(), true);
    fromJob("--serial-journal", "serial", in.serialJournal.has_value(), true);
    if (job.serial->rule) in.serial = SerialRuleText(*job.serial->rule);
    if (job.serial->list) in.serialList = SerialListText(*job.serial);
    if (!job.serial->journal.empty()) in.serialJournal = job.serial->journal;
  }
  return in;
}

// How long a run's end waits for the database to take what is left.
constexpr uint32_t kDrainMs = 10000;

// After each chip, how the database stands: a JSON line, or on the terminal
// when it is away and when it is back.
std::function<void(const std::string&, const Result&)> WithDatabaseHealth(
    std::function<void(const std::string&, const Result&)> result, Console& console, bool json,
    DatabaseRecord& database) {
  struct Seen {
    std::mutex mutex;
    bool reachable = true;
    size_t refused = 0;
  };
  auto seen = std::make_shared<Seen>();
  return [result, &console, json, &database, seen](const std::string& port, const Result& chip) {
    result(port, chip);
    const LineOutbox::Health health = database.Outbox().Status();
    if (json) {
      console.Result(
          JsonLine({{"type", "database"},
                    {"reachable", health.reachable},
                    {"waiting", health.waiting},
                    {"refused", health.refused},
                    {"problem", health.problem.empty() ? nullptr : nlohmann::ordered_json(health.problem)}}));
      return;
    }
    std::lock_guard lock(seen->mutex);
    if (!health.reachable) {
      console.Note("database unreachable, the station goes on: " + std::to_string(health.waiting) +
                   " rows and numbers wait in " + database.JournalPath() + " (" + health.problem + ")");
    } else if (!seen->reachable) {
      console.Note("database reachable again");
    }
    if (health.refused > seen->refused) {
      console.Note("the database refused " + std::to_string(health.refused) + " rows or numbers; they stay in " +
                   database.JournalPath() + " (" + health.problem + ")");
    }
    seen->reachable = health.reachable;
    seen->refused = health.refused;
  };
}

int Program(const Inputs& given) {
  std::optional<JobFile> jobFile;
  if (given.jobFile) jobFile = ReadJob(*given.jobFile);
  const Inputs in = jobFile ? WithJob(given, *jobFile) : given;
  if (in.ports.empty()) throw Refusal{"no port: the job names none and --port is not given"};
  Job job = BaseJob(in, in.file);
  if (jobFile) {
    job.jobFile = jobFile->path;
    job.jobSha256 = jobFile->sha256;
  }
  job.steps = in.steps;
  const bool toDatabase = in.record && IsDatabaseRecord(*in.record);
  if (!toDatabase && (in.station || in.journal)) throw Refusal{"--station and --journal need --record odbc:"};
  if (in.record) {
    if (!toDatabase) RequireRegularFile("--record", *in.record, true);
    job.recordPath = ShownRecordPath(*in.record);
  }
  std::vector<SystemPort> systemPorts;
  std::vector<StationPort> ports;
  std::vector<std::string> names;
  SystemClock clock;
  for (const std::string& name : ResolvePorts(in.ports)) systemPorts.push_back(OpenSystemPort(name));
  // The journals are held from here: after the ports, which may refuse the job.
  std::optional<DatabaseRecord> database;
  if (toDatabase) {
    const std::string station = in.station.value_or(DefaultStation());
    database.emplace(*in.record, station, in.journal.value_or(DefaultStationJournal(station)), clock);
  }
  const std::optional<Serials> serials = OpenSerials(in, job, database ? &*database : nullptr);
  for (SystemPort& port : systemPorts) {
    ports.push_back(port.Station(clock));
    names.push_back(port.name);
  }
  std::unique_ptr<RecordFile> files = SystemRecordFile();
  RecordFile& records = database ? static_cast<RecordFile&>(database->Outbox()) : *files;
  Console console(names);
  LineOutput out = ToConsole(console, in);
  if (database) out.result = WithDatabaseHealth(out.result, console, in.json, *database);
  const LineSummary summary = RunLine(ports, job, in.count, records, out);
  console.Done();
  if (summary.refused) throw Refusal{*summary.refused};
  // What the database has not taken yet waits in the journal for the next run.
  const size_t waiting = database && !database->Outbox().Drain(kDrainMs) ? database->Outbox().Status().waiting : 0;
  if (in.json) {
    nlohmann::ordered_json line = {{"type", "summary"},
                                   {"passed", summary.passed},
                                   {"failed", summary.failed},
                                   {"record_failed", summary.recordFailed}};
    if (database) line["database_waiting"] = waiting;
    console.Result(JsonLine(line));
  } else {
    Print("passed", std::to_string(summary.passed));
    Print("failed", std::to_string(summary.failed));
    if (database) Print("database waiting", std::to_string(waiting));
  }
  if (waiting > 0) {
    std::fprintf(stderr, "database unreachable: %zu rows and numbers wait in %s for the next run\n", waiting,
                 database->JournalPath().c_str());
  }
  if (summary.recordFailed)
    std::fprintf(stderr, "error: a record row could not be written to %s\n", job.recordPath.c_str());
  if (summary.numbersRunOut) std::fprintf(stderr, "serial numbers run out: the line stopped\n");
  const bool allPassed = summary.failed == 0 && summary.passed > 0 && !summary.recordFailed;
  return allPassed ? kExitOk : kExitFailed;
}

int ReadHex(const Inputs& in) {
  const uint32_t start = in.start.value_or(0);
  const uint32_t end = in.end.value_or(0x7FFF);
  if (start > end) throw Refusal{"--start lies beyond --end"};
  OnePort one(in, BaseJob(in, ""));
  const std::string out = PathText(std::filesystem::absolute(Utf8Path(in.file)));
  return Finish(one, one.station.SaveMemoryHex(out, start, end));
}

int OfflineMaster(const Inputs& in) {
  OnePort one(in, BaseJob(in, in.file));
  if (auto refused = one.station.FileGate()) return Finish(one, *refused);
  return Finish(one, one.station.MakeOfflineMaster());
}

int Unreadable(const std::string& why) {
  std::fprintf(stderr, "error: %s\n", why.c_str());
  return kExitFailed;
}

// What program --job would do, found as the run finds it, with no port
// opened and nothing spent.
int JobCheck(const Inputs& given) {
  const std::string& path = *given.jobFile;
  std::string contents;
  if (ReadWholeFile(Utf8Path(path), size_t{1} << 20, contents) == ReadResult::kCannotRead) {
    return Unreadable(path + ": cannot be read (a regular file is needed)");
  }
  auto read = ReadJobFile(path);
  if (const auto* refused = std::get_if<std::string>(&read)) throw Refusal{*refused};
  const JobFile& jobFile = std::get<JobFile>(read);
  if (!Sha256HexOfFile(Utf8Path(jobFile.codeFile))) return Unreadable(jobFile.codeFile + ": cannot be read");
  if (auto wrong = CheckCodeFile(jobFile)) throw Refusal{*wrong};

  const Inputs in = WithJob(given, jobFile);
  Job job = BaseJob(in, in.file);
  job.steps = in.steps;
  const bool leased = in.record && IsDatabaseRecord(*in.record);
  if (in.record && !leased) RequireRegularFile("run.record", *in.record, true);
  std::optional<SerialPlan> plan = PlanSerials(in, leased);
  std::optional<JournalAsItStands> journal;
  std::unique_ptr<SerialSequence> sequence;
  // Leased numbers are the database's to give: job check asks it nothing.
  if (plan && !leased) {
    journal.emplace(plan->journal);
    sequence = Sequence(*plan, *journal);
    job.serials = JobSerials{sequence.get(), plan->address, plan->width};
  }

  NoSerialPort port;
  MemoryRegistry registry;
  RegistryPortMap portMap(registry);
  SystemClock clock;
  MemoryRecordFile records;
  Station station(port, portMap, clock, records,
                  {.status = {}, .progress = {}, .message = [](const std::string& caption, const std::string& text) {
                     std::fprintf(stderr, "%s\n", MessageLine(caption, text).c_str());
                   }});
  if (auto refused = station.Prepare("", job)) throw Refusal{*refused};
  if (auto refused = station.FileGate()) throw Refusal{refused->status};

  std::string ports;
  for (const std::string& name : in.ports) ports += (ports.empty() ? "" : " ") + name;
  Print("job", jobFile.path);
  Print("job sha256", jobFile.sha256);
  Print("code file", jobFile.codeFile);
  Print("code sha256", "ok");
  Print("chip", jobFile.chip);
  Print("steps", station.RunSteps());
  Print("range", station.Text(id::kStartAddress) + ".." + station.Text(id::kEndAddress));
  Print("checksum", station.Text(id::kChecksumField));
  Print("ports", ports.empty() ? "-" : ports);
  Print("record", in.record ? ShownRecordPath(*in.record) : "-");
  if (!jobFile.serial) {
    Print("serial", "-");
    return kExitOk;
  }
  const JobSerial& serial = *jobFile.serial;
  Print("serial", serial.rule ? SerialRuleText(*serial.rule)
                              : "list " + *serial.list + " at " + Hex4(serial.address) + ", " +
                                    std::to_string(serial.width) + " bytes");
  if (!sequence) {
    Print("serial next", "leased from the database");
    return kExitOk;
  }
  const SerialNext next = sequence->Next("", 0);
  Print("serial next", next.take == SerialTake::kTaken
                           ? std::to_string(next.value.number) + " (" + HexBytes(next.value.bytes) + ")"
                           : "none: the numbers have run out");
  return kExitOk;
}

// The arguments, each declared once and bound to its field of Inputs.

// An option whose absence means something: it stays nullopt until given.
CLI::Option* AddText(CLI::App& command, const std::string& name, std::optional<std::string>& into,
                     const std::string& help) {
  return command.add_option_function<std::string>(
      name, [&into](const std::string& text) { into = text; }, help);
}

CLI::Option* AddHex(CLI::App& command, const std::string& name, std::optional<uint32_t>& into, uint32_t max,
                    const std::string& help) {
  return command
      .add_option_function<std::string>(
          name,
          [&into, name, max](const std::string& text) {
            into = ParseHex(text, max);
            if (!into)
              throw CLI::ValidationError(name + " takes a hexadecimal number up to " + Hex4(max) + ", not " + text);
          },
          help)
      ->type_name("HHHH");
}

void AddCodeFile(CLI::App& command, Inputs& in) {
  command.add_option("FILE", in.file, "the code file: raw binary when its name ends in .bin, Intel HEX otherwise")
      ->required();
}

// One value per --port: a name after it is no second port, but the code
// file.
CLI::Option* AddPort(CLI::App& command, Inputs& in, const std::string& help) {
  command.footer(kPortHelp);
  return command.add_option("--port", in.ports, help)->allow_extra_args(false)->type_name("PORT");
}

void AddChips(CLI::App& command, Inputs& in) {
  AddText(command, "--chips", in.chips,
          "the chip list file (default: PREFIX/share/kovra/samlist.txt when installed in PREFIX/bin, else "
          "samlist.txt beside kovra-cli)")
      ->type_name("LIST");
}

CLI::Option* AddChip(CLI::App& command, Inputs& in) {
  return AddText(command, "--chip", in.chip, "the chip, by its name in the chip list")->type_name("NAME");
}

void AddExpectChecksum(CLI::App& command, Inputs& in) {
  AddHex(command, "--expect-checksum", in.expectChecksum, 0xFFFF,
         "the golden checksum: the file's 16-bit sum, and the programmer's memory checksum after the download");
}

void DeclareLoad(CLI::App& command, Inputs& in) {
  AddCodeFile(command, in);
  command.add_flag("--fill-zero", in.fillZero, "fill the addresses the file leaves out with 00, not FF");
  AddText(command, "--dump", in.dump, "write the whole 1 MiB image to this file")->type_name("IMAGE.bin");
}

void DeclareSaveHex(CLI::App& command, Inputs& in) {
  AddCodeFile(command, in);
  AddHex(command, "START", in.start, kImageSize - 1, "the first address, hexadecimal")->required();
  AddHex(command, "END", in.end, kImageSize - 1, "the last address, hexadecimal")->required();
  command.add_option("OUT", in.out, "the Intel HEX file to write")->required();
}

void DeclareChips(CLI::App& command, Inputs& in) {
  command.add_option("LISTFILE", in.file, "the chip list file (default: the one --chips takes)");
}

void DeclarePorts(CLI::App&, Inputs&) {}

void AddJson(CLI::App& command, Inputs& in) {
  command.add_flag("--json", in.json, "one JSON object a line on standard output instead of \"key: value\" lines");
}

void DeclareDownload(CLI::App& command, Inputs& in) {
  AddJson(command, in);
  AddCodeFile(command, in);
  AddPort(command, in, "the programmer's port")->required();
  AddChips(command, in);
  AddChip(command, in);
  AddExpectChecksum(command, in);
}

void DeclareProgram(CLI::App& command, Inputs& in) {
  AddJson(command, in);
  command.add_flag("--progress", in.progress, "with --json: the operations' progress as JSON lines too")
      ->needs("--json");
  command.add_option("FILE", in.file, "the code file: raw binary when its name ends in .bin, Intel HEX otherwise")
      ->excludes(AddText(command, "--job", in.jobFile,
                         "take the code file, chip, steps, ports, record and serial numbers from this job file")
                     ->type_name("FILE.toml"));
  AddPort(command, in, "a programmer's port; several: one programmer each, all at once");
  AddChip(command, in);
  AddChips(command, in);
  // A job file names the code, the chip and the ports; without one the
  // flags must.
  command.callback([&in] {
    if (in.jobFile) return;
    if (in.file.empty()) throw CLI::RequiredError("FILE");
    if (in.ports.empty()) throw CLI::RequiredError("--port");
    if (!in.chip) throw CLI::RequiredError("--chip");
  });
  command
      .add_option_function<std::vector<std::string>>(
          "--steps", [&in](const std::vector<std::string>& names) { in.steps = names; },
          "the steps of each run, program among them (default: those the chip's rules tick): " + StepNames())
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name("STEP,...");
  AddExpectChecksum(command, in);
  AddText(command, "--record", in.record,
          "append one CSV row per chip to this file, or insert it into the line's database (odbc:DSN=NAME or "
          "odbc:Driver={...};Server=...)")
      ->type_name("FILE.csv|odbc:CONNECTION");
  AddText(command, "--station", in.station, "with a database: this station's name (default: the computer's name)")
      ->type_name("NAME");
  AddText(command, "--journal", in.journal,
          "with a database: the station's journal, where rows and numbers wait for it (default: "
          "record-STATION.journal in the user's state folder)")
      ->type_name("FILE");
  AddText(command, "--serial", in.serial,
          "give each chip its own number: ADDRESS (hex) : WIDTH (bytes, 1-8) : ENCODING (le, be, bcd, dec, hex) : "
          "FIRST : STEP : LAST")
      ->type_name("A:W:ENC:FIRST:STEP:LAST");
  AddText(command, "--serial-list", in.serialList,
          "give each chip the next value of FILE (one a line, WIDTH bytes in hex) at ADDRESS")
      ->type_name("ADDRESS:WIDTH:FILE");
  AddText(command, "--serial-journal", in.serialJournal,
          "where the numbers spent are kept; a restart continues after them")
      ->type_name("FILE");
  command
      .add_option_function<uint32_t>(
          "--serial-block", [&in](uint32_t count) { in.serialBlock = count; },
          "with a database: numbers leased at a time (default: " + std::to_string(kSerialBlock) + ")")
      ->check(CLI::Range(1u, 1000000u))
      ->type_name("N");
  command
      .add_option_function<std::string>(
          "--count",
          [&in](const std::string& text) {
            if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(text) < 1) {
              throw CLI::ValidationError("--count takes a whole number of chips from 1, not " + text);
            }
            in.count = std::stoi(text);
          },
          "chips per port; between chips one line of standard input is awaited (default: 1)")
      ->type_name("N");
}

void DeclareReadHex(CLI::App& command, Inputs& in) {
  AddJson(command, in);
  command.add_option("OUT", in.file, "the Intel HEX file to write")->required();
  AddPort(command, in, "the programmer's port")->required();
  AddHex(command, "--start", in.start, 0x7FFF, "the first address (default: 0000)");
  AddHex(command, "--end", in.end, 0x7FFF, "the last address (default: 7FFF)");
}

void DeclareOfflineMaster(CLI::App& command, Inputs& in) {
  AddJson(command, in);
  AddCodeFile(command, in);
  AddPort(command, in, "the programmer's port")->required();
  AddChip(command, in)->required();
  AddChips(command, in);
  AddExpectChecksum(command, in);
}

void DeclareJob(CLI::App& command, Inputs& in) {
  command.require_subcommand(1);
  AddText(*command.add_subcommand("check",
                                  "Check a job file against its code file and chip list and show what program "
                                  "--job would do, touching no programmer"),
          "FILE", in.jobFile, "the job file")
      ->type_name("FILE.toml")
      ->required();
}

void DeclareDb(CLI::App& command, Inputs& in) {
  command.require_subcommand(1);
  command.add_subcommand("init", "Make the line's tables in the database, where they are missing")
      ->add_option("RECORD", in.file, "the database: odbc:DSN=NAME or odbc:Driver={...};Server=...")
      ->type_name("odbc:CONNECTION")
      ->required();
}

int Db(const Inputs& in) { return DbInit(in.file); }

void DeclareReport(CLI::App& command, Inputs& in) {
  command.add_option("RECORD", in.records, "a record file (CSV; its station is its name without .csv), or odbc:SOURCE")
      ->required()
      ->type_name("RECORD");
  AddText(command, "--from", in.from,
          "rows from this time on, UTC: 2026-12-08T15:00:00Z, 2026-12-08T15:00 or 2026-12-08")
      ->type_name("TIME");
  AddText(command, "--to", in.to, "rows before this time, UTC, as --from")->type_name("TIME");
  AddText(command, "--station", in.station, "one station's rows only")->type_name("NAME");
  AddText(command, "--floor-seconds", in.floorSeconds,
          "the floor chip time of every port (default: each port's fastest passed chip)")
      ->type_name("S");
  AddText(command, "--serial-encoding", in.serialEncoding,
          "how the serial column's bytes hold the number: le, be, bcd, dec, hex (default: bcd)")
      ->type_name("ENC");
  AddText(command, "-o,--output", in.output, "write the page to this file (default: standard output)")
      ->type_name("FILE.html");
}

struct Command {
  const char* name;
  const char* summary;
  // Its arguments: the one place that defines them.
  void (*declare)(CLI::App& command, Inputs& in);
  int (*run)(const Inputs& in);
};

constexpr Command kCommands[] = {
    {"load", "Load a code file as the window does and show its range and checksum", DeclareLoad, Load},
    {"save-hex", "Load a code file and write START..END of its image as Intel HEX", DeclareSaveHex, SaveHex},
    {"chips", "List the chips of a chip list file", DeclareChips, Chips},
    {"ports", "List the bridge's serial ports", DeclarePorts, Ports},
    {"download", "Bring a code file into the programmer's memory, confirmed byte for byte", DeclareDownload, Download},
    {"program", "Download, then program the chip in each programmer's socket", DeclareProgram, Program},
    {"read-hex", "Save the programmer's memory as Intel HEX", DeclareReadHex, ReadHex},
    {"offline-master", "Download a code file and make the programmer an offline master", DeclareOfflineMaster,
     OfflineMaster},
    // check is job's only subcommand so far.
    {"job", "Work with job files: job check FILE.toml", DeclareJob, JobCheck},
    {"db", "Work with the line's database: db init odbc:CONNECTION", DeclareDb, Db},
    {"report", "Write the yield report of record files as one HTML page", DeclareReport, Report},
};

const Command* FindCommand(const std::string& name) {
  const auto* it = std::find_if(std::begin(kCommands), std::end(kCommands),
                                [&name](const Command& command) { return name == command.name; });
  return it == std::end(kCommands) ? nullptr : it;
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "error: %s\n", why.c_str());
  return kExitUsage;
}

}  // namespace

void Print(std::string_view key, std::string_view value) {
  std::printf("%.*s: %.*s\n", static_cast<int>(key.size()), key.data(), static_cast<int>(value.size()), value.data());
  std::fflush(stdout);
}

std::string MessageLine(const std::string& caption, const std::string& text) {
  // Captions such as "提 示:" bring a colon of their own.
  std::string name = caption;
  while (!name.empty() && (name.back() == ':' || name.back() == ' ')) name.pop_back();
  return name.empty() ? OneLine(text) : name + ": " + OneLine(text);
}

void RequireRegularFile(const std::string& what, const std::string& path, bool mayBeNew) {
  if (path.empty()) throw Refusal{what + " names no file"};
  std::error_code error;
  const std::filesystem::path file = Utf8Path(path);
  const auto status = std::filesystem::status(file, error);
  if (std::filesystem::is_regular_file(status)) return;
  if (std::filesystem::exists(status)) throw Refusal{what + " " + path + " is not a regular file"};
  if (!mayBeNew) throw Refusal{what + " " + path + ": no such file"};
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  if (!std::filesystem::is_directory(folder, error)) throw Refusal{what + " " + path + ": no such folder"};
}

int Run(std::vector<std::string> args) {
  const std::string first = args.empty() ? "" : args.front();
  if (first.empty()) return Refuse("no command given (kovra-cli --help lists them)");
  if (!first.starts_with("-") && !FindCommand(first)) {
    return Refuse("unknown command " + first + " (kovra-cli --help lists them)");
  }
  if (first.starts_with("-") && first != "--help" && first != "-h" && first != "--version") {
    return Refuse("unknown option " + first + " before the command (kovra-cli --help lists the commands)");
  }

  Inputs in;
  CLI::App app("The Kovra V3.0C programmer's host for scripts and production lines.", "kovra-cli");
  app.set_version_flag("--version", std::string("kovra-cli ") + KOVRA_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Output: one \"key: value\" a line. Exit status: 0 success, 1 failure, 2 wrong usage (one \"error:\" line; "
      "nothing is sent to a programmer).");
  for (const Command& command : kCommands) command.declare(*app.add_subcommand(command.name, command.summary), in);

  std::reverse(args.begin(), args.end());
  try {
    app.parse(args);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with status 0.
    if (error.get_exit_code() == 0) return app.exit(error);
    const std::string help = FindCommand(first) ? "kovra-cli " + first + " --help" : "kovra-cli --help";
    return Refuse(std::string(error.what()) + " (" + help + " shows the usage)");
  }
  try {
    return FindCommand(app.get_subcommands().front()->get_name())->run(in);
  } catch (const Refusal& refusal) {
    return Refuse(refusal.message);
  }
}

}  // namespace kovra::cli
