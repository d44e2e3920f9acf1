// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kovra {

// The folder of the running program's executable. A program that was
// copied or unpacked instead of installed keeps its chip list there.
class ProgramFolder {
 public:
  virtual ~ProgramFolder() = default;
  // UTF-8; nullopt when the system cannot tell.
  virtual std::optional<std::string> Path() = 0;
};

// A folder set from outside, none at first: kovra-cli (which never looks
// for the chip list this way) and the tests.
class FixedProgramFolder : public ProgramFolder {
 public:
  std::optional<std::string> Path() override { return path_; }
  void Set(std::optional<std::string> path) { path_ = std::move(path); }

 private:
  std::optional<std::string> path_;
};

}  // namespace kovra
