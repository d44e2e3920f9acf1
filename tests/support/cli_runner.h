// SPDX-License-Identifier: MIT
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/sample_files.h"

namespace kovra::test {

// What the built kovra-cli printed and how it ended.
struct CliResult {
  int status;
  std::string out;
  std::string err;
};

// Runs the built kovra-cli with args, as a shell passes them.
inline CliResult Cli(const std::string& args) {
  TempDir errDir;
  const std::string errFile = (errDir.path() / "err").string();
  const std::string command = std::string(KOVRA_CLI_PATH) + " " + args + " 2>" + errFile;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err.str()};
}

}  // namespace kovra::test
