#include "codec/UssdText.h"

#include "codec/SmsPdu.h"
#include "codec/Ucs2.h"

#include <vector>

namespace kv {

namespace {

enum class Alphabet { Gsm7, EightBit, Ucs2, Unknown };

Alphabet AlphabetOf(std::optional<int> dcs)
{
    if (!dcs || *dcs < 0 || *dcs > 0xFF)
        return Alphabet::Unknown;
    const int d = *dcs;
    if (d == 0x11)
        return Alphabet::Ucs2; // UCS2, the language given in front
    if (d <= 0x3F)
        return Alphabet::Gsm7;
    if ((d >= 0x40 && d <= 0x7F) || (d >= 0x90 && d <= 0x9F)) {
        switch ((d >> 2) & 3) {
        case 1: return Alphabet::EightBit;
        case 2: return Alphabet::Ucs2;
        default: return Alphabet::Gsm7;
        }
    }
    if (d >= 0xF0)
        return (d & 4) ? Alphabet::EightBit : Alphabet::Gsm7;
    return Alphabet::Unknown;
}

std::optional<std::vector<unsigned char>> HexBytes(std::string_view hex)
{
    if (hex.empty() || hex.size() % 2 != 0)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigitValue(hex[i]);
        const int lo = HexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return bytes;
}

// The GSM default alphabet in code page 1251; 0 where it has no such character.
char GsmToCp1251(unsigned septet)
{
    static constexpr unsigned char kTable[128] = {
        '@', 0,   '$', 0,   0,   0,   0,   0,   0,   0,   '\n', 0,   0,   '\r', 0,   0,
        0,   '_', 0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,    0,   0,
        ' ', '!', '"', '#', 0xA4, '%', '&', '\'', '(', ')', '*', '+', ',', '-', '.', '/',
        '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', ':',  ';', '<', '=',  '>', '?',
        0,   'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',  'K', 'L', 'M',  'N', 'O',
        'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z',  0,   0,   0,    0,   0xA7,
        0,   'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j',  'k', 'l', 'm',  'n', 'o',
        'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z',  0,   0,   0,    0,   0,
    };
    return static_cast<char>(kTable[septet & 0x7F]);
}

// Septets packed into octets, as 23.038 packs them; nothing when a septet is
// outside what the station can show.
std::optional<std::string> UnpackGsm7(const std::vector<unsigned char>& octets)
{
    const std::size_t count = octets.size() * 8 / 7;
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned v = sms::SeptetAt(octets, i);
        // Seven spare bits at the end are filled with CR.
        if (i + 1 == count && count % 8 == 0 && v == 0x0D)
            break;
        const char c = GsmToCp1251(v);
        if (c == 0 && v != 0)
            return std::nullopt;
        out.push_back(c == 0 ? '@' : c);
    }
    return out;
}

// A modem may break a long hex text with a bare LF.
std::string WithoutLineBreaks(std::string_view text)
{
    std::string out;
    for (const char c : text)
        if (c != '\r' && c != '\n')
            out.push_back(c);
    return out;
}

} // namespace

std::string DecodeUssdText(std::string_view text, std::optional<int> dcs)
{
    const std::string compact = WithoutLineBreaks(text);
    const Alphabet alphabet = AlphabetOf(dcs);
    if (alphabet == Alphabet::Ucs2 || IsPrintableUcs2Hex(compact)) {
        try {
            if (!compact.empty())
                return Ucs2HexToText(compact);
        } catch (const EConvertError&) {
        }
        return std::string(text);
    }
    if (alphabet == Alphabet::Gsm7 || alphabet == Alphabet::Unknown) {
        // Some modems hand the network's packed septets over as hex.
        if (const auto octets = HexBytes(compact); octets && compact.size() >= 4) {
            if (const auto unpacked = UnpackGsm7(*octets))
                return *unpacked;
        }
    }
    return std::string(text);
}

} // namespace kv
