// SPDX-License-Identifier: MIT
#include "cli/station.h"

#include <algorithm>

#include "app/command_dispatch.h"
#include "app/startup.h"
#include "base/control_ids.h"
#include "base/request_frame.h"
#include "base/text_helpers.h"
#include "chips/chip_list.h"
#include "chips/target_rules.h"
#include "cli/line.h"
#include "image/code_image.h"
#include "image/code_loader.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "ops/download.h"
#include "ops/offline_master.h"
#include "ops/operations.h"
#include "ops/production_record.h"
#include "ops/run_operation.h"
#include "ops/serial_run.h"

namespace kovra::cli {
namespace {

const AutoStep* FindStep(const std::string& name) {
  for (const AutoStep& step : AutoSteps()) {
    if (name == step.name) return &step;
  }
  return nullptr;
}

int OptionBox(uint32_t bit) {
  for (const option::Box& box : option::kBoxes) {
    if (box.bit == bit) return box.id;
  }
  return 0;
}

// A chip the list file holds on a line the window leaves out.
bool ListedOnlyInFile(const std::string& chipList, const std::string& chip) {
  const auto lines = ReadChipListLines(chipList);
  if (!lines) return false;
  return std::any_of(lines->begin(), lines->end(), [&chip](const ChipListLine& line) {
    return !line.listed && line.chip.name == ToUpperAscii(chip);
  });
}

// Why the checks before programming refused, in the command line's words.
std::string RefusalReason(AppContext& ctx, TargetRefusal why, const std::string& chip) {
  const AppState& s = ctx.state;
  switch (why) {
    case TargetRefusal::kMtpWithoutSmart:
      return chip + " is an MTP chip: the steps must include smart";
    case TargetRefusal::kWrongVdd:
      return "the supply voltage does not suit " + chip;
    case TargetRefusal::kBeyondRom:
      return "the programming range ends at " + Hex4(s.programEnd) + ", beyond the ROM of " + chip + " (up to " +
             Hex4(ChipRomEnd(ctx)) + ")";
    case TargetRefusal::kCodeBeyondRange:
      return "the code ends at " + Hex4(s.codeEnd) + ", beyond the programming range (up to " + Hex4(s.programEnd) +
             ")";
    case TargetRefusal::kNone:
      break;
  }
  return "the checks before programming refused the job";
}

}  // namespace

std::string StepNames() {
  std::string names;
  for (const AutoStep& step : AutoSteps()) names += std::string(names.empty() ? "" : ",") + step.name;
  return names;
}

Result Refused(std::string why, std::string status) {
  Outcome outcome;
  outcome.Refuse(std::move(why));
  return {outcome, std::move(status)};
}

std::optional<std::string> LoadCodeFileStrictly(AppContext& ctx) {
  RecordDamage damage;
  LoadCodeFile(ctx, &damage);
  if (damage.kind == RecordDamage::Kind::kNone) return std::nullopt;
  const bool checksum = damage.kind == RecordDamage::Kind::kChecksum;
  return ctx.window.GetText(id::kFilePath) + ": line " + std::to_string(damage.line) + ": " +
         (checksum ? "the record's checksum is wrong" : "the record is cut short or garbled");
}

void StationWindow::SetText(int id, std::string_view text) {
  HeadlessWindow::SetText(id, text);
  if (id == id::kStatusLine && output_.status) output_.status(std::string(text));
}

MbAnswer StationWindow::ShowMessageBox(const MessageBoxRequest& request) {
  HeadlessWindow::ShowMessageBox(request);
  const bool question = request.buttons == MbButtons::kYesNo;
  // A box of the checks is the refusal's own text. The flags answer a
  // question the same way for every chip: it is told once.
  const bool tell = answerYes_ && (!question || told_.insert(request.text).second);
  if (tell && output_.message) output_.message(request.caption, request.text);
  if (question) return answerYes_ ? MbAnswer::kYes : MbAnswer::kNo;
  return DefaultAnswer(request);
}

Station::Station(SerialPort& serial, PortMap& portMap, Clock& clock, RecordFile& records, StationOutput output)
    : window_(output),
      ctx_{state_, window_, registry_, clock, sound_, dialogs_, serial, portMap, worker_, programFolder_, records},
      progress_(std::move(output.progress)) {
  ctx_.progress = &progress_;
}

std::optional<std::string> Station::Prepare(const std::string& port, const Job& job) {
  job_ = job;
  AppState& s = state_;
  MainWindow& w = window_;
  if (!InitializeWithChipList(ctx_, job.chipList) && !job.chip.empty()) {
    return job.chipList + ": cannot be read or holds no chip";
  }
  s.currentPortName = port;
  s.recordPath = job.recordPath;
  s.recordJob = job.jobFile;
  s.recordJobSha256 = job.jobSha256;
  // Other tools read the HEX files saved here.
  s.hexEndRecord = true;
  // Nobody hears a buzzer here, and its beeps would cost each chip time.
  w.SetChecked(id::kBuzzer, false);
  OnCommandRequest(ctx_, id::kBuzzer, id::kGroupAux);
  // The chips are programmed from the programmer's memory, never from the
  // host's image.
  w.SetChecked(id::kDebugMode, false);
  OnCommandRequest(ctx_, id::kDebugMode, 0);

  if (!job.chip.empty()) {
    int entry = -1;
    for (int i = 0; i < w.ComboCount(id::kChipCombo); ++i) {
      if (ToUpperAscii(w.ComboItem(id::kChipCombo, i)) == ToUpperAscii(job.chip)) entry = i;
    }
    if (entry < 0 && ListedOnlyInFile(job.chipList, job.chip)) {
      return "chip " + job.chip + " is in " + job.chipList + " on a line the window does not list (sixth field 3)";
    }
    if (entry < 0) return "unknown chip " + job.chip + " (not in " + job.chipList + ")";
    // The window's "none selected": a run on it would take an MTP chip's steps.
    if (entry == 0) return job.chip + " is the chip list's first row, which stands for no chip";
    w.ComboSelect(id::kChipCombo, entry);
    ApplyChipSelection(ctx_);
  }

  if (job.steps) {
    std::vector<const AutoStep*> wanted;
    for (const std::string& name : *job.steps) {
      const AutoStep* step = FindStep(name);
      if (!step) return "unknown step " + name + " (steps: " + StepNames() + ")";
      wanted.push_back(step);
    }
    if (std::find(wanted.begin(), wanted.end(), FindStep("program")) == wanted.end()) {
      return "the steps must include program";
    }
    for (const AutoStep& step : AutoSteps()) {
      if (!step.optionBit) continue;
      const int box = OptionBox(step.optionBit);
      const bool on = std::find(wanted.begin(), wanted.end(), &step) != wanted.end();
      const bool mtp = w.IsChecked(id::kChipMtp);
      if (on && (!w.IsEnabled(box) || (step.mtpOnly && !mtp))) {
        return std::string("step ") + step.name + " does not apply to " + (mtp ? "MTP" : "OTP") + " chips";
      }
      w.SetChecked(box, on);
    }
  }

  if (job.codeFile.empty()) return std::nullopt;
  w.SetText(id::kFilePath, job.codeFile);
  if (auto damaged = LoadCodeFileStrictly(ctx_)) return damaged;
  if (s.linkError) return job.codeFile + ": " + w.GetText(id::kStatusLine);
  if (job.chip.empty()) return std::nullopt;
  CaptureAddressRange(ctx_);
  // A question here means the flags did not settle it: the answer is No.
  window_.AnswerQuestions(false);
  TargetRefusal why = TargetRefusal::kNone;
  const bool accepted = ValidateTarget(ctx_, &why);
  window_.AnswerQuestions(true);
  if (accepted) return PrepareSerials(job);
  std::string refusal = RefusalReason(ctx_, why, ToUpperAscii(job.chip));
  const auto boxes = window_.MessageBoxes();
  if (!boxes.empty()) {
    const bool question = boxes.back().buttons == MbButtons::kYesNo;
    refusal += std::string(question ? " (the window would ask: " : " (the window would say: ") +
               OneLine(boxes.back().text) + ")";
  }
  return refusal;
}

// A chip given a number is programmed from the host's image with the
// number in it (the image variant: the memory variant copies the
// programmer's memory, which only a whole download changes) and verified by
// reading it back.
std::optional<std::string> Station::PrepareSerials(const Job& job) {
  if (!job.serials) return std::nullopt;
  AppState& s = state_;
  const JobSerials& serials = *job.serials;
  const std::string misplaced = SerialPlacementProblem(serials.address, serials.width, s.programStart, s.programEnd);
  if (!misplaced.empty()) return misplaced;
  if (!window_.IsChecked(OptionBox(option::kVerify))) {
    return "a chip given a number is verified by reading it back: the steps must include verify";
  }
  window_.SetChecked(id::kDebugMode, true);
  OnCommandRequest(ctx_, id::kDebugMode, 0);
  s.verifyByReadback = true;
  s.serialAddress = serials.address;
  ctx_.serials = serials.source;
  return std::nullopt;
}

std::string Station::RunSteps() {
  BuildRequestFrame(ctx_);
  const bool mtp = state_.requestFrame.chipType() == kFrameMtp;
  std::string names;
  for (const AutoStep& step : AutoSteps()) {
    if (StepRuns(step, state_.optionMask, mtp)) names += std::string(names.empty() ? "" : ",") + step.name;
  }
  return names;
}

std::optional<Result> Station::FileGate() {
  if (!job_.expectChecksum || job_.codeFile.empty()) return std::nullopt;
  const uint16_t sum = SumImage(state_, 0, state_.programEnd);
  if (sum == *job_.expectChecksum) return std::nullopt;
  const std::string why = "file checksum " + Hex4(sum) + " differs from the expected " + Hex4(*job_.expectChecksum);
  return Refused(why, why);
}

void Station::OnWorker(const std::function<void()>& job) {
  worker_.PostOperation(job);
  worker_.WaitIdle();
}

bool Station::Connect() {
  if (state_.connected) return true;
  // Whatever programmer answers now may not be the one the code went to:
  // its memory is confirmed again before a chip is programmed from it.
  state_.codeLoaded = 0;
  OnWorker([this] { kovra::Connect(ctx_); });
  if (state_.connected) return true;
  // Another device under the port's name: the status says so, not only
  // that no programmer answered.
  if (const std::string refusal = ctx_.portMap.Refusal(); !refusal.empty()) {
    window_.SetText(id::kStatusLine, refusal);
  }
  return false;
}

Result Station::Ready(bool* downloaded) {
  AppState& s = state_;
  if (downloaded) *downloaded = false;
  if (!Connect()) return NotConnected();
  if (!s.codeLoaded) {
    bool adopted = false;
    // The image loaded and checked when the job was prepared, never the
    // file again: a file replaced meanwhile would reach some ports only.
    OnWorker([this, &adopted] {
      state_.outcome = OutcomeOf("download");
      BuildRequestFrame(ctx_);
      adopted = AdoptMemoryHoldingImage(ctx_);
      if (adopted) return;
      state_.operationCode() = static_cast<uint8_t>(Op::kDownload);
      BuildRequestFrame(ctx_);
      DownloadLoadedImage(ctx_);
    });
    if (downloaded) *downloaded = !adopted;
    if (!s.codeLoaded) {
      // The download noted its kind; a failure it did not name is the link's.
      if (s.outcome.passed()) s.outcome.Fail(Failure::kLinkLost);
      return {s.outcome, window_.GetText(id::kStatusLine)};
    }
  }
  if (job_.expectChecksum) {
    const std::string memory = window_.GetText(id::kChecksumField);
    if (memory != Hex4(*job_.expectChecksum)) {
      // Nothing is programmed from a memory the gate refused.
      s.codeLoaded = 0;
      const std::string why = "memory checksum " + memory + " differs from the expected " + Hex4(*job_.expectChecksum);
      return Refused(why, why);
    }
  }
  return {OutcomeOf("download"), window_.GetText(id::kStatusLine)};
}

Result Station::Operate(int controlId, int parentId) {
  // Emptied first: the last operation's status is often this one's too,
  // and one refused before it started says why in a box only. A button
  // that starts nothing and says nothing is refused too.
  window_.HeadlessWindow::SetText(id::kStatusLine, "");
  const size_t boxesBefore = window_.MessageBoxes().size();
  state_.outcome = {};
  state_.outcome.Refuse("nothing was started");
  OnCommandRequest(ctx_, controlId, parentId);
  worker_.WaitIdle();
  Result result = Finished();
  const auto boxes = window_.MessageBoxes();
  if (result.status.empty() && boxes.size() > boxesBefore) result.status = boxes.back().text;
  return result;
}

Result Station::NotConnected() {
  Result result{OutcomeOf("connect"), window_.GetText(id::kStatusLine)};
  result.outcome.Fail(Failure::kLinkLost);
  return result;
}

Result Station::Finished() { return {state_.outcome, window_.GetText(id::kStatusLine)}; }

Result Station::ProgramChip() {
  AppState& s = state_;
  // After a failed chip the programmer may have been unplugged, or swapped,
  // without a command noticing yet: the link and the memory's code are
  // established again before the next chip.
  if (lastFailed_) s.connected = 0;
  Result result = Ready();
  const uint64_t startedBefore = s.runStartedMs;
  if (result.passed()) {
    result = Operate(id::kAutoProgram, id::kGroupOperations);
    if (s.runStartedMs != startedBefore) result.elapsedMs = ctx_.clock.NowMs() - s.runStartedMs;
    if (result.outcome.why == kWhySerialsRunOut) {
      result.numbersRunOut = true;
      return result;
    }
  }
  // A run records itself; a chip that never got one is recorded here, so
  // that the record accounts for every chip.
  if (s.runStartedMs == startedBefore) RecordChipNotRun(result);
  lastFailed_ = !result.passed();
  return result;
}

void Station::RecordChipNotRun(const Result& result) {
  RunRecord record = CurrentRunRecord(ctx_, false);
  // The field shows the file's sum until a run's frames bring the memory's.
  record.memoryChecksum.clear();
  record.steps.clear();
  record.status = result.status;
  record.elapsedMs = 0;
  record.failure = FailureName(result.outcome.failure);
  record.address = result.outcome.hasAddress ? Hex5(result.outcome.address) : "";
  AppendRecordRow(ctx_, record);
}

Result Station::SaveMemoryHex(const std::string& path, uint32_t start, uint32_t end) {
  if (!Connect()) return NotConnected();
  window_.SetText(id::kStartAddress, Hex4(start));
  window_.SetText(id::kEndAddress, Hex4(end));
  dialogs_.path = path;
  return Operate(id::kSaveHex, id::kGroupFiles);
}

Result Station::MakeOfflineMaster() {
  if (!Connect()) return NotConnected();
  // The master downloads the image checked when the job was prepared,
  // never the file again.
  OnWorker([this] {
    state_.operationCode() = static_cast<uint8_t>(Op::kMakeMaster);
    BuildRequestFrame(ctx_);
    state_.outcome = OutcomeOf("offline master");
    kovra::MakeOfflineMaster(ctx_, DownloadLoadedImage);
    if (state_.linkError && state_.outcome.passed()) state_.outcome.Fail(Failure::kLinkLost);
  });
  // Its own download confirmed the memory against the image, whose sum the
  // preparation held against the golden checksum.
  return Finished();
}

}  // namespace kovra::cli
