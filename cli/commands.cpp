#include "cli/commands.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "chips/chip_list.h"
#include "cli/line.h"
#include "cli/system.h"
#include "platform/system_clock.h"

namespace kovra::cli {
namespace {

// The arguments of a command: positional ones in order, each flag with its
// values in order.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> flags;

  std::optional<std::string> One(const std::string& flag) const {
    auto it = flags.find(flag);
    if (it == flags.end()) return std::nullopt;
    return it->second.back();
  }
};

// A refusal of the arguments: a message and exit status 2.
struct Refusal {
  std::string message;
};

Args Parse(const std::vector<std::string>& args, const std::set<std::string>& known, size_t positionals) {
  Args parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (!known.contains(arg)) throw Refusal{"unknown option " + arg};
    if (i + 1 >= args.size()) throw Refusal{arg + " needs a value"};
    std::vector<std::string>& values = parsed.flags[arg];
    if (!values.empty() && arg != "--port") throw Refusal{arg + " given twice"};
    values.push_back(args[++i]);
  }
  if (parsed.positional.size() != positionals) throw Refusal{"wrong number of arguments"};
  return parsed;
}

std::optional<uint16_t> ParseChecksum(const Args& args) {
  const auto text = args.One("--expect-checksum");
  if (!text) return std::nullopt;
  const uint32_t value = HexToNumber(*text, 16);
  if (text->empty() || text->size() > 4 || value == kBadNumber) {
    throw Refusal{"--expect-checksum takes 1 to 4 hexadecimal digits, not " + *text};
  }
  return static_cast<uint16_t>(value);
}

uint32_t ParseAddress(const Args& args, const std::string& flag, uint32_t fallback) {
  const auto text = args.One(flag);
  if (!text) return fallback;
  const uint32_t value = HexToNumber(*text, 16);
  if (text->empty() || text->size() > 4 || value == kBadNumber || value > 0x7FFF) {
    throw Refusal{flag + " takes a hexadecimal address up to 7FFF, not " + *text};
  }
  return value;
}

int ParseCount(const Args& args) {
  const auto text = args.One("--count");
  if (!text) return 1;
  if (text->empty() || text->size() > 6 || text->find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(*text) < 1) {
    throw Refusal{"--count takes a whole number of chips from 1, not " + *text};
  }
  return std::stoi(*text);
}

std::vector<std::string> SplitSteps(const std::string& text) {
  std::vector<std::string> steps;
  size_t from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    steps.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) return steps;
    from = comma + 1;
  }
}

// The ports named, each checked without a byte sent; "auto" is the first
// bridge port the system lists.
std::vector<std::string> ResolvePorts(const Args& args) {
  auto it = args.flags.find("--port");
  if (it == args.flags.end()) throw Refusal{"--port is missing"};
  std::vector<std::string> ports;
  std::set<std::string> seen;
  for (std::string name : it->second) {
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

// Only a regular file: a pipe would wait for a writer, and a device be read
// or written for ever. A file that is made when first written may be new.
void RequireRegularFile(const std::string& flag, const std::string& path, bool mayBeNew) {
  if (path.empty()) throw Refusal{flag + " names no file"};
  std::error_code error;
  const std::filesystem::path file = Utf8Path(path);
  const auto status = std::filesystem::status(file, error);
  if (std::filesystem::is_regular_file(status)) return;
  if (std::filesystem::exists(status)) throw Refusal{flag + " " + path + " is not a regular file"};
  if (!mayBeNew) throw Refusal{flag + " " + path + ": no such file"};
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  if (!std::filesystem::is_directory(folder, error)) throw Refusal{flag + " " + path + ": no such folder"};
}

Job BaseJob(const Args& args, const std::string& codeFile) {
  Job job;
  job.codeFile = codeFile;
  const auto chips = args.One("--chips");
  if (chips) RequireRegularFile("--chips", *chips, false);
  job.chipList = chips.value_or(PathText(Utf8Path(ExecutableFolder()) / Utf8Path(kChipListFileName)));
  job.chip = args.One("--chip").value_or("");
  // Empty would mean the list's first row, which is no chip.
  if (args.One("--chip") && job.chip.empty()) throw Refusal{"--chip names no chip"};
  job.expectChecksum = ParseChecksum(args);
  return job;
}

void Print(std::string_view key, std::string_view value) {
  std::printf("%.*s: %.*s\n", static_cast<int>(key.size()), key.data(), static_cast<int>(value.size()), value.data());
  std::fflush(stdout);
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
    Above(stderr, port + ": " + caption + (caption.empty() ? "" : ": ") + OneLine(text));
  }
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

LineOutput ToConsole(Console& console) {
  return {
      .result = [&console](const std::string& port, const Result& result) { console.Result(ResultLine(port, result)); },
      .status = [&console](const std::string& port, const std::string& text) { console.Status(port, text); },
      .progress = [&console](const std::string& port, const ProgressEvent& event) { console.Progress(port, event); },
      .message = [&console](const std::string& port, const std::string& caption,
                            const std::string& text) { console.Message(port, caption, text); },
      .nextChip =
          [&console] {
            console.AskForNextChips();
            std::string line;
            return static_cast<bool>(std::getline(std::cin, line));
          }};
}

std::string OnlyPort(const Args& args) {
  const std::vector<std::string> ports = ResolvePorts(args);
  if (ports.size() > 1) throw Refusal{"this command takes one --port"};
  return ports.front();
}

// One programmer for a single-port command, prepared; throws Refusal.
struct OnePort {
  OnePort(const Args& args, const Job& job)
      : port(OpenSystemPort(OnlyPort(args))),
        records(SystemRecordFile()),
        console({port.name}),
        station(*port.serial, *port.map, clock, *records, StationOutputFor(console, port.name)) {
    if (auto refused = station.Prepare(port.name, job)) throw Refusal{*refused};
  }
  static StationOutput StationOutputFor(Console& console, const std::string& name) {
    return {.status = [&console, name](const std::string& text) { console.Status(name, text); },
            .progress = [&console, name](const ProgressEvent& event) { console.Progress(name, event); },
            .message = [&console, name](const std::string& caption,
                                        const std::string& text) { console.Message(name, caption, text); }};
  }

  SystemPort port;
  SystemClock clock;
  std::unique_ptr<RecordFile> records;
  Console console;
  Station station;
};

int Finish(OnePort& one, const Result& result) {
  one.console.Done();
  Print("status", result.status);
  return result.passed() ? kExitOk : kExitFailed;
}

int CmdPorts(const std::vector<std::string>& argv) {
  Parse(argv, {}, 0);
  const auto ports = BridgePorts();
  for (const BridgePort& port : ports) Print("port", port.port);
  Print("count", std::to_string(ports.size()));
  return kExitOk;
}

int CmdDownload(const std::vector<std::string>& argv) {
  const Args args = Parse(argv, {"--port", "--chips", "--chip", "--expect-checksum"}, 1);
  OnePort one(args, BaseJob(args, args.positional[0]));
  if (auto refused = one.station.FileGate()) return Finish(one, *refused);
  bool downloaded = false;
  const Result result = one.station.Ready(&downloaded);
  one.console.Done();
  Print("status", result.status);
  if (!result.passed()) return kExitFailed;
  Print("download", downloaded ? "done" : "skipped");
  Print("start", one.station.Text(id::kStartAddress));
  Print("end", one.station.Text(id::kEndAddress));
  Print("checksum", one.station.Text(id::kChecksumField));
  return kExitOk;
}

int CmdProgram(const std::vector<std::string>& argv) {
  const Args args =
      Parse(argv, {"--port", "--chips", "--chip", "--steps", "--expect-checksum", "--record", "--count"}, 1);
  if (!args.One("--chip")) throw Refusal{"--chip is missing"};
  Job job = BaseJob(args, args.positional[0]);
  if (auto steps = args.One("--steps")) job.steps = SplitSteps(*steps);
  if (auto record = args.One("--record")) {
    RequireRegularFile("--record", *record, true);
    job.recordPath = *record;
  }
  const int count = ParseCount(args);

  std::vector<SystemPort> systemPorts;
  std::vector<StationPort> ports;
  std::vector<std::string> names;
  SystemClock clock;
  for (const std::string& name : ResolvePorts(args)) systemPorts.push_back(OpenSystemPort(name));
  for (SystemPort& port : systemPorts) {
    ports.push_back(port.Station(clock));
    names.push_back(port.name);
  }
  auto records = SystemRecordFile();
  Console console(names);
  const LineSummary summary = RunLine(ports, job, count, *records, ToConsole(console));
  console.Done();
  if (summary.refused) throw Refusal{*summary.refused};
  if (summary.gate) {
    Print("status", summary.gate->status);
    return kExitFailed;
  }
  Print("passed", std::to_string(summary.passed));
  Print("failed", std::to_string(summary.failed));
  if (summary.recordFailed)
    std::fprintf(stderr, "error: a record row could not be written to %s\n", job.recordPath.c_str());
  const bool allPassed = summary.failed == 0 && summary.passed > 0 && !summary.recordFailed;
  return allPassed ? kExitOk : kExitFailed;
}

int CmdReadHex(const std::vector<std::string>& argv) {
  const Args args = Parse(argv, {"--port", "--start", "--end"}, 1);
  const uint32_t start = ParseAddress(args, "--start", 0);
  const uint32_t end = ParseAddress(args, "--end", 0x7FFF);
  if (start > end) throw Refusal{"--start lies beyond --end"};
  Job job = BaseJob(args, "");
  OnePort one(args, job);
  const std::string out = PathText(std::filesystem::absolute(Utf8Path(args.positional[0])));
  return Finish(one, one.station.SaveMemoryHex(out, start, end));
}

int CmdOfflineMaster(const std::vector<std::string>& argv) {
  const Args args = Parse(argv, {"--port", "--chips", "--chip", "--expect-checksum"}, 1);
  if (!args.One("--chip")) throw Refusal{"--chip is missing"};
  OnePort one(args, BaseJob(args, args.positional[0]));
  if (auto refused = one.station.FileGate()) return Finish(one, *refused);
  return Finish(one, one.station.MakeOfflineMaster());
}

template <int (*F)(const std::vector<std::string>&)>
int Refusing(const std::vector<std::string>& args) {
  try {
    return F(args);
  } catch (const Refusal& refusal) {
    std::fprintf(stderr, "error: %s\n", refusal.message.c_str());
    return kExitUsage;
  }
}

}  // namespace

LineCommand FindLineCommand(std::string_view name) {
  static const std::map<std::string_view, LineCommand> kCommands = {
      {"ports", Refusing<CmdPorts>},
      {"download", Refusing<CmdDownload>},
      {"program", Refusing<CmdProgram>},
      {"read-hex", Refusing<CmdReadHex>},
      {"offline-master", Refusing<CmdOfflineMaster>},
  };
  auto it = kCommands.find(name);
  return it == kCommands.end() ? nullptr : it->second;
}

}  // namespace kovra::cli
