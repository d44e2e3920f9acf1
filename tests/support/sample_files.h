// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace kovra::test {

// A fresh folder for one test's files, removed afterwards.
class TempDir {
 public:
  TempDir() {
    // Named after the test when there is one (the benchmarks use it too).
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string owner =
        info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : std::string("run");
    path_ = std::filesystem::temp_directory_path() /
            ("kovra-" + owner + "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string Write(const std::string& name, std::string_view contents) const {
    const auto file = path_ / name;
    std::ofstream(file, std::ios::binary) << contents;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// Intel HEX of `size` bytes (a multiple of 16) of a distinctive pattern
// from address 0, each line with its checksum, and an end record.
inline std::string SampleHex(uint32_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  auto hex2 = [](uint32_t b) { return std::string{kDigits[(b >> 4) & 0xF], kDigits[b & 0xF]}; };
  std::string out;
  for (uint32_t a = 0; a < size; a += 16) {
    uint32_t sum = 16 + (a >> 8) + a;
    out += ":10" + hex2(a >> 8) + hex2(a) + "00";
    for (uint32_t i = 0; i < 16; ++i) {
      const uint32_t b = ((a + i) * 7 + 3) & 0xFF;
      out += hex2(b);
      sum += b;
    }
    out += hex2(0x100 - (sum & 0xFF)) + "\n";
  }
  return out + ":00000001FF\n";
}

}  // namespace kovra::test
