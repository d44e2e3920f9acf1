// SPDX-License-Identifier: MIT
// Any file contents: the chip table stays within its fixed sizes and holds
// no lower-case letter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "chips/chip_list.h"

namespace {

void Check(const std::string& field, size_t max, bool mayBeEmpty) {
  if (field.size() > max || (!mayBeEmpty && field.empty())) std::abort();
  for (char c : field) {
    if ((c >= 'a' && c <= 'z') || c == '\0' || c == '\n') std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto rows = kovra::ParseChipList(std::string_view(reinterpret_cast<const char*>(data), size));
  if (rows.size() > kovra::kChipRows) std::abort();
  for (const kovra::ChipRecord& r : rows) {
    Check(r.name, kovra::kChipNameMax, false);
    for (const std::string* f : {&r.memoryType, &r.spare, &r.vpp, &r.vdd}) Check(*f, kovra::kChipFieldMax, true);
  }
  return 0;
}
