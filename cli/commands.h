#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A command that talks to programmers; its arguments follow its name.
using LineCommand = int (*)(const std::vector<std::string>& args);
// nullptr for a name that is none of them.
LineCommand FindLineCommand(std::string_view name);

}  // namespace kovra::cli
