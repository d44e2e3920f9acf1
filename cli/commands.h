// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kovra::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The arguments of every command; a command fills those it declares.
struct Inputs {
  std::string file;  // the code file; chips: the list; read-hex: the file it writes
  std::string out;   // save-hex: the file it writes
  std::optional<uint32_t> start;
  std::optional<uint32_t> end;
  bool fillZero = false;
  std::optional<std::string> dump;
  std::vector<std::string> ports;
  std::optional<std::string> chips;
  std::optional<std::string> chip;
  std::optional<std::vector<std::string>> steps;
  std::optional<uint32_t> expectChecksum;
  std::optional<std::string> record;
  std::optional<std::string> serial;         // ADDRESS:WIDTH:ENCODING:FIRST:STEP:LAST
  std::optional<std::string> serialList;     // ADDRESS:WIDTH:FILE
  std::optional<std::string> serialJournal;  // the numbers spent
  std::optional<std::string> jobFile;        // program --job, job check
  std::optional<std::string> station;        // the station a database record is written as, or reported on
  std::optional<std::string> journal;        // and its journal
  std::optional<uint32_t> serialBlock;       // numbers leased from the database at a time
  int count = 1;
  bool json = false;      // one JSON object a line instead of "key: value"
  bool progress = false;  // with json: the operations' progress too
  // report: record files or odbc: sources, and what to report on.
  std::vector<std::string> records{};
  std::optional<std::string> from{};
  std::optional<std::string> to{};
  std::optional<std::string> floorSeconds{};
  std::optional<std::string> serialEncoding{};
  std::optional<std::string> output{};
};

// kovra-cli with its arguments (UTF-8, the program's name left out); the
// exit status.
int Run(std::vector<std::string> args);

// Arguments that cannot be done as asked: one "error:" line and exit
// status 2, before anything is sent to a programmer.
struct Refusal {
  std::string message;
};

// One "key: value" line on standard output.
void Print(std::string_view key, std::string_view value);
// A message box on one line: its caption, one colon, its text.
std::string MessageLine(const std::string& caption, const std::string& text);
// Refuses anything but a regular file: a pipe would be waited on, a device
// read or written for ever. mayBeNew: a missing file is made later, in a
// folder that must exist.
void RequireRegularFile(const std::string& what, const std::string& path, bool mayBeNew);
// The chip list when --chips is not given: an installed kovra-cli
// (PREFIX/bin) reads PREFIX/share/kovra's, one anywhere else the list
// beside it.
std::string DefaultChipList();

// The commands that need no programmer.
int Load(const Inputs& in);
int SaveHex(const Inputs& in);
int Chips(const Inputs& in);
int Report(const Inputs& in);

}  // namespace kovra::cli
