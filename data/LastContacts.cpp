#include "data/LastContacts.h"

#include "data/Text.h"
#include "timing/DateTime.h"

#include <optional>
#include <vector>

namespace kv {

namespace {

constexpr std::string_view kSection = "[LastContact]";
constexpr std::string_view kSilentFlag = "silent";

const char* KindToken(ContactKind kind)
{
    switch (kind) {
    case ContactKind::Report: return "report";
    case ContactKind::Call: return "call";
    case ContactKind::RingRound: return "ring";
    }
    return "report";
}

std::optional<ContactKind> KindOfToken(std::string_view token)
{
    for (ContactKind k : {ContactKind::Report, ContactKind::Call, ContactKind::RingRound})
        if (token == KindToken(k))
            return k;
    return std::nullopt;
}

// An INI key holds no line break, "=", ";" or section brackets, and its blanks
// would be trimmed away.
bool NeedsEscape(unsigned char c) { return c <= ' ' || c == '=' || c == ';' || c == '%' || c == '[' || c == ']' || c == 0x7F; }

std::string EscapeKey(std::string_view key)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : key) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> UnescapeKey(std::string_view key)
{
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] != '%') {
            if (NeedsEscape(static_cast<unsigned char>(key[i])))
                return std::nullopt;
            out += key[i];
            continue;
        }
        if (i + 2 >= key.size())
            return std::nullopt;
        const int hi = HexDigit(key[i + 1]);
        const int lo = HexDigit(key[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// "dd.mm.yyyy hh:mm:ss", as every stored text of the station.
std::optional<double> ParseFixedDateTime(std::string_view s)
{
    if (s.size() != 19 || s[2] != '.' || s[5] != '.' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t n) -> int {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return -1;
            v = v * 10 + (s[i] - '0');
        }
        return v;
    };
    DateTimeParts p;
    p.day = number(0, 2);
    p.month = number(3, 2);
    p.year = number(6, 4);
    p.hour = number(11, 2);
    p.minute = number(14, 2);
    p.second = number(17, 2);
    if (p.day < 1 || p.day > 31 || p.month < 1 || p.month > 12 || p.year < 1900 || p.hour < 0 || p.hour > 23 ||
        p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59)
        return std::nullopt;
    const double value = EncodeDateTime(p);
    // A day the month does not have ("31.02") comes back as another date.
    const DateTimeParts back = DecodeDateTime(value);
    if (back.day != p.day || back.month != p.month || back.year != p.year)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> Fields(std::string_view s, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = s.find(separator);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        s.remove_prefix(at + 1);
    }
}

} // namespace

std::string LastContactsText(const LastContacts& contacts)
{
    std::string out = std::string(kSection) + "\r\n";
    for (const auto& [tel, c] : contacts) {
        if (tel.empty())
            continue;
        out += EscapeKey(tel) + "=";
        if (c.at != 0)
            out += FixedDateTimeText(c.at) + ";" + KindToken(c.kind);
        else
            out += ";";
        if (c.silent)
            out += ";" + std::string(kSilentFlag);
        out += "\r\n";
    }
    return out;
}

ParsedContacts ParseLastContacts(std::string_view text)
{
    ParsedContacts parsed;
    bool inSection = false;
    for (std::string_view line : Fields(text, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = TrimBlanks(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            inSection = line == kSection;
            parsed.ours = parsed.ours || inSection;
            if (!inSection)
                ++parsed.damaged;
            continue;
        }
        if (!inSection) {
            ++parsed.damaged;
            continue;
        }
        const std::size_t eq = line.find('=');
        const std::optional<std::string> tel =
            eq == std::string_view::npos ? std::nullopt : UnescapeKey(TrimBlanks(line.substr(0, eq)));
        if (!tel || tel->empty()) {
            ++parsed.damaged;
            continue;
        }
        const std::vector<std::string_view> f = Fields(TrimBlanks(line.substr(eq + 1)), ';');
        LastContact c;
        bool good = f.size() == 2 || (f.size() == 3 && f[2] == kSilentFlag);
        if (good && !(f[0].empty() && f[1].empty())) {
            const std::optional<double> at = ParseFixedDateTime(f[0]);
            const std::optional<ContactKind> kind = KindOfToken(f[1]);
            good = at && kind;
            if (good) {
                c.at = *at;
                c.kind = *kind;
            }
        }
        c.silent = f.size() == 3;
        // A device never heard is only worth a line when it went silent.
        if (good && c.at == 0 && !c.silent)
            good = false;
        if (!good) {
            ++parsed.damaged;
            continue;
        }
        parsed.contacts[*tel] = c;
    }
    return parsed;
}

} // namespace kv
