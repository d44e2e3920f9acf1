// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/station.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"

namespace kovra::cli {

// What one programmer's station runs on: its port, the map that says
// whether the port is still there, and its time.
struct StationPort {
  std::string name;
  SerialPort* serial;
  PortMap* map;
  Clock* clock;
};

// Where a production line's results, texts and events go. Each is called
// from the port's own thread; the callee serialises.
struct LineOutput {
  // One finished chip.
  std::function<void(const std::string& port, const Result& result)> result;
  // A port's status line changed.
  std::function<void(const std::string& port, const std::string& text)> status;
  std::function<void(const std::string& port, const ProgressEvent& event)> progress;
  std::function<void(const std::string& port, const std::string& caption, const std::string& text)> message;
  // Between chips: waits for the go-ahead; false stops the line.
  std::function<bool()> nextChip;
};

struct LineSummary {
  int passed = 0;
  int failed = 0;
  // The job cannot be done as asked; nothing was sent.
  std::optional<std::string> refused;
  // Some chip's record row could not be written.
  bool recordFailed = false;
  // A port stopped because no serial number was left.
  bool numbersRunOut = false;
};

// Programs `count` chips on every port, the ports at once: one station,
// state record and link worker each. A port that fails or is unplugged
// stops nothing on the others; it tries again (connect, download) for its
// next chip. A code file that misses the golden checksum programs nothing:
// each port fails one chip, recorded, and the line stops.
LineSummary RunLine(const std::vector<StationPort>& ports, const Job& job, int count, RecordFile& records,
                    const LineOutput& out);

// A text with its line breaks as spaces: a result or a progress line is
// one line, whatever the status text or the message box holds.
std::string OneLine(std::string text);

// "port: P result: pass status: TEXT", the text output's line for a chip.
std::string ResultLine(const std::string& port, const Result& result);

// How far an event has come through its range, 0..100.
int ProgressPercent(const ProgressEvent& event);

}  // namespace kovra::cli
