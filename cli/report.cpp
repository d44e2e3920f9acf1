// SPDX-License-Identifier: MIT
#include "cli/report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "base/csv.h"
#include "base/text_helpers.h"
#include "ops/production_record.h"

namespace kovra::cli {
namespace {

const std::vector<std::string>& RecordColumns() {
  static const std::vector<std::string> columns = [] {
    std::vector<std::string> names;
    std::string_view header = kRecordHeader.substr(0, kRecordHeader.find('\r'));
    for (size_t at = 0;;) {
      const size_t comma = header.find(',', at);
      names.emplace_back(header.substr(at, comma - at));
      if (comma == std::string_view::npos) break;
      at = comma + 1;
    }
    return names;
  }();
  return columns;
}

size_t Column(std::string_view name) {
  const auto& columns = RecordColumns();
  return static_cast<size_t>(std::find(columns.begin(), columns.end(), name) - columns.begin());
}

const size_t kTime = Column("time");
const size_t kPort = Column("port");
const size_t kChip = Column("chip");
const size_t kCodeFile = Column("code file");
const size_t kFileChecksum = Column("file checksum");
const size_t kResult = Column("result");
const size_t kStatus = Column("status");
const size_t kElapsed = Column("elapsed s");
const size_t kFailure = Column("failure");
const size_t kSerial = Column("serial");

bool ReadDigits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::optional<uint64_t> ParseMilliseconds(std::string_view text) {
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view part = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 9 || part.size() > 3) return std::nullopt;
  if (dot != std::string_view::npos && part.empty()) return std::nullopt;
  uint64_t ms = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + static_cast<uint64_t>(c - '0');
  }
  for (size_t i = 0; i < 3; ++i) {
    const char c = i < part.size() ? part[i] : '0';
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + static_cast<uint64_t>(c - '0');
  }
  return ms;
}

namespace {

// One record row, read.
struct Row {
  const StoredRecord* source = nullptr;
  int64_t time = 0;
  bool passed = false;
  uint64_t elapsedMs = 0;
  std::string_view Field(size_t column) const {
    return column < source->fields.size() ? std::string_view(source->fields[column]) : std::string_view();
  }
  const std::string& station() const { return source->station; }
};

// Why the row cannot be read; nullopt when it can, and row holds it.
std::optional<std::string> ReadRow(const StoredRecord& record, Row& row) {
  row.source = &record;
  const auto time = ParseUtcTime(row.Field(kTime));
  if (!time || row.Field(kTime).size() != 20) {
    return "time \"" + std::string(row.Field(kTime)) + "\" is not like 2026-12-08T15:00:00Z";
  }
  row.time = *time;
  const std::string_view result = row.Field(kResult);
  if (result != "pass" && result != "fail") return "result \"" + std::string(result) + "\" is neither pass nor fail";
  row.passed = result == "pass";
  const auto elapsed = ParseMilliseconds(row.Field(kElapsed));
  if (!elapsed) return "elapsed s \"" + std::string(row.Field(kElapsed)) + "\" is not a number of seconds";
  row.elapsedMs = *elapsed;
  if (!row.Field(kSerial).empty() && !ParseHexBytes(row.Field(kSerial))) {
    return "serial \"" + std::string(row.Field(kSerial)) + "\" is not bytes in hexadecimal";
  }
  return std::nullopt;
}

std::string StationOfFile(const std::string& path) {
  const std::filesystem::path name = Utf8Path(path).filename();
  return ToUpperAscii(PathText(name.extension())) == ".CSV" ? PathText(name.stem()) : PathText(name);
}

// The number the serial column's bytes hold.
std::optional<uint64_t> SerialNumber(const std::vector<uint8_t>& bytes, Encoding encoding) {
  if (bytes.empty() || bytes.size() > 8) return std::nullopt;
  uint64_t number = 0;
  switch (encoding) {
    case Encoding::kBinaryLittle:
      for (size_t i = bytes.size(); i-- > 0;) number = number << 8 | bytes[i];
      return number;
    case Encoding::kBinaryBig:
      for (uint8_t byte : bytes) number = number << 8 | byte;
      return number;
    case Encoding::kBcd:
      for (uint8_t byte : bytes) {
        if ((byte >> 4) > 9 || (byte & 15) > 9) return std::nullopt;
        number = number * 100 + static_cast<uint64_t>((byte >> 4) * 10 + (byte & 15));
      }
      return number;
    case Encoding::kAsciiDecimal:
      for (uint8_t byte : bytes) {
        if (byte < '0' || byte > '9') return std::nullopt;
        number = number * 10 + static_cast<uint64_t>(byte - '0');
      }
      return number;
    case Encoding::kAsciiHex:
      for (uint8_t byte : bytes) {
        const uint32_t digit = HexToNumber(std::string_view(reinterpret_cast<const char*>(&byte), 1), 16);
        if (digit == kBadNumber) return std::nullopt;
        number = number << 4 | digit;
      }
      return number;
  }
  return std::nullopt;
}

// Text from the record in the page: markup characters escaped, bytes that
// are no UTF-8 and control characters replaced, so that no field can break
// the page or its encoding.
std::string Html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      switch (byte) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&#39;";
          break;
        default:
          out += byte < 0x20 && byte != '\n' && byte != '\t' ? ' ' : static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    size_t length = byte >= 0xF0 && byte <= 0xF4 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 && byte < 0xE0 ? 2 : 0;
    bool whole = length > 0 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (whole && length == 3) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      whole = !(byte == 0xE0 && second < 0xA0) && !(byte == 0xED && second >= 0xA0);
    }
    if (whole && length == 4) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      whole = !(byte == 0xF0 && second < 0x90) && !(byte == 0xF4 && second >= 0x90);
    }
    if (whole) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string Utc(int64_t seconds) { return UtcTimestamp(seconds * 1000); }

// "2026-12-08 15:00", an hour's bucket.
std::string HourText(int64_t hour) {
  const std::string stamp = Utc(hour * 3600);
  return stamp.substr(0, 10) + " " + stamp.substr(11, 5);
}

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// part / whole in per cent, one decimal, rounded half up in whole numbers:
// the same figure whatever reads the record again.
std::string Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  const uint64_t tenths = (part * 2000 + whole) / (2 * whole);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string Seconds(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned>(ms % 1000));
  return text;
}

std::string Cell(std::string_view attributes, std::string_view text) {
  return "<td " + std::string(attributes) + ">" + std::string(text) + "</td>";
}

// An axis step of 1, 2 or 5 times a power of ten giving about five ticks.
double NiceStep(double top) {
  if (top <= 0) return 1;
  const double raw = top / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return std::max(1.0, m * power);
  }
  return std::max(1.0, 10 * power);
}

std::string Svg(double x) { return Fixed(x, 1); }

// A long port name keeps its end, where sockets differ.
std::string Shortened(const std::string& text, size_t most) {
  if (text.size() <= most) return text;
  size_t cut = text.size() - most;
  while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
  return "\xE2\x80\xA6" + text.substr(cut);
}

struct Tally {
  uint64_t passed = 0;
  uint64_t failed = 0;
  uint64_t chips() const { return passed + failed; }
  void Add(bool pass) { ++(pass ? passed : failed); }
};

using PortKey = std::pair<std::string, std::string>;  // station, port

constexpr const char* kStyle = R"(
body { font-family: "DejaVu Sans", "Noto Sans", "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif;
  margin: 24px; color: #1b1b1b; background: #fff; max-width: 1100px; }
h1 { font-size: 22px; margin: 0 0 12px; }
h2 { font-size: 17px; margin: 28px 0 8px; border-bottom: 1px solid #ccc; padding-bottom: 4px; }
table { border-collapse: collapse; font-size: 13px; margin: 8px 0; }
th, td { border: 1px solid #d0d0d0; padding: 3px 8px; text-align: left; vertical-align: top; }
th { background: #f0f0f0; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
tr.sum td { font-weight: bold; background: #f7f7f7; }
table.facts th { width: 150px; }
p.note { font-size: 13px; color: #444; margin: 6px 0; }
svg { display: block; max-width: 100%; height: auto; margin: 8px 0; }
svg text { font-size: 12px; fill: #333; }
.empty { font-size: 16px; padding: 16px; background: #fff8e1; border: 1px solid #f0d080; }
ul.list { font-size: 13px; margin: 4px 0; }
)";

// Lists in the page stop after this many entries, with a count of the rest.
constexpr size_t kListed = 20;

constexpr const char* kPassColour = "#2e7d32";
constexpr const char* kFailColour = "#c62828";
constexpr const char* kFloorColour = "#1565c0";
constexpr const char* kLineColour = "#ef6c00";

class Page {
 public:
  Page(const ReportData& data, const ReportOptions& options) : data_(data), options_(options) {}

  std::string Build() {
    Select();
    out_ += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    out_ += "<title>Yield report</title>\n<style>";
    out_ += kStyle;
    out_ += "</style>\n</head>\n<body>\n<h1>Yield report</h1>\n";
    Facts();
    if (rows_.empty()) {
      out_ += "<p class=\"empty\" id=\"empty\">No chips in the window: the sources hold no row ";
      out_ += "that ended in it.</p>\n";
    } else {
      Yield();
      Hours();
      Failures();
      Serials();
      CodeFiles();
    }
    out_ += "</body>\n</html>\n";
    return std::move(out_);
  }

 private:
  void Select() {
    for (const StoredRecord& record : data_.records) {
      Row row;
      if (ReadRow(record, row)) continue;
      if (options_.from && row.time < *options_.from) continue;
      if (options_.to && row.time >= *options_.to) continue;
      if (!options_.station.empty() && row.station() != options_.station) continue;
      rows_.push_back(row);
    }
    std::stable_sort(rows_.begin(), rows_.end(), [](const Row& a, const Row& b) { return a.time < b.time; });
  }

  void Facts() {
    out_ += "<table class=\"facts\">\n";
    if (!rows_.empty()) {
      out_ += "<tr><th>Window</th><td><span id=\"first\">" + Utc(rows_.front().time) + "</span> to <span id=\"last\">" +
              Utc(rows_.back().time) + "</span> (the first and the last chip)</td></tr>\n";
    }
    if (options_.from || options_.to || !options_.station.empty()) {
      std::string asked;
      if (options_.from) asked += "from " + Utc(*options_.from) + " ";
      if (options_.to) asked += "before " + Utc(*options_.to) + " ";
      if (!options_.station.empty()) asked += "station " + Html(options_.station);
      out_ += "<tr><th>Asked for</th><td>" + asked + "</td></tr>\n";
    }
    out_ += "<tr><th>Sources</th><td>";
    for (size_t i = 0; i < data_.sources.size(); ++i) {
      out_ += (i ? "<br>" : "") + std::string("<span class=\"source\">") + Html(data_.sources[i]) + "</span>";
    }
    out_ += "</td></tr>\n";
    out_ += "<tr><th>Rows read</th><td id=\"rows-read\" class=\"n\">" + std::to_string(data_.rowsRead) + "</td></tr>\n";
    out_ += "<tr><th>Rows in the window</th><td id=\"rows-in-window\" class=\"n\">" + std::to_string(rows_.size()) +
            "</td></tr>\n";
    out_ += "<tr><th>Rows skipped</th><td id=\"rows-skipped\" class=\"n\">" + std::to_string(data_.rowsSkipped) +
            "</td></tr>\n";
    out_ += "</table>\n";
    if (data_.rowsSkipped) {
      out_ +=
          "<p class=\"note\">Skipped rows were cut short (a crash or a full disk while the row was written) or "
          "could not be read; they count nowhere below.</p>\n";
    }
  }

  // The fastest passed chip of each port, or the time given for all.
  std::optional<uint64_t> FloorMs(const PortKey& port) const {
    if (options_.floorMs) return options_.floorMs;
    auto it = fastest_.find(port);
    if (it == fastest_.end()) return std::nullopt;
    return it->second;
  }

  static std::string YieldCells(const std::string& scope, const Tally& tally) {
    return Cell(scope + " data-k=\"chips\" class=\"n\"", std::to_string(tally.chips())) +
           Cell(scope + " data-k=\"passed\" class=\"n\"", std::to_string(tally.passed)) +
           Cell(scope + " data-k=\"failed\" class=\"n\"", std::to_string(tally.failed)) +
           Cell(scope + " data-k=\"yield\" class=\"n\"", Percent(tally.passed, tally.chips()));
  }

  void Yield() {
    std::map<PortKey, Tally> ports;
    std::map<std::string, Tally> stations;
    Tally line;
    for (const Row& row : rows_) {
      const PortKey key{row.station(), std::string(row.Field(kPort))};
      ports[key].Add(row.passed);
      stations[row.station()].Add(row.passed);
      line.Add(row.passed);
      if (row.passed && row.elapsedMs > 0) {
        auto [it, added] = fastest_.emplace(key, row.elapsedMs);
        if (!added) it->second = std::min(it->second, row.elapsedMs);
      }
    }
    out_ += "<h2>Yield per station and port</h2>\n";
    out_ +=
        "<table id=\"yield\">\n<tr><th>Station</th><th>Port</th><th class=\"n\">Chips</th><th class=\"n\">Passed</th>"
        "<th class=\"n\">Failed</th><th class=\"n\">Yield %</th><th class=\"n\">Floor chip s</th></tr>\n";
    struct Bar {
      std::string label;
      Tally tally;
      bool sum = false;
    };
    std::vector<Bar> bars;
    for (const auto& [station, stationTally] : stations) {
      for (auto it = ports.lower_bound({station, ""}); it != ports.end() && it->first.first == station; ++it) {
        const std::string scope =
            "data-scope=\"port\" data-station=\"" + Html(station) + "\" data-port=\"" + Html(it->first.second) + "\"";
        const auto floor = FloorMs(it->first);
        out_ += "<tr><td>" + Html(station) + "</td><td>" + Html(it->first.second) + "</td>" +
                YieldCells(scope, it->second) +
                Cell(scope + " data-k=\"floor-s\" class=\"n\"", floor ? Seconds(*floor) : "-") + "</tr>\n";
        bars.push_back({station + "  " + it->first.second, it->second, false});
      }
      const std::string scope = "data-scope=\"station\" data-station=\"" + Html(station) + "\"";
      out_ += "<tr class=\"sum\"><td>" + Html(station) + "</td><td>all ports</td>" + YieldCells(scope, stationTally) +
              "<td></td></tr>\n";
      bars.push_back({station + "  (station)", stationTally, true});
    }
    out_ += "<tr class=\"sum\"><td>Line</td><td>all</td>" + YieldCells("data-scope=\"line\"", line) +
            "<td></td></tr>\n</table>\n";
    bars.push_back({"Line", line, true});

    uint64_t most = 1;
    for (const Bar& bar : bars) most = std::max(most, bar.tally.chips());
    const double rowHeight = 22, labelWidth = 380, barLeft = 390, barWidth = 440;
    const double height = 30 + rowHeight * static_cast<double>(bars.size());
    out_ += "<svg id=\"yield-chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"" + Svg(height) +
            "\" viewBox=\"0 0 960 " + Svg(height) +
            "\" role=\"img\" aria-label=\"chips per port, passed and failed\">\n";
    double y = 8;
    for (const Bar& bar : bars) {
      const double passW = barWidth * static_cast<double>(bar.tally.passed) / static_cast<double>(most);
      const double failW = barWidth * static_cast<double>(bar.tally.failed) / static_cast<double>(most);
      const std::string weight = bar.sum ? " font-weight=\"bold\"" : "";
      out_ += "<text x=\"" + Svg(labelWidth) + "\" y=\"" + Svg(y + 14) + "\" text-anchor=\"end\"" + weight + ">" +
              Html(Shortened(bar.label, 56)) + "</text>\n";
      out_ += "<rect x=\"" + Svg(barLeft) + "\" y=\"" + Svg(y + 3) + "\" width=\"" + Svg(passW) +
              "\" height=\"15\" fill=\"" + kPassColour + "\"/>\n";
      out_ += "<rect x=\"" + Svg(barLeft + passW) + "\" y=\"" + Svg(y + 3) + "\" width=\"" + Svg(failW) +
              "\" height=\"15\" fill=\"" + kFailColour + "\"/>\n";
      out_ += "<text x=\"" + Svg(barLeft + passW + failW + 6) + "\" y=\"" + Svg(y + 14) + "\"" + weight + ">" +
              Percent(bar.tally.passed, bar.tally.chips()) + " % of " + std::to_string(bar.tally.chips()) + "</text>\n";
      y += rowHeight;
    }
    Legend(barLeft, y + 6, {{kPassColour, "passed"}, {kFailColour, "failed"}});
    out_ += "</svg>\n";
  }

  void Legend(double x, double y, std::vector<std::pair<const char*, const char*>> items, bool lastIsLine = false) {
    for (size_t i = 0; i < items.size(); ++i) {
      if (lastIsLine && i + 1 == items.size()) {
        out_ += "<line x1=\"" + Svg(x) + "\" y1=\"" + Svg(y + 6) + "\" x2=\"" + Svg(x + 16) + "\" y2=\"" + Svg(y + 6) +
                "\" stroke=\"" + items[i].first + "\" stroke-width=\"2.5\" stroke-dasharray=\"6 3\"/>\n";
      } else {
        out_ += "<rect x=\"" + Svg(x) + "\" y=\"" + Svg(y) + "\" width=\"12\" height=\"12\" fill=\"" + items[i].first +
                "\"/>\n";
      }
      out_ += "<text x=\"" + Svg(x + 20) + "\" y=\"" + Svg(y + 11) + "\">" + items[i].second + "</text>\n";
      x += 40 + 7.5 * static_cast<double>(std::string_view(items[i].second).size());
    }
  }

  void Hours() {
    struct Hour {
      Tally tally;
      std::set<PortKey> ports;
    };
    std::map<int64_t, Hour> hours;
    for (const Row& row : rows_) {
      const int64_t hour = row.time >= 0 ? row.time / 3600 : (row.time - 3599) / 3600;
      hours[hour].tally.Add(row.passed);
      hours[hour].ports.insert({row.station(), std::string(row.Field(kPort))});
    }
    // The hours between with no chip are part of the shift too; over a
    // month they would only crowd the chart.
    const int64_t firstHour = hours.begin()->first, lastHour = hours.rbegin()->first;
    if (lastHour - firstHour < 24 * 31) {
      for (int64_t h = firstHour; h <= lastHour; ++h) hours[h];
    }
    struct Bucket {
      int64_t hour;
      Tally tally;
      size_t ports;
      size_t withoutFloor;
      double floor;
    };
    std::vector<Bucket> buckets;
    size_t portsWithoutFloor = 0;
    for (const auto& [hour, h] : hours) {
      Bucket bucket{hour, h.tally, h.ports.size(), 0, 0};
      for (const PortKey& port : h.ports) {
        if (auto ms = FloorMs(port)) {
          bucket.floor += 3600000.0 / static_cast<double>(*ms);
        } else {
          ++bucket.withoutFloor;
        }
      }
      portsWithoutFloor += bucket.withoutFloor;
      buckets.push_back(bucket);
    }

    out_ += "<h2>Chips per hour against the floor</h2>\n<p class=\"note\" id=\"floor-basis\">";
    if (options_.floorMs) {
      out_ += "Floor chip time: " + Seconds(*options_.floorMs) + " s for every port (--floor-seconds).";
    } else {
      out_ += "Floor chip time: each port's fastest passed chip (the Floor chip s column above).";
    }
    out_ +=
        " An hour's floor is the chips the line would finish if every port that finished a chip in that hour "
        "ran back to back at its floor chip time: 3600 s / floor chip time, summed over those ports.";
    if (portsWithoutFloor) out_ += " Ports with no passed chip have no floor chip time and add nothing.";
    out_ += " Hours are UTC.</p>\n";

    double top = 1;
    for (const Bucket& b : buckets) top = std::max({top, static_cast<double>(b.tally.chips()), b.floor});
    const double step = NiceStep(top * 1.05);
    top = std::ceil(top * 1.05 / step) * step;
    const double left = 60, right = 20, plotTop = 16, plotHeight = 240, width = 960;
    const double plotWidth = width - left - right;
    const double slot = plotWidth / static_cast<double>(buckets.size());
    const auto Y = [&](double v) { return plotTop + plotHeight * (1 - v / top); };
    out_ +=
        "<svg id=\"hour-chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"340\" viewBox=\"0 0 "
        "960 340\" role=\"img\" aria-label=\"chips per hour, passed and failed, and the floor\">\n";
    for (double v = 0; v <= top + step / 2; v += step) {
      out_ += "<line x1=\"" + Svg(left) + "\" y1=\"" + Svg(Y(v)) + "\" x2=\"" + Svg(width - right) + "\" y2=\"" +
              Svg(Y(v)) + "\" stroke=\"#e0e0e0\"/>\n";
      out_ += "<text x=\"" + Svg(left - 6) + "\" y=\"" + Svg(Y(v) + 4) + "\" text-anchor=\"end\">" + Fixed(v, 0) +
              "</text>\n";
    }
    const size_t labelEvery = std::max<size_t>(1, (buckets.size() + 11) / 12);
    std::string floorPath;
    std::string lastDay;
    for (size_t i = 0; i < buckets.size(); ++i) {
      const Bucket& b = buckets[i];
      const double x = left + slot * static_cast<double>(i);
      const double barWidth = std::max(1.0, slot * 0.7);
      const double barX = x + (slot - barWidth) / 2;
      const double passTop = Y(static_cast<double>(b.tally.passed));
      const double failTop = Y(static_cast<double>(b.tally.chips()));
      out_ += "<rect x=\"" + Svg(barX) + "\" y=\"" + Svg(passTop) + "\" width=\"" + Svg(barWidth) + "\" height=\"" +
              Svg(Y(0) - passTop) + "\" fill=\"" + kPassColour + "\"/>\n";
      out_ += "<rect x=\"" + Svg(barX) + "\" y=\"" + Svg(failTop) + "\" width=\"" + Svg(barWidth) + "\" height=\"" +
              Svg(passTop - failTop) + "\" fill=\"" + kFailColour + "\"/>\n";
      if (slot >= 28 && b.tally.chips() > 0) {
        out_ += "<text x=\"" + Svg(x + slot / 2) + "\" y=\"" + Svg(failTop - 4) + "\" text-anchor=\"middle\">" +
                std::to_string(b.tally.chips()) + "</text>\n";
      }
      floorPath += (i ? " L" : "M") + Svg(x) + " " + Svg(Y(b.floor)) + " L" + Svg(x + slot) + " " + Svg(Y(b.floor));
      if (i % labelEvery == 0) {
        const std::string text = HourText(b.hour);
        out_ += "<text x=\"" + Svg(x + slot / 2) + "\" y=\"" + Svg(Y(0) + 16) + "\" text-anchor=\"middle\">" +
                text.substr(11) + "</text>\n";
        if (text.substr(0, 10) != lastDay) {
          lastDay = text.substr(0, 10);
          out_ += "<text x=\"" + Svg(x + slot / 2) + "\" y=\"" + Svg(Y(0) + 32) + "\" text-anchor=\"middle\">" +
                  lastDay + "</text>\n";
        }
      }
    }
    out_ += "<path d=\"" + floorPath + "\" fill=\"none\" stroke=\"" + kFloorColour +
            "\" stroke-width=\"2.5\" stroke-dasharray=\"6 3\"/>\n";
    out_ += "<line x1=\"" + Svg(left) + "\" y1=\"" + Svg(Y(0)) + "\" x2=\"" + Svg(width - right) + "\" y2=\"" +
            Svg(Y(0)) + "\" stroke=\"#555\"/>\n";
    Legend(left, 316, {{kPassColour, "passed"}, {kFailColour, "failed"}, {kFloorColour, "floor (chips per hour)"}},
           true);
    out_ += "</svg>\n";

    out_ +=
        "<table id=\"hours\">\n<tr><th>Hour (UTC)</th><th class=\"n\">Chips</th><th class=\"n\">Passed</th>"
        "<th class=\"n\">Failed</th><th class=\"n\">Ports</th><th class=\"n\">Floor chips/h</th>"
        "<th class=\"n\">Of the floor %</th></tr>\n";
    for (const Bucket& b : buckets) {
      const std::string hour = HourText(b.hour);
      const std::string scope = "data-hour=\"" + hour.substr(0, 10) + "T" + hour.substr(11, 2) + "\"";
      out_ += "<tr><td>" + hour + "</td>" +
              Cell(scope + " data-k=\"chips\" class=\"n\"", std::to_string(b.tally.chips())) +
              Cell(scope + " data-k=\"passed\" class=\"n\"", std::to_string(b.tally.passed)) +
              Cell(scope + " data-k=\"failed\" class=\"n\"", std::to_string(b.tally.failed)) +
              Cell(scope + " data-k=\"ports\" class=\"n\"", std::to_string(b.ports)) +
              Cell(scope + " data-k=\"floor\" class=\"n\"", Fixed(b.floor, 1)) +
              Cell("class=\"n\"",
                   b.floor > 0 ? Fixed(100.0 * static_cast<double>(b.tally.chips()) / b.floor, 1) : std::string("-")) +
              "</tr>\n";
    }
    out_ += "</table>\n";
  }

  void Failures() {
    struct Kind {
      uint64_t count = 0;
      std::map<std::string, uint64_t> statuses;
    };
    std::map<std::string, Kind> kinds;
    uint64_t failed = 0;
    for (const Row& row : rows_) {
      if (row.passed) continue;
      ++failed;
      const std::string name = row.Field(kFailure).empty() ? "unknown" : std::string(row.Field(kFailure));
      ++kinds[name].count;
      ++kinds[name].statuses[std::string(row.Field(kStatus))];
    }
    out_ += "<h2>Failures by kind</h2>\n";
    if (failed == 0) {
      out_ += "<p id=\"no-failures\">No chip failed.</p>\n";
      return;
    }
    std::vector<std::pair<std::string, const Kind*>> sorted;
    for (const auto& [name, kind] : kinds) sorted.emplace_back(name, &kind);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.second->count > b.second->count; });

    const double left = 60, right = 60, plotTop = 16, plotHeight = 220, width = 960;
    const double slot = (width - left - right) / static_cast<double>(sorted.size());
    const double most = static_cast<double>(sorted.front().second->count);
    const double step = NiceStep(most);
    const double top = std::max(step, std::ceil(most / step) * step);
    const auto Y = [&](double v) { return plotTop + plotHeight * (1 - v / top); };
    const auto YP = [&](double percent) { return plotTop + plotHeight * (1 - percent / 100); };
    out_ +=
        "<svg id=\"failure-chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"360\" "
        "viewBox=\"0 0 960 360\" role=\"img\" aria-label=\"failures by kind, most first, and the cumulative "
        "share\">\n";
    for (double v = 0; v <= top + step / 2; v += step) {
      out_ += "<line x1=\"" + Svg(left) + "\" y1=\"" + Svg(Y(v)) + "\" x2=\"" + Svg(width - right) + "\" y2=\"" +
              Svg(Y(v)) + "\" stroke=\"#e0e0e0\"/>\n<text x=\"" + Svg(left - 6) + "\" y=\"" + Svg(Y(v) + 4) +
              "\" text-anchor=\"end\">" + Fixed(v, 0) + "</text>\n";
    }
    for (int p = 0; p <= 100; p += 25) {
      out_ += "<text x=\"" + Svg(width - right + 6) + "\" y=\"" + Svg(YP(p) + 4) + "\" fill=\"" + kLineColour + "\">" +
              std::to_string(p) + " %</text>\n";
    }
    std::string line;
    uint64_t cumulative = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
      const uint64_t count = sorted[i].second->count;
      cumulative += count;
      const double x = left + slot * static_cast<double>(i);
      const double barWidth = slot * 0.6;
      const double barTop = Y(static_cast<double>(count));
      out_ += "<rect x=\"" + Svg(x + (slot - barWidth) / 2) + "\" y=\"" + Svg(barTop) + "\" width=\"" + Svg(barWidth) +
              "\" height=\"" + Svg(Y(0) - barTop) + "\" fill=\"" + kFailColour + "\"/>\n";
      out_ += "<text x=\"" + Svg(x + slot / 2) + "\" y=\"" + Svg(barTop - 4) + "\" text-anchor=\"middle\">" +
              std::to_string(count) + "</text>\n";
      out_ += "<text transform=\"translate(" + Svg(x + slot / 2) + " " + Svg(Y(0) + 14) +
              ") rotate(25)\" text-anchor=\"start\">" + Html(Shortened(sorted[i].first, 24)) + "</text>\n";
      const double percent = 100.0 * static_cast<double>(cumulative) / static_cast<double>(failed);
      line += (i ? " L" : "M") + Svg(x + slot / 2) + " " + Svg(YP(percent));
      out_ += "<circle cx=\"" + Svg(x + slot / 2) + "\" cy=\"" + Svg(YP(percent)) + "\" r=\"3.5\" fill=\"" +
              kLineColour + "\"/>\n";
    }
    out_ += "<path d=\"" + line + "\" fill=\"none\" stroke=\"" + kLineColour + "\" stroke-width=\"2\"/>\n";
    out_ += "<line x1=\"" + Svg(left) + "\" y1=\"" + Svg(Y(0)) + "\" x2=\"" + Svg(width - right) + "\" y2=\"" +
            Svg(Y(0)) + "\" stroke=\"#555\"/>\n</svg>\n";

    out_ +=
        "<table id=\"failures\">\n<tr><th>Failure</th><th class=\"n\">Chips</th><th class=\"n\">Of the failures "
        "%</th><th class=\"n\">Cumulative %</th><th>Most frequent status</th></tr>\n";
    cumulative = 0;
    for (const auto& [name, kind] : sorted) {
      cumulative += kind->count;
      const auto status = std::max_element(kind->statuses.begin(), kind->statuses.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
      const std::string scope = "data-failure=\"" + Html(name) + "\"";
      out_ += "<tr><td>" + Html(name) + "</td>" +
              Cell(scope + " data-k=\"count\" class=\"n\"", std::to_string(kind->count)) +
              Cell(scope + " data-k=\"share\" class=\"n\"", Percent(kind->count, failed)) +
              Cell(scope + " data-k=\"cumulative\" class=\"n\"", Percent(cumulative, failed)) +
              Cell(scope + " data-k=\"status\"", Html(status->first)) + "</tr>\n";
    }
    out_ += "<tr class=\"sum\"><td>All</td>" +
            Cell("data-failure=\"*\" data-k=\"count\" class=\"n\"", std::to_string(failed)) +
            "<td></td><td></td><td></td></tr>\n</table>\n";
  }

  // One series of numbers: how many, the span, what is missing in it.
  void Series(const std::string& name, std::vector<uint64_t> numbers, size_t unreadable) {
    std::sort(numbers.begin(), numbers.end());
    std::vector<uint64_t> twice;
    for (size_t i = 1; i < numbers.size(); ++i) {
      if (numbers[i] == numbers[i - 1] && (twice.empty() || twice.back() != numbers[i])) twice.push_back(numbers[i]);
    }
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<std::pair<uint64_t, uint64_t>> gaps;
    uint64_t missing = 0;
    for (size_t i = 1; i < numbers.size(); ++i) {
      if (numbers[i] - numbers[i - 1] > 1) {
        gaps.emplace_back(numbers[i - 1] + 1, numbers[i] - 1);
        missing += numbers[i] - numbers[i - 1] - 1;
      }
    }
    const std::string scope = "data-series=\"" + Html(name) + "\"";
    out_ += "<tr><td>" + Html(name) + "</td>" +
            Cell(scope + " data-k=\"spent\" class=\"n\"", std::to_string(numbers.size())) +
            Cell(scope + " data-k=\"lowest\" class=\"n\"", numbers.empty() ? "-" : std::to_string(numbers.front())) +
            Cell(scope + " data-k=\"highest\" class=\"n\"", numbers.empty() ? "-" : std::to_string(numbers.back())) +
            Cell(scope + " data-k=\"missing\" class=\"n\"", std::to_string(missing)) +
            Cell(scope + " data-k=\"twice\" class=\"n\"", std::to_string(twice.size())) +
            Cell(scope + " data-k=\"unreadable\" class=\"n\"", std::to_string(unreadable)) + "</tr>\n";
    if (!gaps.empty()) {
      serialDetails_ += "<p class=\"note\">" + Html(name) + ": missing ";
      for (size_t i = 0; i < gaps.size() && i < kListed; ++i) {
        const auto [low, high] = gaps[i];
        const std::string text = low == high ? std::to_string(low) : std::to_string(low) + "-" + std::to_string(high);
        serialDetails_ +=
            (i ? ", " : "") + std::string("<span ") + scope + " data-gap=\"" + text + "\">" + text + "</span>";
      }
      if (gaps.size() > kListed) serialDetails_ += " and " + std::to_string(gaps.size() - kListed) + " gaps more";
      serialDetails_ += "</p>\n";
    }
    if (!twice.empty()) {
      serialDetails_ += "<p class=\"note\">" + Html(name) + ": given to more than one chip: ";
      for (size_t i = 0; i < twice.size() && i < kListed; ++i) {
        serialDetails_ += (i ? ", " : "") + std::string("<span ") + scope + " data-twice=\"" +
                          std::to_string(twice[i]) + "\">" + std::to_string(twice[i]) + "</span>";
      }
      if (twice.size() > kListed) serialDetails_ += " and " + std::to_string(twice.size() - kListed) + " more";
      serialDetails_ += "</p>\n";
    }
  }

  void Serials() {
    std::vector<const Row*> failedWithNumber;
    for (const Row& row : rows_) {
      if (!row.passed && !row.Field(kSerial).empty()) failedWithNumber.push_back(&row);
    }
    const char* head =
        "<table id=\"serials\">\n<tr><th>Series</th><th class=\"n\">Spent</th><th class=\"n\">Lowest</th>"
        "<th class=\"n\">Highest</th><th class=\"n\">Missing</th><th class=\"n\">Given twice</th>"
        "<th class=\"n\">Unreadable</th></tr>\n";
    if (!data_.spentFromDatabase) {
      std::vector<uint64_t> numbers;
      size_t unreadable = 0;
      for (const Row& row : rows_) {
        if (row.Field(kSerial).empty()) continue;
        const auto number = SerialNumber(*ParseHexBytes(row.Field(kSerial)), options_.serialEncoding);
        if (number) {
          numbers.push_back(*number);
        } else {
          ++unreadable;
        }
      }
      if (numbers.empty() && unreadable == 0) return;
      out_ +=
          "<h2>Serial numbers</h2>\n<p class=\"note\" id=\"serial-basis\">From the record's serial column, its "
          "bytes read as " +
          std::string(EncodingName(options_.serialEncoding)) + " (--serial-encoding).</p>\n" + head;
      Series("serial", std::move(numbers), unreadable);
    } else {
      std::map<std::string, std::vector<uint64_t>> series;
      for (const SpentSerial& spent : data_.spent) {
        if (!options_.station.empty() && spent.station != options_.station) continue;
        const auto time = ParseUtcTime(spent.timeUtc);
        if (time && options_.from && *time < *options_.from) continue;
        if (time && options_.to && *time >= *options_.to) continue;
        series[spent.series].push_back(spent.number);
      }
      if (series.empty() && failedWithNumber.empty()) return;
      out_ +=
          "<h2>Serial numbers</h2>\n<p class=\"note\" id=\"serial-basis\">From the database's spent numbers, "
          "by series.</p>\n" +
          std::string(head);
      for (auto& [name, numbers] : series) Series(name, std::move(numbers), 0);
    }
    out_ += "</table>\n" + serialDetails_;
    // A number streamed is spent, whatever became of the chip.
    out_ += "<p class=\"note\">Failed chips that spent a number: <span id=\"failed-spent\">" +
            std::to_string(failedWithNumber.size()) + "</span></p>\n";
    if (failedWithNumber.empty()) return;
    out_ += "<ul class=\"list\">\n";
    for (size_t i = 0; i < failedWithNumber.size() && i < kListed; ++i) {
      const Row& row = *failedWithNumber[i];
      out_ += "<li>" + Utc(row.time) + " " + Html(row.station()) + " " + Html(row.Field(kPort)) + ": " +
              Html(row.Field(kSerial)) + " (" + Html(row.Field(kFailure).empty() ? "unknown" : row.Field(kFailure)) +
              ")</li>\n";
    }
    if (failedWithNumber.size() > kListed) {
      out_ += "<li>and " + std::to_string(failedWithNumber.size() - kListed) + " more</li>\n";
    }
    out_ += "</ul>\n";
  }

  void CodeFiles() {
    std::map<std::tuple<std::string, std::string, std::string>, Tally> files;
    for (const Row& row : rows_) {
      files[{std::string(row.Field(kChip)), std::string(row.Field(kCodeFile)), std::string(row.Field(kFileChecksum))}]
          .Add(row.passed);
    }
    out_ +=
        "<h2>Chips and code files</h2>\n<table id=\"code-files\">\n<tr><th>Chip</th><th>Code file</th>"
        "<th>File checksum</th><th class=\"n\">Chips</th><th class=\"n\">Passed</th></tr>\n";
    for (const auto& [key, tally] : files) {
      const auto& [chip, file, checksum] = key;
      out_ += "<tr><td>" + Html(chip) + "</td><td class=\"code-file\">" + Html(file) + "</td><td>" + Html(checksum) +
              "</td><td class=\"n\">" + std::to_string(tally.chips()) + "</td><td class=\"n\">" +
              std::to_string(tally.passed) + "</td></tr>\n";
    }
    out_ += "</table>\n";
  }

  const ReportData& data_;
  const ReportOptions& options_;
  std::vector<Row> rows_;
  std::map<PortKey, uint64_t> fastest_;
  std::string serialDetails_;
  std::string out_;
};

}  // namespace

std::optional<int64_t> ParseUtcTime(std::string_view text) {
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (text.size() != 10 && text.size() != 16 && text.size() != 20) return std::nullopt;
  if (!ReadDigits(text, 0, 4, year) || text[4] != '-' || !ReadDigits(text, 5, 2, month) || text[7] != '-' ||
      !ReadDigits(text, 8, 2, day)) {
    return std::nullopt;
  }
  if (text.size() > 10) {
    if (text[10] != 'T' || !ReadDigits(text, 11, 2, hour) || text[13] != ':' || !ReadDigits(text, 14, 2, minute)) {
      return std::nullopt;
    }
    if (text.size() == 20 && (text[16] != ':' || !ReadDigits(text, 17, 2, second) || text[19] != 'Z')) {
      return std::nullopt;
    }
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                            std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return sys_days(date).time_since_epoch().count() * int64_t{86400} + hour * 3600 + minute * 60 + second;
}

std::optional<std::string> AddRecordFile(const std::string& path, std::string_view text, ReportData& data) {
  data.sources.push_back(path);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a spreadsheet's byte order mark
  CsvTable table = ParseCsv(text);
  // Each row ends with its line end: a last row without one was cut short.
  if (table.tornTail) ++data.rowsSkipped;
  if (!table.tornTail && !text.empty() && text.back() != '\n' && text.back() != '\r' && !table.rows.empty()) {
    table.rows.pop_back();
    table.lines.pop_back();
    ++data.rowsSkipped;
  }
  if (table.rows.empty()) return std::nullopt;

  const auto& columns = RecordColumns();
  const std::vector<std::string>& header = table.rows.front();
  std::vector<size_t> into;  // each of the file's columns: where it goes, or npos
  std::set<size_t> named;
  for (const std::string& name : header) {
    const size_t column = Column(name);
    if (column < columns.size() && !named.insert(column).second) {
      return path + ":" + std::to_string(table.lines.front()) + ": the column \"" + name + "\" is named twice";
    }
    into.push_back(column < columns.size() ? column : std::string::npos);
  }
  for (const char* needed : {"time", "port", "result"}) {
    if (!named.count(Column(needed))) {
      return path + ":" + std::to_string(table.lines.front()) + ": no record file: its header has no \"" + needed +
             "\" column";
    }
  }
  // Rows appended to a file an older version began have the newer columns
  // beyond its header.
  const bool olderHeader = header.size() < columns.size() && std::equal(header.begin(), header.end(), columns.begin());
  const std::string station = StationOfFile(path);
  bool inOrder = true;
  for (size_t k = 0; k < into.size(); ++k) inOrder = inOrder && into[k] == k;
  for (size_t i = 1; i < table.rows.size(); ++i) {
    std::vector<std::string>& fields = table.rows[i];
    if (fields.size() == 1 && fields.front().empty()) continue;  // a blank line
    // The writer ends a torn row before the next, so it stays a row of its
    // own, short of fields.
    if (fields.size() != header.size() && !(olderHeader && fields.size() == columns.size())) {
      ++data.rowsSkipped;
      continue;
    }
    StoredRecord record{station, table.lines[i], {}};
    if (inOrder && fields.size() == columns.size()) {
      record.fields = std::move(fields);
    } else {
      record.fields.resize(columns.size());
      for (size_t k = 0; k < fields.size(); ++k) {
        const size_t column = k < into.size() ? into[k] : k;
        if (column != std::string::npos) record.fields[column] = std::move(fields[k]);
      }
      std::vector<std::string>().swap(fields);  // a year of rows is held twice otherwise
    }
    Row row;
    if (auto problem = ReadRow(record, row)) return path + ":" + std::to_string(table.lines[i]) + ": " + *problem;
    data.records.push_back(std::move(record));
    ++data.rowsRead;
  }
  return std::nullopt;
}

std::optional<std::string> ReportFromDatabase(LineDatabase& database, const RecordQuery& query,
                                              const std::string& source, ReportData& data) {
  data.sources.push_back(source);
  data.spentFromDatabase = true;
  DbResult result = database.Open();
  std::vector<StoredRecord> records;
  if (result.delivered()) result = database.Records(query, records);
  if (result.delivered()) result = database.Spent(query, data.spent);
  if (!result.delivered())
    return source + ": " + (result.message.empty() ? "the database did not answer" : result.message);
  for (StoredRecord& record : records) {
    Row row;
    if (ReadRow(record, row)) {
      ++data.rowsSkipped;
      continue;
    }
    data.records.push_back(std::move(record));
    ++data.rowsRead;
  }
  return std::nullopt;
}

std::string ReportHtml(const ReportData& data, const ReportOptions& options) { return Page(data, options).Build(); }

}  // namespace kovra::cli
