// SPDX-License-Identifier: MIT
#include "cli/line.h"

#include <algorithm>
#include <thread>

namespace kovra::cli {
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string ResultLine(const std::string& port, const Result& result) {
  return "port: " + port + " result: " + (result.passed() ? "pass" : "fail") + " status: " + OneLine(result.status);
}

int ProgressPercent(const ProgressEvent& event) {
  if (event.address <= event.start || event.end < event.start) return 0;
  const uint64_t done = uint64_t{event.address} - event.start;
  return static_cast<int>(std::min<uint64_t>(100, done * 100 / (uint64_t{event.end} - event.start + 1)));
}

LineSummary RunLine(const std::vector<StationPort>& ports, const Job& job, int count, RecordFile& records,
                    const LineOutput& out) {
  LineSummary summary;
  std::vector<std::unique_ptr<Station>> stations;
  for (const StationPort& port : ports) {
    StationOutput output{
        .status = [&out, name = port.name](const std::string& text) { out.status(name, text); },
        .progress = [&out, name = port.name](const ProgressEvent& event) { out.progress(name, event); },
        .message = [&out, name = port.name](const std::string& caption,
                                            const std::string& text) { out.message(name, caption, text); }};
    stations.push_back(std::make_unique<Station>(*port.serial, *port.map, *port.clock, records, output));
    if (auto refused = stations.back()->Prepare(port.name, job)) {
      summary.refused = port.name + ": " + *refused;
      return summary;
    }
  }

  // A line that keeps records starts no chip it cannot record.
  if (!job.recordPath.empty() && !records.CanAppend(job.recordPath)) {
    summary.refused = job.recordPath + ": the record file cannot be written";
    return summary;
  }

  // Every station loaded the same file: no chip is programmed from one
  // that is not the golden file, and each port's record says why.
  if (auto refused = stations.front()->FileGate()) {
    for (size_t i = 0; i < stations.size(); ++i) {
      stations[i]->RecordChipNotRun(*refused);
      out.result(ports[i].name, *refused);
      ++summary.failed;
      summary.recordFailed = summary.recordFailed || stations[i]->RecordFailed();
    }
    return summary;
  }

  std::vector<bool> stopped(stations.size(), false);
  std::vector<Result> results(stations.size());
  for (int chip = 0; chip < count; ++chip) {
    if (std::all_of(stopped.begin(), stopped.end(), [](bool s) { return s; })) break;
    if (chip > 0 && !out.nextChip()) break;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < stations.size(); ++i) {
      if (stopped[i]) continue;
      threads.emplace_back([&, i] {
        results[i] = stations[i]->ProgramChip();
        if (results[i].numbersRunOut) {
          out.message(ports[i].name, "serial numbers", "run out: no more chips on this port");
        } else {
          out.result(ports[i].name, results[i]);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < stations.size(); ++i) {
      if (stopped[i]) continue;
      if (results[i].numbersRunOut) {
        stopped[i] = true;
        summary.numbersRunOut = true;
        continue;
      }
      results[i].passed() ? ++summary.passed : ++summary.failed;
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
