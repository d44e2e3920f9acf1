// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/serial_number.h"

namespace kovra::cli {

// Serial numbers written into each chip: a range, or the values of a list
// file taken in turn.
struct JobSerial {
  uint32_t address = 0;
  int width = 0;                    // bytes from address
  std::optional<SerialRule> rule;   // a range, narrowed to this PC's block
  std::optional<std::string> list;  // else the list file
  std::string journal;              // empty when the record is a database, which leases the numbers
  // The block of the range this PC takes, when the PCs of a line share it.
  std::optional<std::string> block;
};

// A production setup as one TOML file holds it. Paths are resolved against
// the job file's folder; texts and paths are UTF-8.
struct JobFile {
  std::string path;
  std::string sha256;  // of the job file itself, for the records

  std::string codeFile;
  std::string codeSha256;  // lower case
  std::string chip;
  std::optional<std::string> chipList;
  std::optional<uint16_t> expectChecksum;
  std::optional<std::vector<std::string>> steps;
  std::vector<std::string> ports;
  std::optional<std::string> record;
  std::vector<std::string> allowOverride;  // "ports", "record", "count", "steps"
  std::optional<JobSerial> serial;
};

// The job, or why it is refused: "FILE:LINE: what", naming the key.
std::variant<JobFile, std::string> ReadJobFile(const std::string& path);

// Why the code file is not the one the job was made for, if it is not.
std::optional<std::string> CheckCodeFile(const JobFile& job);

}  // namespace kovra::cli
