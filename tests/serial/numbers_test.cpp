// Number reading and ASCII case folding, where the tools' copies disagreed:
// the simulator refused more than ten digits, the tools folded case through
// the C locale.
#include "serial/numbers.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "serial/ascii.h"

namespace serial {
namespace {

TEST(SerialNumbers, DecimalOrHexUpToTheLimit) {
  uint64_t v = 7;
  ASSERT_TRUE(ParseNumber("010", 100, &v));
  EXPECT_EQ(v, 10u);  // never octal
  ASSERT_TRUE(ParseNumber("0XfF", 255, &v));
  EXPECT_EQ(v, 255u);
  ASSERT_TRUE(ParseNumber("00000000000000000001", 1, &v));  // leading zeros are no overflow
  EXPECT_EQ(v, 1u);
  ASSERT_TRUE(ParseNumber("18446744073709551615", UINT64_MAX, &v));
  EXPECT_EQ(v, UINT64_MAX);
  ASSERT_TRUE(ParseNumber("0xFFFFFFFF", 0xFFFFFFFF, &v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  v = 7;
  for (const char* bad : {"", "0x", "x10", "-1", "+1", " 1", "1 ", "1a", "0x1g", "256", "0x100",
                          "18446744073709551616", "99999999999999999999999"})
    EXPECT_FALSE(ParseNumber(bad, 255, &v)) << bad;
  EXPECT_EQ(v, 7u);  // untouched by a refusal
  EXPECT_FALSE(ParseNumber("18446744073709551616", UINT64_MAX, &v));
  EXPECT_FALSE(ParseDecimal("0x10", 1000, &v));
  ASSERT_TRUE(ParseDecimal("4000000", 4000000, &v));
  EXPECT_EQ(v, 4000000u);
  EXPECT_FALSE(ParseDecimal("4000001", 4000000, &v));
}

TEST(SerialAscii, OnlyAsciiLettersFold) {
  EXPECT_TRUE(EqualsNoCase("UTF-8", "utf-8"));
  EXPECT_TRUE(EqualsNoCase("", ""));
  EXPECT_FALSE(EqualsNoCase("odd", "odd "));
  EXPECT_FALSE(EqualsNoCase("od", "odd"));
  EXPECT_FALSE(EqualsNoCase("\xc9", "\xe9"));  // Latin-1 E acute folds in some locales
  EXPECT_FALSE(EqualsNoCase("@", "`"));        // 0x40 and 0x60 are no letters
  EXPECT_FALSE(EqualsNoCase("[", "{"));
  EXPECT_EQ(LowerAscii("S19.SREC\xc9Z"), "s19.srec\xc9z");
  EXPECT_TRUE(StartsWithNoCase("Com12", "COM"));
  EXPECT_FALSE(StartsWithNoCase("CO", "COM"));
}

}  // namespace
}  // namespace serial
