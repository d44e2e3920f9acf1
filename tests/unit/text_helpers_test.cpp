// SPDX-License-Identifier: MIT
#include "base/text_helpers.h"

#include <gtest/gtest.h>

namespace kovra {
namespace {

TEST(HexToNumber, ReadsEachBaseAndRejectsForeignDigits) {
  struct Case {
    const char* text;
    int base;
    uint32_t want;
  } cases[] = {
      {"", 16, 0},
      {"0", 16, 0},
      {"1G", 16, kBadNumber},
      {"ff", 16, 0xFF},
      {"7FFF", 16, 0x7FFF},
      {"FFFFFFFF", 16, 0xFFFFFFFF},
      {"100000000", 16, 0},  // wraps modulo 2^32
      {"1010", 2, 10},
      {"12", 2, kBadNumber},
      {"4294967295", 10, 0xFFFFFFFF},
      {"9A", 10, kBadNumber},
      {" 1", 16, kBadNumber},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexToNumber(c.text, c.base), c.want) << c.text << " base " << c.base;
  }
}

TEST(NumberToText, PadsWithoutCuttingDigits) {
  EXPECT_EQ(NumberToText(0, 16, 4), "0000");
  EXPECT_EQ(NumberToText(0, 16, 0), "0");
  EXPECT_EQ(NumberToText(0x12345, 16, 4), "12345");
  EXPECT_EQ(NumberToText(0xabc, 16, 4), "0ABC");
  EXPECT_EQ(NumberToText(5, 2, 0), "101");
  EXPECT_EQ(NumberToText(123, 10, 6), "000123");
  EXPECT_EQ(NumberToText(0xFFFFFFFF, 16, 4), "FFFFFFFF");
  EXPECT_EQ(NumberToText(0xFFFFFFFF, 2, 0), std::string(32, '1'));
  // The end of a walk over the whole memory is one past it.
  EXPECT_EQ(Hex5(0xABC), "00ABC");
  EXPECT_EQ(Hex5(0x100000), "100000");
}

TEST(FitDigits, PadsOrKeepsTheTail) {
  EXPECT_EQ(FitDigits("7", 4), "0007");
  EXPECT_EQ(FitDigits("123456", 5), "23456");
  EXPECT_EQ(FitDigits("", 2), "00");
  EXPECT_EQ(FitDigits(std::string(40, '1'), 4), "1111");
  EXPECT_EQ(FitDigits(std::string(41, '1'), 4), "");
}

TEST(AllCharsIn, EmptyTextIsInAnySet) {
  EXPECT_TRUE(AllCharsIn("", "abc"));
  EXPECT_TRUE(AllCharsIn("0400000012345678E8\r\n", HexDigitSet));
  EXPECT_FALSE(AllCharsIn("0400000012345678E8 ", HexDigitSet));
  EXPECT_FALSE(AllCharsIn("G", HexDigitSet));
}

}  // namespace
}  // namespace kovra
