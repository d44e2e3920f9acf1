// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// RFC 4180 text (CRLF or LF line ends, quoted fields with doubled quotes and
// line breaks inside) as rows of fields. A last row cut short inside its
// quotes is not among the rows: it never ended.
struct CsvTable {
  std::vector<std::vector<std::string>> rows;
  std::vector<size_t> lines{};  // the line each row starts on, from 1, for messages
  bool tornTail = false;        // the text ended inside a quoted field
};
CsvTable ParseCsv(std::string_view text);

// One row, fields quoted where CSV needs it, without a line end.
std::string FormatCsvRow(const std::vector<std::string>& fields);

}  // namespace kovra
