// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "base/app_context.h"
#include "link/link_worker.h"
#include "platform/memory_registry.h"
#include "platform/program_folder.h"

namespace kovra::cli {

// Each chip's own number: where it goes, and the source the ports of a
// line share.
struct JobSerials {
  SerialSource* source = nullptr;
  uint32_t address = 0;
  int width = 0;
};

// What the command line asks of every programmer.
struct Job {
  std::string codeFile;
  std::string chipList;
  std::string chip;                               // empty: the list's first row (no chip)
  std::optional<std::vector<std::string>> steps;  // nullopt: what the chip's rules tick
  std::optional<uint16_t> expectChecksum;         // the golden checksum
  std::string recordPath;                         // empty: no record
  std::optional<JobSerials> serials;
  // The job file the job came from and its SHA-256, for the record.
  std::string jobFile;
  std::string jobSha256;
};

// What a station's step came to: the core's outcome (kind, step, address)
// and the text the window ended with.
struct Result {
  Result() = default;
  Result(Outcome o, std::string text) : outcome(std::move(o)), status(std::move(text)) {}

  Outcome outcome;
  std::string status;
  uint64_t elapsedMs = 0;
  // No number was left for the chip: the port stops, no chip is counted.
  bool numbersRunOut = false;

  bool passed() const { return outcome.passed(); }
};

// The steps of an automatic run as --steps names them, comma-separated, in
// the order a run takes them.
std::string StepNames();

// A step that was not taken, and why.
Result Refused(std::string why, std::string status);

// Where a station's texts and events go: its status line as it changes,
// its operations' progress, and its message boxes.
struct StationOutput {
  std::function<void(const std::string& text)> status;
  std::function<void(const ProgressEvent& event)> progress;
  std::function<void(const std::string& caption, const std::string& text)> message;
};

// The window of a programmer without a screen. Questions are answered
// Yes (the command line's flags are the operator's choice) and told once,
// unless the station is checking the target, where a question means the
// flags did not settle it and becomes the refusal.
class StationWindow : public HeadlessWindow {
 public:
  explicit StationWindow(StationOutput output) : output_(std::move(output)) {}
  void SetText(int id, std::string_view text) override;
  MbAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  void AnswerQuestions(bool yes) { answerYes_ = yes; }

 private:
  StationOutput output_;
  bool answerYes_ = true;
  std::set<std::string> told_;
};

class Silence : public Sound {
 public:
  void Beep(uint32_t, uint32_t) override {}
};

// The save dialog's answer is the path given on the command line.
class GivenPathDialogs : public FileDialogs {
 public:
  std::optional<std::string> ChooseOpenFile(std::string_view) override { return path; }
  std::optional<std::string> ChooseSaveFile(std::string_view) override { return path; }
  std::optional<std::string> path;
};

// Loads the file of the path field as the window does, but refuses it when
// a record is damaged: the window skips a record it cannot read and stops
// at a wrong checksum, so a half-copied file would program a shorter range.
// The refusal names the file and the line; nullopt otherwise, whatever the
// load's outcome.
std::optional<std::string> LoadCodeFileStrictly(AppContext& ctx);

// Hands a station's progress events to its output.
class ProgressForwarder : public ProgressListener {
 public:
  explicit ProgressForwarder(std::function<void(const ProgressEvent&)> forward) : forward_(std::move(forward)) {}
  void OnProgress(const ProgressEvent& event) override {
    if (forward_) forward_(event);
  }

 private:
  std::function<void(const ProgressEvent&)> forward_;
};

// One programmer on one port, with its own state record, window and link
// worker: stations of a gang share nothing but the record file.
class Station {
 public:
  Station(SerialPort& serial, PortMap& portMap, Clock& clock, RecordFile& records, StationOutput output);
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Everything that needs no byte on the line: chip list, chip, steps, code
  // file and the checks before programming. The reason when the job cannot
  // be done as asked (nothing has been sent then).
  std::optional<std::string> Prepare(const std::string& port, const Job& job);
  // The golden checksum against the code file's sum over the download
  // range: the refusal, or nullopt when they agree (or none is expected).
  std::optional<Result> FileGate();
  // Connects when not connected.
  bool Connect();
  // Connected, with the code confirmed in the programmer's memory (download
  // skipped when it already holds it byte for byte) and the golden
  // checksum met. `downloaded` tells whether it had to download.
  Result Ready(bool* downloaded = nullptr);
  // One automatic run on the chip in the socket. A chip that gets none (no
  // link, no confirmed code, the gate) has a record row saying why.
  Result ProgramChip();
  // The record row of a chip that gets no run: why, as its status and
  // outcome say.
  void RecordChipNotRun(const Result& result);
  // The programming memory start..end as Intel HEX.
  Result SaveMemoryHex(const std::string& path, uint32_t start, uint32_t end);
  Result MakeOfflineMaster();

  std::string Text(int id) { return window_.GetText(id); }
  // The steps a run would take as the window stands, as --steps names them.
  std::string RunSteps();
  bool RecordFailed() const { return state_.recordFailed != 0; }

 private:
  // Runs `job` on the link worker and waits for it.
  void OnWorker(const std::function<void()>& job);
  // Presses a button of the window and waits for what it started. The
  // result's status is the status line, or the box that refused it.
  Result Operate(int controlId, int parentId);
  // The result of the operation that just ran on the worker.
  Result Finished();
  Result NotConnected();
  std::optional<std::string> PrepareSerials(const Job& job);

  Job job_;
  bool lastFailed_ = false;
  AppState state_;
  StationWindow window_;
  MemoryRegistry registry_;
  Silence sound_;
  GivenPathDialogs dialogs_;
  LinkWorker worker_;
  FixedProgramFolder programFolder_;
  AppContext ctx_;
  ProgressForwarder progress_;
};

}  // namespace kovra::cli
