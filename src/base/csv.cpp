// SPDX-License-Identifier: MIT
#include "base/csv.h"

namespace kovra {

CsvTable ParseCsv(std::string_view text) {
  CsvTable table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  bool rowStarted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    rowStarted = true;
    if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(std::move(field));
      field.clear();
      table.rows.push_back(std::move(row));
      row.clear();
      rowStarted = false;
    } else {
      field += c;
    }
  }
  if (quoted) {
    table.tornTail = true;
  } else if (rowStarted) {
    row.push_back(std::move(field));
    table.rows.push_back(std::move(row));
  }
  return table;
}

std::string FormatCsvRow(const std::vector<std::string>& fields) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += ',';
    const std::string& field = fields[i];
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      row += field;
      continue;
    }
    row += '"';
    for (char c : field) {
      if (c == '"') row += '"';
      row += c;
    }
    row += '"';
  }
  return row;
}

}  // namespace kovra
