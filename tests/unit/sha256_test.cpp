// SPDX-License-Identifier: MIT
#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "support/sample_files.h"

namespace kovra {
namespace {

TEST(Sha256, MatchesTheNistVectorsInMemoryAndFromFiles) {
  struct Case {
    std::string message;
    const char* want;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
       "rstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      // Past the file reader's 64 KiB chunks.
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const std::string shown = c.message.substr(0, 16);
    EXPECT_EQ(Sha256Hex(c.message), c.want) << shown;
    EXPECT_EQ(Sha256HexOfFile(dir.Write("message", c.message)), c.want) << shown;
  }
  EXPECT_EQ(Sha256HexOfFile(dir.path() / "missing"), std::nullopt);
  EXPECT_EQ(Sha256HexOfFile(dir.path()), std::nullopt);
}

}  // namespace
}  // namespace kovra
