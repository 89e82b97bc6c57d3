#include "codec/SmsPdu.h"

#include "codec/Ucs2.h"
#include "data/Text.h"

#include <algorithm>
#include <cstdio>

namespace kv::sms {

using namespace kv::literals;

namespace {

constexpr std::uint8_t kEscape = 0x1B;

// Out of the template below: one compiler cannot expand a literal operator
// template inside another template.
constexpr std::string_view kTruncated = "PDU оборван"_cp;

// The GSM default alphabet. The escape slot holds a blank: that is what an
// escape with nothing usable after it shows.
constexpr char16_t kGsmBase[128] = {
    u'@',   0x00A3, u'$',   0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC, 0x00F2, 0x00C7, u'\n',  0x00D8, 0x00F8, u'\r',
    0x00C5, 0x00E5, 0x0394, u'_',   0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8, 0x03A3, 0x0398, 0x039E, u' ',
    0x00C6, 0x00E6, 0x00DF, 0x00C9, u' ',   u'!',   u'"',   u'#',   0x00A4, u'%',   u'&',   u'\'',  u'(',   u')',
    u'*',   u'+',   u',',   u'-',   u'.',   u'/',   u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    u'8',   u'9',   u':',   u';',   u'<',   u'=',   u'>',   u'?',   0x00A1, u'A',   u'B',   u'C',   u'D',   u'E',
    u'F',   u'G',   u'H',   u'I',   u'J',   u'K',   u'L',   u'M',   u'N',   u'O',   u'P',   u'Q',   u'R',   u'S',
    u'T',   u'U',   u'V',   u'W',   u'X',   u'Y',   u'Z',   0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7, 0x00BF, u'a',
    u'b',   u'c',   u'd',   u'e',   u'f',   u'g',   u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',   u'x',   u'y',   u'z',   0x00E4, 0x00F6, 0x00F1,
    0x00FC, 0x00E0};

struct Extension {
    std::uint8_t code;
    char16_t unit;
};
constexpr Extension kGsmExtension[] = {
    {0x0A, 0x000C}, {0x14, u'^'}, {0x28, u'{'}, {0x29, u'}'}, {0x2F, u'\\'},
    {0x3C, u'['},   {0x3D, u'~'}, {0x3E, u']'}, {0x40, u'|'}, {0x65, 0x20AC},
};

constexpr std::uint8_t kGsmQuestion = 0x3F;

int BaseCodeOf(char16_t u)
{
    for (int c = 0; c < 128; ++c)
        if (c != kEscape && kGsmBase[c] == u)
            return c;
    return -1;
}

int ExtensionCodeOf(char16_t u)
{
    for (const Extension& e : kGsmExtension)
        if (e.unit == u)
            return e.code;
    return -1;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Units taken together: a surrogate pair is one character.
std::size_t CharLength(std::u16string_view units, std::size_t i)
{
    return IsHighSurrogate(units[i]) && i + 1 < units.size() && IsLowSurrogate(units[i + 1]) ? 2 : 1;
}

// Septets for the text; what the alphabet lacks becomes '?', once per character.
std::vector<std::uint8_t> ToSeptets(std::u16string_view units)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < units.size(); i += CharLength(units, i)) {
        const int base = BaseCodeOf(units[i]);
        if (base >= 0) {
            out.push_back(static_cast<std::uint8_t>(base));
            continue;
        }
        const int ext = ExtensionCodeOf(units[i]);
        if (ext >= 0) {
            out.push_back(kEscape);
            out.push_back(static_cast<std::uint8_t>(ext));
            continue;
        }
        out.push_back(kGsmQuestion);
    }
    return out;
}

std::u16string FromSeptets(const std::vector<std::uint8_t>& septets)
{
    std::u16string out;
    for (std::size_t i = 0; i < septets.size(); ++i) {
        if (septets[i] != kEscape) {
            out.push_back(kGsmBase[septets[i] & 0x7F]);
            continue;
        }
        // An escape at the very end, or a second escape, shows as a blank; an
        // unknown extension code shows its base character.
        if (i + 1 >= septets.size()) {
            out.push_back(u' ');
            continue;
        }
        const std::uint8_t code = septets[++i];
        if (code == kEscape) {
            out.push_back(u' ');
            continue;
        }
        const auto* e = std::find_if(std::begin(kGsmExtension), std::end(kGsmExtension),
                                     [code](const Extension& x) { return x.code == code; });
        out.push_back(e != std::end(kGsmExtension) ? e->unit : kGsmBase[code & 0x7F]);
    }
    return out;
}

} // namespace

std::uint8_t SeptetAt(std::span<const std::uint8_t> octets, std::size_t i)
{
    const std::size_t bit = i * 7;
    const std::size_t byte = bit / 8;
    const unsigned shift = bit % 8;
    unsigned v = octets[byte] >> shift;
    if (shift > 1 && byte + 1 < octets.size())
        v |= static_cast<unsigned>(octets[byte + 1]) << (8 - shift);
    return static_cast<std::uint8_t>(v & 0x7F);
}

namespace {

// Packs septets after `skip` septets' worth of bits already in `out` (the
// header and its fill bits).
void PackSeptets(std::vector<std::uint8_t>& out, std::size_t skip, const std::vector<std::uint8_t>& septets)
{
    const std::size_t total = skip + septets.size();
    out.resize((total * 7 + 7) / 8, 0);
    for (std::size_t i = 0; i < septets.size(); ++i) {
        const std::size_t bit = (skip + i) * 7;
        const std::size_t byte = bit / 8;
        const unsigned shift = bit % 8;
        const unsigned v = static_cast<unsigned>(septets[i] & 0x7F) << shift;
        out[byte] |= static_cast<std::uint8_t>(v & 0xFF);
        if (shift > 1)
            out[byte + 1] |= static_cast<std::uint8_t>(v >> 8);
    }
}

std::size_t HeaderSeptets(std::size_t headerOctets) { return (headerOctets * 8 + 6) / 7; }

void Fail(std::string* why, std::string_view reason)
{
    if (why)
        *why = std::string(reason);
}

std::optional<UserData> DecodeUserDataWhy(std::span<const std::uint8_t> octets, bool headerPresent, Coding coding,
                                          int length, std::string* why)
{
    UserData ud;
    std::size_t headerOctets = 0;
    if (headerPresent) {
        if (octets.empty()) {
            Fail(why, "нет заголовка пользовательских данных"_cp);
            return std::nullopt;
        }
        headerOctets = std::size_t{octets[0]} + 1;
        if (headerOctets > octets.size()) {
            Fail(why, "заголовок длиннее данных"_cp);
            return std::nullopt;
        }
        for (std::size_t p = 1; p < headerOctets;) {
            if (p + 2 > headerOctets || p + 2 + octets[p + 1] > headerOctets) {
                Fail(why, "элемент заголовка длиннее заголовка"_cp);
                return std::nullopt;
            }
            const std::uint8_t iei = octets[p];
            const std::uint8_t len = octets[p + 1];
            const std::uint8_t* v = octets.data() + p + 2;
            std::optional<Concat> c;
            if (iei == 0x00 && len == 3)
                c = Concat{v[0], false, v[1], v[2]};
            else if (iei == 0x08 && len == 4)
                c = Concat{static_cast<unsigned>(v[0]) << 8 | v[1], true, v[2], v[3]};
            // A part numbered 0 or past the total links nothing: the text stands alone.
            if (c && !ud.concat && c->total >= 1 && c->part >= 1 && c->part <= c->total)
                ud.concat = c;
            p += 2 + len;
        }
    }

    if (coding == Coding::Gsm7) {
        const std::size_t skip = headerPresent ? HeaderSeptets(headerOctets) : 0;
        std::size_t count = 0;
        bool trimPadding = false;
        if (length >= 0) {
            count = static_cast<std::size_t>(length);
            if ((count * 7 + 7) / 8 > octets.size()) {
                Fail(why, "данные короче своей длины"_cp);
                return std::nullopt;
            }
            if (count < skip) {
                Fail(why, "заголовок длиннее данных"_cp);
                return std::nullopt;
            }
        } else {
            count = std::max(octets.size() * 8 / 7, skip);
            // Seven spare bits at the end read as one more septet: the sender's
            // padding, not text.
            trimPadding = count > skip && count % 8 == 0;
        }
        std::vector<std::uint8_t> septets;
        for (std::size_t i = skip; i < count; ++i)
            septets.push_back(SeptetAt(octets, i));
        if (trimPadding && (septets.back() == 0x00 || septets.back() == 0x0D))
            septets.pop_back();
        ud.units = FromSeptets(septets);
    } else {
        const std::size_t end = length >= 0 ? static_cast<std::size_t>(length) : octets.size();
        if (end > octets.size()) {
            Fail(why, "данные короче своей длины"_cp);
            return std::nullopt;
        }
        if (end < headerOctets) {
            Fail(why, "заголовок длиннее данных"_cp);
            return std::nullopt;
        }
        if (coding == Coding::Eight) {
            for (std::size_t i = headerOctets; i < end; ++i)
                ud.units.push_back(octets[i]);
        } else {
            // A stray last octet of half a character is dropped.
            for (std::size_t i = headerOctets; i + 1 < end; i += 2)
                ud.units.push_back(static_cast<char16_t>(octets[i] << 8 | octets[i + 1]));
        }
    }
    ud.text = Utf16ToStationText(ud.units);
    return ud;
}

char SemiOctetChar(unsigned n) { return "0123456789*#abc"[n]; }

int SemiOctetOf(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    switch (c) {
    case '*': return 0xA;
    case '#': return 0xB;
    case 'a': return 0xC;
    case 'b': return 0xD;
    case 'c': return 0xE;
    default: return -1;
    }
}

// Swapped semi-octets up to `digits` of them (or the F fill).
std::string ReadDigits(std::span<const std::uint8_t> octets, std::size_t digits)
{
    std::string out;
    for (std::size_t i = 0; i < digits && i / 2 < octets.size(); ++i) {
        const unsigned n = i % 2 == 0 ? octets[i / 2] & 0x0F : octets[i / 2] >> 4;
        if (n == 0xF)
            break;
        out.push_back(SemiOctetChar(n));
    }
    return out;
}

// The number's semi-octets, the leading '+' left out; other characters
// (blanks, dashes, brackets) are not part of a number a network routes.
std::vector<std::uint8_t> DigitsOf(std::string_view number)
{
    std::vector<std::uint8_t> out;
    for (const char c : number) {
        const int n = SemiOctetOf(c);
        if (n >= 0)
            out.push_back(static_cast<std::uint8_t>(n));
    }
    return out;
}

void PutSwapped(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& digits)
{
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(digits[i] | (i + 1 < digits.size() ? digits[i + 1] : 0xF) << 4));
}

bool IsInternational(std::string_view number)
{
    const std::string_view t = TrimBlanks(number);
    return !t.empty() && t.front() == '+';
}

// An address field of an SMS-DELIVER or SMS-SUBMIT: the digit count, the type
// and the digits.
void PutAddress(std::vector<std::uint8_t>& out, std::string_view number)
{
    const std::vector<std::uint8_t> digits = DigitsOf(number);
    out.push_back(static_cast<std::uint8_t>(digits.size()));
    out.push_back(IsInternational(number) ? 0x91 : 0x81);
    PutSwapped(out, digits);
}

// The service centre's address: its length counts octets, the type included.
void PutServiceCentre(std::vector<std::uint8_t>& out, std::string_view number)
{
    const std::vector<std::uint8_t> digits = DigitsOf(number);
    if (digits.empty()) {
        out.push_back(0);
        return;
    }
    out.push_back(static_cast<std::uint8_t>(1 + (digits.size() + 1) / 2));
    out.push_back(IsInternational(number) ? 0x91 : 0x81);
    PutSwapped(out, digits);
}

std::vector<std::uint8_t> ConcatHeader(const Concat& c)
{
    if (c.wide)
        return {0x06,
                0x08,
                0x04,
                static_cast<std::uint8_t>(c.reference >> 8 & 0xFF),
                static_cast<std::uint8_t>(c.reference & 0xFF),
                static_cast<std::uint8_t>(c.total),
                static_cast<std::uint8_t>(c.part)};
    return {0x05,
            0x00,
            0x03,
            static_cast<std::uint8_t>(c.reference & 0xFF),
            static_cast<std::uint8_t>(c.total),
            static_cast<std::uint8_t>(c.part)};
}

// TP-UDL and the user data (the header in front when given).
std::pair<std::size_t, std::vector<std::uint8_t>> UserDataOf(Coding coding, std::u16string_view units,
                                                             const std::vector<std::uint8_t>& header)
{
    std::vector<std::uint8_t> ud = header;
    std::size_t udl = 0;
    if (coding == Coding::Gsm7) {
        const std::vector<std::uint8_t> septets = ToSeptets(units);
        const std::size_t skip = header.empty() ? 0 : HeaderSeptets(header.size());
        PackSeptets(ud, skip, septets);
        udl = skip + septets.size();
    } else if (coding == Coding::Eight) {
        for (const char16_t u : units)
            ud.push_back(u <= 0xFF ? static_cast<std::uint8_t>(u) : static_cast<std::uint8_t>('?'));
        udl = ud.size();
    } else {
        for (const char16_t u : units) {
            ud.push_back(static_cast<std::uint8_t>(u >> 8));
            ud.push_back(static_cast<std::uint8_t>(u & 0xFF));
        }
        udl = ud.size();
    }
    return {udl, ud};
}

void PutUserData(std::vector<std::uint8_t>& out, Coding coding, std::u16string_view units,
                 const std::vector<std::uint8_t>& header)
{
    const auto [udl, ud] = UserDataOf(coding, units, header);
    out.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(udl, 0xFF)));
    out.insert(out.end(), ud.begin(), ud.end());
}

std::string ToHex(const std::vector<std::uint8_t>& octets)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(octets.size() * 2);
    for (const std::uint8_t o : octets) {
        out.push_back(kDigits[o >> 4]);
        out.push_back(kDigits[o & 0xF]);
    }
    return out;
}

std::uint8_t DcsOf(Coding coding)
{
    switch (coding) {
    case Coding::Gsm7: return 0x00;
    case Coding::Eight: return 0x04;
    case Coding::Ucs2: return 0x08;
    }
    return 0x00;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "yy/MM/dd,hh:mm:ss+zz" as seven swapped semi-octet pairs; all zero when the
// text is not that.
std::vector<std::uint8_t> TimestampOctets(std::string_view ts)
{
    std::vector<std::uint8_t> out(7, 0);
    constexpr std::size_t kFields[] = {0, 3, 6, 9, 12, 15};
    if (ts.size() < 19 || (ts[17] != '+' && ts[17] != '-'))
        return out;
    std::vector<std::uint8_t> fields;
    for (const std::size_t at : kFields) {
        if (!IsDigit(ts[at]) || !IsDigit(ts[at + 1]))
            return std::vector<std::uint8_t>(7, 0);
        fields.push_back(static_cast<std::uint8_t>((ts[at] - '0') | (ts[at + 1] - '0') << 4));
    }
    const std::string_view zone = ts.substr(18);
    if (zone.empty() || zone.size() > 2 || !std::all_of(zone.begin(), zone.end(), IsDigit))
        return std::vector<std::uint8_t>(7, 0);
    const int quarters = zone.size() == 1 ? zone[0] - '0' : (zone[0] - '0') * 10 + (zone[1] - '0');
    if (quarters > 79)
        return std::vector<std::uint8_t>(7, 0);
    fields.push_back(static_cast<std::uint8_t>((quarters / 10) | (quarters % 10) << 4 | (ts[17] == '-' ? 0x08 : 0)));
    return fields;
}

std::string TimestampText(std::span<const std::uint8_t> o)
{
    // Semi-octets past 9 are written as they stand rather than dropping the message.
    const auto pair = [](std::uint8_t v) {
        const char* d = "0123456789ABCDEF";
        return std::string{d[v & 0x0F], d[v >> 4]};
    };
    const unsigned quarters = (o[6] & 0x07) * 10 + (o[6] >> 4);
    char zone[8];
    // A sign on a zero difference means nothing.
    std::snprintf(zone, sizeof zone, "%c%02u", (o[6] & 0x08) && quarters > 0 ? '-' : '+', quarters);
    return pair(o[0]) + "/" + pair(o[1]) + "/" + pair(o[2]) + "," + pair(o[3]) + ":" + pair(o[4]) + ":" + pair(o[5])
           + zone;
}

bool HasLetter(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b >= 0x80;
    });
}

} // namespace

std::optional<Coding> CodingOf(int dcs)
{
    if (dcs < 0 || dcs > 0xFF)
        return std::nullopt;
    if ((dcs & 0x80) == 0) {
        // General data coding and the automatic deletion group share a layout.
        if (dcs & 0x20)
            return std::nullopt; // compressed
        switch ((dcs >> 2) & 0x03) {
        case 1: return Coding::Eight;
        case 2: return Coding::Ucs2;
        default: return Coding::Gsm7; // the reserved alphabet reads as the default one
        }
    }
    switch (dcs >> 4) {
    case 0xC:
    case 0xD: return Coding::Gsm7;
    case 0xE: return Coding::Ucs2;
    case 0xF: return (dcs & 0x04) ? Coding::Eight : Coding::Gsm7;
    default: return std::nullopt;
    }
}

std::optional<std::vector<std::uint8_t>> HexToOctets(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigitValue(hex[i]);
        const int lo = HexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return out;
}

std::u16string StationTextToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text)
        out.push_back(Cp1251ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf16ToStationText(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); i += CharLength(units, i)) {
        if (units[i] == 0) {
            out.push_back(' '); // a zero byte would cut the text short downstream
            continue;
        }
        const int b = UnicodeToCp1251(units[i]);
        out.push_back(b >= 0 ? static_cast<char>(b) : '?');
    }
    return out;
}

bool FitsGsm7(std::u16string_view units)
{
    return std::all_of(units.begin(), units.end(),
                       [](char16_t u) { return BaseCodeOf(u) >= 0 || ExtensionCodeOf(u) >= 0; });
}

std::optional<UserData> DecodeUserData(std::span<const std::uint8_t> octets, bool headerPresent, Coding coding,
                                       int length)
{
    return DecodeUserDataWhy(octets, headerPresent, coding, length, nullptr);
}

namespace {

// The service-centre address at `p`; false when the PDU ends inside it.
bool ReadServiceCentre(const std::vector<std::uint8_t>& o, std::size_t& p, std::string& smsc)
{
    if (p >= o.size())
        return false;
    const std::size_t length = o[p++];
    if (p + length > o.size())
        return false;
    if (length > 0) {
        const std::span<const std::uint8_t> digits(o.data() + p + 1, length - 1);
        smsc = ReadDigits(digits, digits.size() * 2);
        // A type with no digits is no address: the SIM's own centre.
        if (!smsc.empty() && (o[p] & 0x70) == 0x10)
            smsc.insert(0, 1, '+');
    }
    p += length;
    return true;
}

// An originating or destination address at `p`: digits, or a name packed in
// 7-bit whose length counts semi-octets.
bool ReadAddress(const std::vector<std::uint8_t>& o, std::size_t& p, std::string& number, int& type, bool& alpha)
{
    if (p + 2 > o.size())
        return false;
    const std::size_t semiOctets = o[p++];
    type = o[p++];
    const std::size_t octets = (semiOctets + 1) / 2;
    if (p + octets > o.size())
        return false;
    const std::span<const std::uint8_t> field(o.data() + p, octets);
    alpha = (type & 0x70) == 0x50;
    if (alpha) {
        std::vector<std::uint8_t> septets;
        for (std::size_t i = 0; i < semiOctets * 4 / 7; ++i)
            septets.push_back(SeptetAt(field, i));
        number = Utf16ToStationText(FromSeptets(septets));
    } else {
        number = ((type & 0x70) == 0x10 ? "+" : "") + ReadDigits(field, semiOctets);
    }
    p += octets;
    return true;
}

std::optional<std::vector<std::uint8_t>> PduOctets(std::string_view hex, std::string* why)
{
    std::optional<std::vector<std::uint8_t>> o = HexToOctets(TrimBlanksAndBreaks(hex));
    if (!o)
        Fail(why, "PDU не шестнадцатеричный текст"_cp);
    return o;
}

template <typename T>
std::optional<T> Truncated(std::string* why)
{
    Fail(why, kTruncated);
    return std::nullopt;
}

} // namespace

std::optional<Deliver> DecodeDeliverPdu(std::string_view hex, std::string* why)
{
    const std::optional<std::vector<std::uint8_t>> parsed = PduOctets(hex, why);
    if (!parsed)
        return std::nullopt;
    const std::vector<std::uint8_t>& o = *parsed;
    Deliver d;
    std::size_t p = 0;
    if (!ReadServiceCentre(o, p, d.smsc) || p >= o.size())
        return Truncated<Deliver>(why);
    d.firstOctet = o[p++];
    if ((d.firstOctet & 0x03) != 0) {
        Fail(why, "PDU не входящего сообщения"_cp);
        return std::nullopt;
    }
    if (!ReadAddress(o, p, d.sender, d.senderType, d.alphanumericSender))
        return Truncated<Deliver>(why);
    if (p + 10 > o.size()) // PID, DCS, the time stamp, UDL
        return Truncated<Deliver>(why);
    d.protocolId = o[p++];
    d.dcs = o[p++];
    d.timestamp = TimestampText(std::span<const std::uint8_t>(o.data() + p, 7));
    p += 7;
    const int udl = o[p++];
    // A compressed text or a reserved coding keeps its octets as they are.
    d.coding = CodingOf(d.dcs).value_or(Coding::Eight);
    const std::optional<UserData> ud = DecodeUserDataWhy(std::span<const std::uint8_t>(o.data() + p, o.size() - p),
                                                         (d.firstOctet & 0x40) != 0, d.coding, udl, why);
    if (!ud)
        return std::nullopt;
    d.data = *ud;
    return d;
}

std::optional<Submit> DecodeSubmitPdu(std::string_view hex, std::string* why)
{
    const std::optional<std::vector<std::uint8_t>> parsed = PduOctets(hex, why);
    if (!parsed)
        return std::nullopt;
    const std::vector<std::uint8_t>& o = *parsed;
    Submit s;
    std::size_t p = 0;
    if (!ReadServiceCentre(o, p, s.smsc) || p + 2 > o.size())
        return Truncated<Submit>(why);
    s.firstOctet = o[p++];
    if ((s.firstOctet & 0x03) != 0x01) {
        Fail(why, "PDU не исходящего сообщения"_cp);
        return std::nullopt;
    }
    s.messageReference = o[p++];
    bool alpha = false;
    if (!ReadAddress(o, p, s.number, s.numberType, alpha))
        return Truncated<Submit>(why);
    const int vpf = (s.firstOctet >> 3) & 0x03;
    const std::size_t vp = vpf == 0 ? 0 : vpf == 2 ? 1 : 7;
    if (p + 3 + vp > o.size()) // PID, DCS, the validity period, UDL
        return Truncated<Submit>(why);
    s.protocolId = o[p++];
    s.dcs = o[p++];
    p += vp;
    const int udl = o[p++];
    s.coding = CodingOf(s.dcs).value_or(Coding::Eight);
    const std::optional<UserData> ud = DecodeUserDataWhy(std::span<const std::uint8_t>(o.data() + p, o.size() - p),
                                                         (s.firstOctet & 0x40) != 0, s.coding, udl, why);
    if (!ud)
        return std::nullopt;
    s.data = *ud;
    return s;
}

std::vector<std::u16string> SplitForSms(std::u16string_view units, Coding coding, bool wideReference)
{
    std::size_t whole = 0;
    std::size_t perPart = 0;
    switch (coding) {
    case Coding::Gsm7:
        whole = 160;
        perPart = wideReference ? 152 : 153;
        break;
    case Coding::Eight:
        whole = 140;
        perPart = wideReference ? 133 : 134;
        break;
    case Coding::Ucs2:
        whole = 70;
        perPart = wideReference ? 66 : 67;
        break;
    }
    const auto cost = [&](std::size_t i, std::size_t len) -> std::size_t {
        if (coding == Coding::Gsm7)
            return len == 1 && BaseCodeOf(units[i]) < 0 && ExtensionCodeOf(units[i]) >= 0 ? 2 : 1;
        return coding == Coding::Ucs2 ? len : 1;
    };

    std::size_t total = 0;
    for (std::size_t i = 0; i < units.size(); i += CharLength(units, i))
        total += cost(i, CharLength(units, i));
    if (total <= whole)
        return {std::u16string(units)};

    std::vector<std::u16string> parts(1);
    std::size_t used = 0;
    for (std::size_t i = 0; i < units.size();) {
        const std::size_t len = CharLength(units, i);
        const std::size_t c = cost(i, len);
        if (used + c > perPart) {
            parts.emplace_back();
            used = 0;
        }
        parts.back().append(units.substr(i, len));
        used += c;
        i += len;
    }
    return parts;
}

std::vector<OutgoingPdu> EncodeSubmit(std::string_view number, std::u16string_view units, unsigned reference,
                                      bool wideReference)
{
    const Coding coding = FitsGsm7(units) ? Coding::Gsm7 : Coding::Ucs2;
    std::vector<std::u16string> parts = SplitForSms(units, coding, wideReference);
    // The header counts parts in one octet.
    if (parts.size() > 255)
        parts.resize(255);
    std::vector<OutgoingPdu> out;
    for (std::size_t n = 0; n < parts.size(); ++n) {
        const bool several = parts.size() > 1;
        std::vector<std::uint8_t> o{0x00, static_cast<std::uint8_t>(several ? 0x41 : 0x01), 0x00};
        PutAddress(o, number);
        o.push_back(0x00);
        o.push_back(DcsOf(coding));
        const std::vector<std::uint8_t> header =
            several ? ConcatHeader(Concat{wideReference ? reference & 0xFFFF : reference & 0xFF, wideReference,
                                          static_cast<unsigned>(parts.size()), static_cast<unsigned>(n + 1)})
                    : std::vector<std::uint8_t>{};
        PutUserData(o, coding, parts[n], header);
        out.push_back(OutgoingPdu{ToHex(o), static_cast<int>(o.size() - 1)});
    }
    return out;
}

EncodedUserData EncodeUserData(Coding coding, std::u16string_view units, std::optional<Concat> concat)
{
    auto [udl, ud] = UserDataOf(coding, units, concat ? ConcatHeader(*concat) : std::vector<std::uint8_t>{});
    return EncodedUserData{static_cast<int>(udl), std::move(ud)};
}

int TpduLength(std::string_view hex)
{
    const std::optional<std::vector<std::uint8_t>> o = HexToOctets(TrimBlanksAndBreaks(hex));
    if (!o || o->empty() || std::size_t{(*o)[0]} + 1 > o->size())
        return -1;
    return static_cast<int>(o->size() - 1 - (*o)[0]);
}

std::string EncodeDeliverPdu(std::string_view smsc, std::string_view sender, std::string_view timestamp,
                             Coding coding, std::u16string_view units, std::optional<Concat> concat)
{
    std::vector<std::uint8_t> o;
    PutServiceCentre(o, smsc);
    o.push_back(static_cast<std::uint8_t>(concat ? 0x44 : 0x04));
    if (HasLetter(sender)) {
        const std::vector<std::uint8_t> septets = ToSeptets(StationTextToUtf16(TrimBlanks(sender)));
        std::vector<std::uint8_t> packed;
        PackSeptets(packed, 0, septets);
        o.push_back(static_cast<std::uint8_t>((septets.size() * 7 + 3) / 4));
        o.push_back(0xD0);
        o.insert(o.end(), packed.begin(), packed.end());
    } else {
        PutAddress(o, sender);
    }
    o.push_back(0x00);
    o.push_back(DcsOf(coding));
    const std::vector<std::uint8_t> ts = TimestampOctets(timestamp);
    o.insert(o.end(), ts.begin(), ts.end());
    PutUserData(o, coding, units, concat ? ConcatHeader(*concat) : std::vector<std::uint8_t>{});
    return ToHex(o);
}

} // namespace kv::sms
