// SPDX-License-Identifier: MIT
#include "base/csv.h"

namespace kovra {

CsvTable ParseCsv(std::string_view text) {
  CsvTable table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  bool rowStarted = false;
  size_t line = 1;
  size_t rowLine = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
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
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
        ++line;
      }
      row.push_back(std::move(field));
      field.clear();
      table.rows.push_back(std::move(row));
      table.lines.push_back(rowLine);
      rowLine = line;
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
    table.lines.push_back(rowLine);
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
