#include "codec/Ucs2.h"
#include "data/Text.h"
#include "tests/support/Cp1251.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace kv;
using namespace kv::literals;

namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string HexOf(std::string_view ucs2be)
{
    std::string out;
    char buf[3];
    for (const char c : ucs2be) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

// Every byte the codec claims to map faithfully: ASCII 0x01-0x7E, Ё, ё, А..я.
std::vector<unsigned char> FaithfulBytes()
{
    std::vector<unsigned char> out;
    for (unsigned b = 0x01; b <= 0x7E; ++b)
        out.push_back(static_cast<unsigned char>(b));
    out.push_back(0xA8);
    out.push_back(0xB8);
    for (unsigned b = 0xC0; b <= 0xFF; ++b)
        out.push_back(static_cast<unsigned char>(b));
    return out;
}

} // namespace

TEST(Ucs2HexToText, DecodesWordsDigitsAndYo)
{
    EXPECT_EQ(Ucs2HexToText("041F04400438043204350442"), Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}));
    EXPECT_EQ(Ucs2HexToText("041F04400438043204350442"), "Привет"_cp);
    EXPECT_EQ(Ucs2HexToText("04010451"), Bytes({0xA8, 0xB8}));
    EXPECT_EQ(Ucs2HexToText("0030003100320033"), "0123");
    EXPECT_EQ(Ucs2HexToText("002B0037"), "+7");
    EXPECT_EQ(Ucs2HexToText("002b0037"), "+7");
    EXPECT_EQ(Ucs2HexToText("0000"), " ");
    EXPECT_EQ(Ucs2HexToText(""), "");
}

TEST(Ucs2HexToText, ShortLastGroupIsReadAndALoneLastDigitIgnored)
{
    EXPECT_EQ(Ucs2HexToText("041"), "A");
    EXPECT_EQ(Ucs2HexToText("04"), std::string(1, '\x04'));
    EXPECT_EQ(Ucs2HexToText("04100"), "А"_cp);
    EXPECT_EQ(Ucs2HexToText("041004"), Str("А"_cp) + std::string(1, '\x04'));
    EXPECT_EQ(Ucs2HexToText("0"), "");
    // The lone digit is never part of a group, so it is not checked either.
    EXPECT_EQ(Ucs2HexToText("0410Z"), "А"_cp);
}

TEST(Ucs2HexToText, AnyNonHexCharacterFailsTheWholeText)
{
    for (const char* bad : {"04 10", "0410041G", "G410", "0410\r\n", "\"0410\"", "04-1", "+7", "0x41"})
        EXPECT_THROW(Ucs2HexToText(bad), EConvertError) << bad;
}

TEST(Ucs2HexToText, MapsOutsideTheAlphabetByFixedArithmeticInOrder)
{
    // Ё and ё are tested before the ranges that would otherwise take them.
    EXPECT_EQ(Ucs2HexToText("0401"), Bytes({0xA8}));
    EXPECT_EQ(Ucs2HexToText("0451"), Bytes({0xB8}));
    EXPECT_EQ(Ucs2HexToText("007F"), Bytes({0x7F}));
    EXPECT_EQ(Ucs2HexToText("00FF"), Bytes({0xFF}));
    EXPECT_EQ(Ucs2HexToText("0141"), "A");         // 0x0100-0x034F wrap to their low byte
    EXPECT_EQ(Ucs2HexToText("034F"), Bytes({0x4F}));
    EXPECT_EQ(Ucs2HexToText("0350"), Bytes({0x00})); // from 0x0350 the offset applies
    EXPECT_EQ(Ucs2HexToText("0400"), Bytes({0xB0}));
    EXPECT_EQ(Ucs2HexToText("040F"), Bytes({0x8F})); // Џ is in the code page
    EXPECT_EQ(Ucs2HexToText("040D"), Bytes({0xBD})); // Ѝ is not
    EXPECT_EQ(Ucs2HexToText("0450"), Bytes({0x00}));
    EXPECT_EQ(Ucs2HexToText("045D"), Bytes({0x0D}));
    EXPECT_EQ(Ucs2HexToText("045F"), Bytes({0x9F}));
    EXPECT_EQ(Ucs2HexToText("2116"), Bytes({0xB9})); // №
    EXPECT_EQ(Ucs2HexToText("2026"), Bytes({0x85})); // …
    EXPECT_EQ(Ucs2HexToText("FFFF"), Bytes({0xAF}));
}

TEST(TextToUcs2Hex, EncodesFourUpperCaseDigitsPerByte)
{
    EXPECT_EQ(TextToUcs2Hex("Привет"_cp), "041F04400438043204350442");
    EXPECT_EQ(TextToUcs2Hex(Bytes({0xA8, 0xB8})), "04010451");
    EXPECT_EQ(TextToUcs2Hex("0123"), "0030003100320033");
    EXPECT_EQ(TextToUcs2Hex("A "), "00410020");
    EXPECT_EQ(TextToUcs2Hex(std::string(1, '\0')), "0000");
    EXPECT_EQ(TextToUcs2Hex("*100#"), "002A0031003000300023");
    EXPECT_EQ(TextToUcs2Hex("яЯ"_cp), "044F042F");
    EXPECT_EQ(TextToUcs2Hex(""), "");
}

TEST(TextToUcs2Hex, BytesOutsideTheAlphabetRoundTripExceptNul)
{
    EXPECT_EQ(TextToUcs2Hex(Bytes({0x7F})), "007F");
    EXPECT_EQ(TextToUcs2Hex(Bytes({0x80})), "0402");
    EXPECT_EQ(TextToUcs2Hex(Bytes({0xBF})), "0457");
    EXPECT_EQ(TextToUcs2Hex(Bytes({0xB1})), "00B1");
    EXPECT_EQ(TextToUcs2Hex(Bytes({0xB9})), "2116");
    // 0x98 is no character: it goes out by the old arithmetic and comes back.
    EXPECT_EQ(TextToUcs2Hex(Bytes({0x98})), "03E8");
    EXPECT_EQ(TextToUcs2Hex("GSM-модем №1"_cp), "00470053004D002D043C043E04340435043C002021160031");
    EXPECT_EQ(Ucs2HexToText(TextToUcs2Hex("GSM-модем №1"_cp)), "GSM-модем №1"_cp);

    for (unsigned b = 0; b <= 0xFF; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string expected = b == 0x00 ? " " : one;
        EXPECT_EQ(Ucs2HexToText(TextToUcs2Hex(one)), expected) << "byte " << b;
    }
}

// The C library's own code page tables as an independent reference.
TEST(Ucs2Codec, AgreesWithIconvForEveryAsciiAndCyrillicCharacter)
{
    std::string all;
    for (const unsigned char b : FaithfulBytes()) {
        const std::string one(1, static_cast<char>(b));
        const std::string ucs2 = test::Iconv(one, "CP1251", "UCS-2BE");
        ASSERT_EQ(ucs2.size(), 2u);
        EXPECT_EQ(TextToUcs2Hex(one), HexOf(ucs2)) << "byte " << unsigned(b);
        EXPECT_EQ(Ucs2HexToText(HexOf(ucs2)), one) << "byte " << unsigned(b);
        all += one;
    }
    EXPECT_EQ(TextToUcs2Hex(all), HexOf(test::Iconv(all, "CP1251", "UCS-2BE")));
    EXPECT_EQ(test::Iconv(Ucs2HexToText(HexOf(test::Iconv(all, "CP1251", "UCS-2BE"))), "CP1251", "UTF-8"),
              test::Cp1251ToUtf8(all));
}

TEST(Ucs2Codec, AgreesWithIconvForAllOfTheCodePageBothWays)
{
    for (unsigned b = 0; b <= 0xFF; ++b) {
        const std::string one(1, static_cast<char>(b));
        std::string ucs2;
        try {
            ucs2 = test::Iconv(one, "CP1251", "UCS-2BE");
        } catch (const std::runtime_error&) {
            EXPECT_EQ(b, 0x98u) << "only 0x98 is no character of the code page";
            continue;
        }
        ASSERT_EQ(ucs2.size(), 2u) << "byte " << b;
        EXPECT_EQ(TextToUcs2Hex(one), HexOf(ucs2)) << "byte " << b;
        if (b != 0x00) {
            EXPECT_EQ(Ucs2HexToText(HexOf(ucs2)), one) << "byte " << b;
        }
    }
}
