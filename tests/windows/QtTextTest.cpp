#include "data/Text.h"
#include "windows/QtText.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace {

// The code point glibc's iconv gives for one CP1251 byte; -1 when it has none.
int IconvCodePoint(unsigned char byte)
{
    iconv_t cd = iconv_open("UCS-4BE", "CP1251");
    char in[1] = {static_cast<char>(byte)};
    unsigned char out[8] = {};
    char* inp = in;
    char* outp = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return -1;
    return (out[0] << 24) | (out[1] << 16) | (out[2] << 8) | out[3];
}

TEST(QtText, EveryByteDecodesAsIconvDoesAndEncodesBack)
{
    for (int b = 0; b <= 0xFF; ++b) {
        const std::string one(1, static_cast<char>(b));
        const QString q = kv::ToQ(one);
        ASSERT_EQ(q.size(), 1) << "byte " << b;
        const int expected = IconvCodePoint(static_cast<unsigned char>(b));
        if (expected < 0) {
            // 0x98 has no character in the code page; it travels as U+0098 so
            // that a text passing through a widget keeps its bytes.
            EXPECT_EQ(b, 0x98);
            EXPECT_EQ(q[0].unicode(), 0x98);
        } else {
            EXPECT_EQ(q[0].unicode(), expected) << "byte " << b;
        }
        EXPECT_EQ(kv::FromQ(q), one) << "byte " << b;
    }
}

TEST(QtText, UnmappableCharactersBecomeQuestionMarksNotCtrlZ)
{
    EXPECT_EQ(kv::FromQ(QString::fromUtf8("a\u4E2Db\U0001F600")), "a?b?");
    EXPECT_EQ(kv::FromQ(QString(QChar(0x1A))), std::string(1, '\x1a'));
}

TEST(Cp1251Literal, MatchesTheRuntimeCodec)
{
    using namespace kv::literals;
    const std::string_view alarm = "Тревога"_cp;
    EXPECT_EQ(alarm, std::string_view("\xD2\xF0\xE5\xE2\xEE\xE3\xE0"));
    // The alarm marker keeps its four Latin letters byte for byte.
    EXPECT_EQ("Внимaние ТPEBОГА"_cp,
              std::string_view("\xC2\xED\xE8\xEC\x61\xED\xE8\xE5\x20\xD2\x50\x45\x42\xCE\xC3\xC0"));
    const char* samples[] = {"Ёлка ёж № 5 «да» 25°", "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ",
                             "абвгдежзийклмнопрстуфхцчшщъыьэюя"};
    const std::string_view converted[] = {"Ёлка ёж № 5 «да» 25°"_cp, "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"_cp,
                                          "абвгдежзийклмнопрстуфхцчшщъыьэюя"_cp};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kv::FromQ(QString::fromUtf8(samples[i])), std::string(converted[i])) << samples[i];
}

} // namespace
