// SPDX-License-Identifier: MIT
// kovra-cli: the programmer host for scripts and production lines: code
// files and chip lists, and one or many programmers driven at once.
// Output is UTF-8, one "key: value" per line.
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_helpers.h"
#include "cli/commands.h"

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(kovra::PathText(std::filesystem::path(argv[i])));
  return kovra::cli::Run(std::move(args));
}
#else
int main(int argc, char** argv) { return kovra::cli::Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
