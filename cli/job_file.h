// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kovra::cli {

enum class SerialEncoding { kBcd, kBinary };

// Serial numbers written into each chip: a range, or the keys of a list
// file taken in turn.
struct JobSerial {
  uint32_t address = 0;
  int width = 0;  // bytes from address
  SerialEncoding encoding = SerialEncoding::kBcd;
  uint64_t first = 0;
  uint64_t step = 1;
  std::optional<uint64_t> last;
  std::optional<std::string> list;
  std::string journal;
  std::optional<std::string> block;  // the block of numbers this PC takes
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
