// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kovra {

// SHA-256 (FIPS 180-4), fed in pieces of any size.
class Sha256 {
 public:
  Sha256();
  void Update(std::span<const uint8_t> bytes);
  // The digest as 64 lower-case hexadecimal digits; the object is spent.
  std::string FinishHex();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  size_t pendingSize_ = 0;
  uint64_t length_ = 0;
};

std::string Sha256Hex(std::span<const uint8_t> bytes);
std::string Sha256Hex(std::string_view bytes);

// Read in chunks, so that a large file never sits in memory. Nothing for a
// file that cannot be read, or that is no regular file: a pipe or a device
// could be read for ever.
std::optional<std::string> Sha256HexOfFile(const std::filesystem::path& path);

}  // namespace kovra
