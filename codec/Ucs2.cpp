#include "codec/Ucs2.h"

namespace kv {

namespace {

// Code page 1251 from 0x80 on. 0x98 has no character: it keeps the arithmetic
// below, which brings it back whole.
constexpr char16_t kHighHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x03E8, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0-0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B,
    0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439,
    0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

unsigned CodeOf(unsigned char b) { return b < 0x80 ? b : kHighHalf[b - 0x80]; }

unsigned char CodeToByte(unsigned v)
{
    if (v == 0x0000)
        return 0x20; // a NUL in a message would cut the text short downstream
    if (v < 0x80)
        return static_cast<unsigned char>(v);
    for (unsigned b = 0; b < 128; ++b)
        if (kHighHalf[b] == v)
            return static_cast<unsigned char>(0x80 + b);
    // No such character in the code page: the arithmetic older stations use.
    if (v < 0x0350)
        return static_cast<unsigned char>(v & 0xFF);
    return static_cast<unsigned char>((v - 0x350) & 0xFF);
}

} // namespace

char16_t Cp1251ToUnicode(unsigned char b) { return static_cast<char16_t>(CodeOf(b)); }

int UnicodeToCp1251(char16_t c)
{
    if (c < 0x80)
        return c;
    for (unsigned b = 0; b < 128; ++b)
        if (kHighHalf[b] == c)
            return static_cast<int>(0x80 + b);
    return -1;
}

std::string Ucs2HexToText(std::string_view hex)
{
    std::string out;
    out.reserve(hex.size() / 4 + 1);
    // A lone trailing digit never forms a group: the loop stops one short of it.
    for (std::size_t p = 0; p + 1 < hex.size(); p += 4) {
        const std::size_t n = hex.size() - p < 4 ? hex.size() - p : 4;
        unsigned v = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int d = HexDigitValue(hex[p + i]);
            if (d < 0)
                throw EConvertError("'" + std::string(hex.substr(p, n)) + "' is not a valid hexadecimal value");
            v = v * 16 + static_cast<unsigned>(d);
        }
        out.push_back(static_cast<char>(CodeToByte(v)));
    }
    return out;
}

std::string TextToUcs2Hex(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 4);
    for (const char ch : text) {
        const unsigned v = CodeOf(static_cast<unsigned char>(ch));
        out.push_back(kDigits[(v >> 12) & 0xF]);
        out.push_back(kDigits[(v >> 8) & 0xF]);
        out.push_back(kDigits[(v >> 4) & 0xF]);
        out.push_back(kDigits[v & 0xF]);
    }
    return out;
}

bool IsPrintableUcs2Hex(std::string_view hex)
{
    if (hex.empty() || hex.size() % 4 != 0)
        return false;
    for (std::size_t p = 0; p < hex.size(); p += 4) {
        unsigned v = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const int d = HexDigitValue(hex[p + i]);
            if (d < 0)
                return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        const bool printable = v == 0x0A || v == 0x0D || (v >= 0x20 && v <= 0x7E) || (v >= 0xA0 && v <= 0xFF)
                               || (v >= 0x0400 && v <= 0x045F) || (v >= 0x2010 && v <= 0x2044) || v == 0x20AC
                               || v == 0x2116;
        if (!printable)
            return false;
    }
    return true;
}

} // namespace kv
