#include "cli/line.h"

#include <thread>

#include "base/control_ids.h"
#include "base/text_helpers.h"

namespace kovra::cli {
namespace {

std::string ResultLine(const std::string& port, const Outcome& outcome) {
  return "port: " + port + " result: " + (outcome.passed ? "pass" : "fail") + " status: " + OneLine(outcome.status);
}

}  // namespace

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

int ProgressPercent(const std::string& text, uint32_t end) {
  constexpr size_t kDigits = 5;
  if (text.size() <= kDigits || text[text.size() - kDigits - 1] != ' ') return -1;
  const uint32_t address = HexToNumber(text.substr(text.size() - kDigits), 16);
  if (address == kBadNumber) return -1;
  return static_cast<int>(std::min<uint64_t>(100, uint64_t{address} * 100 / (uint64_t{end} + 1)));
}

LineSummary RunLine(const std::vector<StationPort>& ports, const Job& job, int count, RecordFile& records,
                    const LineOutput& out) {
  LineSummary summary;
  std::vector<std::unique_ptr<Station>> stations;
  for (const StationPort& port : ports) {
    auto end = std::make_shared<uint32_t>(0);
    StationOutput output{
        .status = [&out, name = port.name,
                   end](const std::string& text) { out.progress(name, text, ProgressPercent(text, *end)); },
        .message = [&out, name = port.name](const std::string& caption,
                                            const std::string& text) { out.message(name, caption, text); }};
    stations.push_back(std::make_unique<Station>(*port.serial, *port.map, *port.clock, records, output));
    if (auto refused = stations.back()->Prepare(port.name, job)) {
      summary.refused = port.name + ": " + *refused;
      return summary;
    }
    *end = HexToNumber(stations.back()->Text(id::kEndAddress), 16);
  }

  // A line that keeps records starts no chip it cannot record.
  if (!job.recordPath.empty() && !records.CanAppend(job.recordPath)) {
    summary.refused = job.recordPath + ": the record file cannot be written";
    return summary;
  }

  // Every station loaded the same file: no chip is programmed from one
  // that is not the golden file, and each port's record says why.
  if (auto differs = stations.front()->FileGate()) {
    for (size_t i = 0; i < stations.size(); ++i) {
      stations[i]->RecordChipNotRun(*differs);
      out.result(ResultLine(ports[i].name, {false, *differs}));
      ++summary.failed;
      summary.recordFailed = summary.recordFailed || stations[i]->RecordFailed();
    }
    return summary;
  }

  std::vector<bool> stopped(stations.size(), false);
  std::vector<Outcome> outcomes(stations.size());
  for (int chip = 0; chip < count; ++chip) {
    if (chip > 0 && !out.nextChip()) break;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < stations.size(); ++i) {
      if (stopped[i]) continue;
      threads.emplace_back([&, i] {
        outcomes[i] = stations[i]->ProgramChip();
        out.result(ResultLine(ports[i].name, outcomes[i]));
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < stations.size(); ++i) {
      if (stopped[i]) continue;
      outcomes[i].passed ? ++summary.passed : ++summary.failed;
      // A line that keeps records programs no chip it cannot record.
      if (stations[i]->RecordFailed()) {
        stopped[i] = true;
        summary.recordFailed = true;
      }
    }
  }
  return summary;
}

}  // namespace kovra::cli
