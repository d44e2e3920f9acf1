// SPDX-License-Identifier: MIT
// report: the yield report from record files or the line's database.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "base/text_helpers.h"
#include "cli/commands.h"
#include "cli/report.h"
#include "odbc/odbc_line_database.h"
#include "ops/line_outbox.h"
#include "ops/production_record.h"

namespace kovra::cli {
namespace {

// A year of a busy line's rows fits well below this.
constexpr size_t kRecordMaxBytes = size_t{1} << 30;

std::optional<int64_t> TimeOption(const char* name, const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  auto time = ParseUtcTime(*text);
  if (!time) {
    throw Refusal{std::string(name) + " " + *text + ": not a time (2026-12-08T15:00:00Z, 2026-12-08T15:00 or " +
                  "2026-12-08, UTC)"};
  }
  return time;
}

ReportOptions Options(const Inputs& in) {
  ReportOptions options;
  options.from = TimeOption("--from", in.from);
  options.to = TimeOption("--to", in.to);
  if (options.from && options.to && *options.from >= *options.to) throw Refusal{"--from is not before --to"};
  options.station = in.station.value_or("");
  if (in.station && in.station->empty()) throw Refusal{"--station names no station"};
  if (in.floorSeconds) {
    options.floorMs = ParseMilliseconds(*in.floorSeconds);
    if (!options.floorMs || *options.floorMs == 0) {
      throw Refusal{"--floor-seconds " + *in.floorSeconds + ": not a number of seconds above 0 (2.5, 0.850)"};
    }
  }
  if (in.serialEncoding) {
    bool known = false;
    for (Encoding encoding : {Encoding::kBinaryLittle, Encoding::kBinaryBig, Encoding::kBcd, Encoding::kAsciiDecimal,
                              Encoding::kAsciiHex}) {
      if (EncodingName(encoding) == *in.serialEncoding) {
        options.serialEncoding = encoding;
        known = true;
      }
    }
    if (!known) throw Refusal{"--serial-encoding " + *in.serialEncoding + ": not le, be, bcd, dec or hex"};
  }
  return options;
}

void AddSource(const std::string& source, const ReportOptions& options, const Inputs& in, ReportData& data) {
  if (IsDatabaseRecord(source)) {
    odbc::OdbcLineDatabase database(DatabaseConnection(source));
    RecordQuery query{in.from ? UtcTimestamp(*options.from * 1000) : "", in.to ? UtcTimestamp(*options.to * 1000) : "",
                      options.station};
    if (auto error = ReportFromDatabase(database, query, ShownRecordPath(source), data)) throw Refusal{*error};
    return;
  }
  RequireRegularFile("RECORD", source, false);
  std::string text;
  switch (ReadWholeFile(Utf8Path(source), kRecordMaxBytes, text)) {
    case ReadResult::kRead:
      break;
    case ReadResult::kCannotRead:
      throw Refusal{source + ": cannot be read"};
    case ReadResult::kTooLarge:
      throw Refusal{source + ": larger than 1 GiB"};
  }
  if (auto error = AddRecordFile(source, text, data)) throw Refusal{*error};
}

}  // namespace

int Report(const Inputs& in) {
  const ReportOptions options = Options(in);
  // A file named twice would count its chips twice; the page written over
  // a record would lose it.
  std::set<std::filesystem::path> files;
  for (const std::string& source : in.records) {
    if (IsDatabaseRecord(source)) continue;
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(Utf8Path(source), error);
    if (!error && !files.insert(canonical).second) throw Refusal{source + " is named twice"};
  }
  if (in.output) {
    RequireRegularFile("-o", *in.output, true);
    std::error_code error;
    if (files.count(std::filesystem::weakly_canonical(Utf8Path(*in.output), error))) {
      throw Refusal{"-o " + *in.output + " is a record the report reads"};
    }
  }
  ReportData data;
  for (const std::string& source : in.records) AddSource(source, options, in, data);
  const std::string page = ReportHtml(data, options);

  if (!in.output) {
    std::fwrite(page.data(), 1, page.size(), stdout);
    std::fflush(stdout);
    return std::ferror(stdout) ? kExitFailed : kExitOk;
  }
  // Written beside it first: a page that could not be written whole
  // leaves the file as it was.
  const std::filesystem::path out = Utf8Path(*in.output);
  std::filesystem::path part = out;
  part += ".part";
  std::error_code error;
  {
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    file.write(page.data(), static_cast<std::streamsize>(page.size()));
    file.close();
    if (file) std::filesystem::rename(part, out, error);
    if (file && !error) return kExitOk;
  }
  std::filesystem::remove(part, error);
  std::fprintf(stderr, "error: %s: the report could not be written\n", in.output->c_str());
  return kExitFailed;
}

}  // namespace kovra::cli
