// SPDX-License-Identifier: MIT
#include "base/outcome.h"

#include <algorithm>
#include <iterator>

namespace kovra {
namespace {

constexpr struct {
  Failure failure;
  const char* name;
} kFailureNames[] = {
    {Failure::kNone, ""},
    {Failure::kNotBlank, "not-blank"},
    {Failure::kVerifyFailed, "verify-failed"},
    {Failure::kProgramChecksum, "program-checksum"},
    {Failure::kVoltageFault, "voltage-fault"},
    {Failure::kSettingFailed, "setting-failed"},
    {Failure::kMemoryDiffers, "memory-differs"},
    {Failure::kFileError, "file-error"},
    {Failure::kLinkLost, "link-lost"},
    {Failure::kRefused, "refused"},
    {Failure::kInterrupted, "interrupted"},
};

}  // namespace

const char* FailureName(Failure failure) {
  const auto* entry = std::find_if(std::begin(kFailureNames), std::end(kFailureNames),
                                   [failure](const auto& e) { return e.failure == failure; });
  return entry == std::end(kFailureNames) ? "" : entry->name;
}

}  // namespace kovra
