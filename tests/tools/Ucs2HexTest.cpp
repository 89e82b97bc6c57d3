// The simulator's own UTF-8 / UCS2 hex conversions and the escapes of its control channel.
#include "tools/modemsim/Ucs2Hex.h"

#include <gtest/gtest.h>

using namespace kv::modemsim;

namespace {

TEST(Ucs2Hex, EncodesUtf8AsUtf16UnitsAndReplacesMalformedInput)
{
    EXPECT_EQ(Utf8ToUcs2Hex(""), "");
    EXPECT_EQ(Utf8ToUcs2Hex("A z"), "00410020007A");
    EXPECT_EQ(Utf8ToUcs2Hex("Яё°"), "042F045100B0");
    EXPECT_EQ(Utf8ToUcs2Hex("\xF0\x9F\x98\x80"), "D83DDE00") << "beyond the BMP: a surrogate pair";
    EXPECT_EQ(Utf8ToUcs2Hex("\xFF"), "FFFD");
    EXPECT_EQ(Utf8ToUcs2Hex("\xC0\xAF"), "FFFDFFFD") << "overlong form";
    EXPECT_EQ(Utf8ToUcs2Hex("\xED\xA0\x80"), "FFFDFFFDFFFD") << "encoded surrogate";
    EXPECT_EQ(Utf8ToUcs2Hex("a\xD0"), "0061FFFD") << "cut short";
}

TEST(Ucs2Hex, DecodesWholeGroupsOnly)
{
    EXPECT_EQ(Ucs2HexToUtf8("041F0440043804320435044200200021"), "Привет !");
    EXPECT_EQ(Ucs2HexToUtf8("043f"), "п") << "either case";
    EXPECT_EQ(Ucs2HexToUtf8("D83DDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Ucs2HexToUtf8("D83D0041"), "\xEF\xBF\xBD" "A") << "lone high surrogate";
    EXPECT_EQ(Ucs2HexToUtf8(""), "");
    EXPECT_EQ(Ucs2HexToUtf8("041"), std::nullopt);
    EXPECT_EQ(Ucs2HexToUtf8("04G0"), std::nullopt);
    EXPECT_EQ(Ucs2HexToUtf8("*100#000"), std::nullopt);
}

TEST(Ucs2Hex, PlainFormAndEscapes)
{
    EXPECT_EQ(Utf8ToIra("Тест ok"), "???? ok");
    EXPECT_EQ(EscapeBytes("a\r\n\x1a\\\x7f\xd0"), "a\\r\\n\\x1a\\\\\\x7f\\xd0");
    EXPECT_EQ(EscapeText("Тест\n\xff"), "Тест\\n\\xff") << "valid UTF-8 passes, stray bytes do not";
    EXPECT_EQ(UnescapeText("a\\nb\\\\c\\x41\\x4"), "a\nb\\cA\\x4");
    const std::string odd = std::string("line\r\n\x01\\end\x1a", 12);
    EXPECT_EQ(UnescapeText(EscapeBytes(odd)), odd);
}

} // namespace
