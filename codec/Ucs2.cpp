#include "codec/Ucs2.h"

namespace kv {

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace {

unsigned char CodeToByte(unsigned v)
{
    if (v == 0x0000)
        return 0x20; // a NUL in a message would cut the text short downstream
    if (v <= 0x007E)
        return static_cast<unsigned char>(v);
    if (v == 0x0451)
        return 0xB8;
    if (v == 0x0401)
        return 0xA8;
    if (v < 0x0350)
        return static_cast<unsigned char>(v & 0xFF);
    return static_cast<unsigned char>((v - 0x350) & 0xFF);
}

} // namespace

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
        const unsigned b = static_cast<unsigned char>(ch);
        unsigned v;
        if (b <= 0x7E)
            v = b;
        else if (b == 0xB8)
            v = 0x0451;
        else if (b == 0xA8)
            v = 0x0401;
        else
            v = b + 0x350;
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
