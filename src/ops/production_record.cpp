// SPDX-License-Identifier: MIT
#include "ops/production_record.h"

#include <chrono>
#include <cstdio>

#include "base/control_ids.h"
#include "base/csv.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "image/code_image.h"
#include "link/commands.h"
#include "ops/line_outbox.h"

namespace kovra {
namespace {

std::string Seconds(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned>(ms % 1000));
  return text;
}

void WarnRecordFailed(AppContext& ctx) {
  ctx.window.ShowMessageBox({kTextRecordFailed + ShownRecordPath(ctx.state.recordPath), kWarningCaptionSpaced,
                             MbButtons::kOk, MbIcon::kWarning});
}

}  // namespace

std::string UtcTimestamp(int64_t utcMs) {
  using namespace std::chrono;
  const sys_seconds time = floor<seconds>(sys_time<milliseconds>(milliseconds(utcMs)));
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::string FormatRecordRow(const RunRecord& r) {
  return FormatCsvRow({UtcTimestamp(r.utcMs), r.port, r.chip, r.codeFile, r.fileChecksum, r.memoryChecksum, r.steps,
                       r.passed ? "pass" : "fail", r.status, Seconds(r.elapsedMs), r.failure, r.address, r.serial,
                       r.job, r.jobSha256}) +
         "\r\n";
}

RunRecord CurrentRunRecord(AppContext& ctx, bool passed) {
  AppState& s = ctx.state;
  MainWindow& w = ctx.window;
  const int chip = w.ComboSelection(id::kChipCombo);
  return {.utcMs = ctx.clock.UtcMs(),
          .port = s.currentPortName,
          .chip = chip < 0 ? std::string() : w.ComboItem(id::kChipCombo, chip),
          .codeFile = w.GetText(id::kFilePath),
          .fileChecksum = Hex4(SumImage(s, s.programStart, s.programEnd)),
          .memoryChecksum = w.GetText(id::kChecksumField),
          .steps = s.runSteps,
          .passed = passed,
          .status = w.GetText(id::kStatusLine),
          .elapsedMs = ctx.clock.NowMs() - s.runStartedMs,
          .failure = passed ? "" : FailureName(s.outcome.failure),
          .address = !passed && s.outcome.hasAddress ? Hex5(s.outcome.address) : "",
          .serial = s.runSerial,
          .job = s.recordJob,
          .jobSha256 = s.recordJobSha256};
}

void AppendRecordRow(AppContext& ctx, const RunRecord& record) {
  const std::string& path = ctx.state.recordPath;
  if (path.empty()) return;
  if (ctx.records.Append(path, kRecordHeader, FormatRecordRow(record))) {
    // The run's own text stays; the operator also learns where the row waits.
    const std::string notice = ctx.records.Notice();
    if (!notice.empty()) SetStatus(ctx, ctx.window.GetText(id::kStatusLine) + "（" + notice + "）");
    return;
  }
  ctx.state.recordFailed = 1;
  WarnRecordFailed(ctx);
}

void AppendRunRecord(AppContext& ctx, bool passed) { AppendRecordRow(ctx, CurrentRunRecord(ctx, passed)); }

bool RecordWritable(AppContext& ctx) {
  const std::string& path = ctx.state.recordPath;
  if (path.empty() || ctx.records.CanAppend(path)) return true;
  WarnRecordFailed(ctx);
  return false;
}

}  // namespace kovra
