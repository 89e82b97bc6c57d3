#include "codec/Number.h"

#include <gtest/gtest.h>

using namespace kv;

TEST(TextToFloat, PointDecimalsOnly)
{
    EXPECT_EQ(TextToFloat("21"), 21.0);
    EXPECT_EQ(TextToFloat("1.5"), 1.5);
    EXPECT_EQ(TextToFloat(".5"), 0.5);
    EXPECT_EQ(TextToFloat("-3"), -3.0);
    EXPECT_EQ(TextToFloat("+7"), 7.0);
    EXPECT_EQ(TextToFloat(" 99 "), 99.0);
    EXPECT_EQ(TextToFloat("1e2"), 100.0);
    for (const char* bad : {"", " ", "1,5", "abc", "inf", "nan", "-", ".", "1.5x", "21\r", "0x10", "1e999"})
        EXPECT_FALSE(TextToFloat(bad).has_value()) << '"' << bad << '"';
}

TEST(TextToInt, WholeDecimalNumbersOnly)
{
    EXPECT_EQ(TextToInt("0"), 0);
    EXPECT_EQ(TextToInt("12"), 12);
    EXPECT_EQ(TextToInt("-4"), -4);
    EXPECT_EQ(TextToInt(" 3"), 3);
    for (const char* bad : {"", "1.0", "x", "3a", "\"3\"", "99999999999999999999"})
        EXPECT_FALSE(TextToInt(bad).has_value()) << '"' << bad << '"';
}
