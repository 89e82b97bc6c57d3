#include "data/SmsParts.h"

#include "data/AtomicFile.h"
#include "data/Text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kv {

using namespace kv::literals;

namespace {

constexpr char kMagic[] = "KVPARTS1";
// A journalled set is remembered this long (days): past it a part with the
// same sender, reference and total starts a new set.
constexpr double kRememberDays = 1.0;

std::uint32_t Fnv1a(std::string_view s)
{
    std::uint32_t h = 2166136261u;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h;
}

std::string ToHex(std::string_view s)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size() * 2);
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::optional<std::string> FromHex(std::string_view hex)
{
    if (hex == "-")
        return std::string();
    if (hex.size() % 2)
        return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]);
        const int lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

// An empty field would vanish between the blanks.
std::string Field(std::string_view s) { return s.empty() ? std::string("-") : ToHex(s); }

std::string Sealed(const std::string& line)
{
    char sum[16];
    std::snprintf(sum, sizeof sum, " %08X", Fnv1a(line));
    return line + sum + "\n";
}

// The line without its check sum; nothing when the sum does not match.
std::optional<std::string> Unsealed(const std::string& line)
{
    const std::size_t sp = line.rfind(' ');
    if (sp == std::string::npos || line.size() - sp != 9)
        return std::nullopt;
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08X", Fnv1a(std::string_view(line).substr(0, sp)));
    if (line.compare(sp + 1, 8, sum) != 0)
        return std::nullopt;
    return line.substr(0, sp);
}

// Times are kept as whole seconds: no decimal point, which the desktop's locale could turn into a comma.
long long DaysToSeconds(double days) { return std::llround(days * 86400.0); }
double SecondsToDays(long long seconds) { return static_cast<double>(seconds) / 86400.0; }

bool ValidSet(const SmsSetId& id) { return id.total >= 1 && id.total <= 255 && id.reference <= 65535; }

} // namespace

void SmsPartStore::Load()
{
    m_waiting.clear();
    m_done.clear();
    m_damaged = false;
    if (m_path.empty())
        return;
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first) {
            first = false;
            if (line != kMagic) {
                m_damaged = true;
                break;
            }
            continue;
        }
        const std::optional<std::string> content = Unsealed(line);
        if (!content) {
            m_damaged = true;
            continue;
        }
        std::istringstream fields(*content);
        std::string kind, sender, rest;
        SmsSetId id;
        fields >> kind >> sender >> id.reference >> id.total;
        const std::optional<std::string> senderText = FromHex(sender);
        if (!fields || !senderText || !ValidSet(id)) {
            m_damaged = true;
            continue;
        }
        id.sender = *senderText;
        if (kind == "P") {
            SmsPart part;
            std::string timestamp, text;
            long long seconds = 0;
            fields >> part.part >> seconds >> timestamp >> text;
            part.receivedAt = SecondsToDays(seconds);
            const std::optional<std::string> ts = FromHex(timestamp);
            const std::optional<std::string> body = FromHex(text);
            if (!fields || !ts || !body || part.part < 1 || part.part > id.total) {
                m_damaged = true;
                continue;
            }
            part.timestamp = *ts;
            part.text = *body;
            m_waiting[id][part.part] = std::move(part);
        } else if (kind == "D") {
            Done done;
            std::string parts;
            long long seconds = 0;
            std::string timestamp;
            fields >> seconds >> parts >> timestamp;
            done.at = SecondsToDays(seconds);
            const std::optional<std::string> ts = FromHex(timestamp);
            if (!fields || !ts) {
                m_damaged = true;
                continue;
            }
            std::istringstream numbers(parts);
            std::string n;
            while (std::getline(numbers, n, ',')) {
                const unsigned long value = std::strtoul(n.c_str(), nullptr, 10);
                if (value >= 1 && value <= id.total)
                    done.parts.insert(static_cast<unsigned>(value));
            }
            done.timestamp = *ts;
            m_done[id] = std::move(done);
        } else {
            m_damaged = true;
        }
    }
    // Closed first: Windows renames no file that is still open.
    in.close();
    if (m_damaged)
        KeepAside(m_path);
}

SmsPartStore::Added SmsPartStore::Add(const SmsSetId& id, const SmsPart& part)
{
    if (const auto done = m_done.find(id); done != m_done.end() && !m_waiting.count(id)) {
        if (SameSending(part.timestamp, done->second.timestamp))
            return done->second.parts.count(part.part) ? Added::Duplicate : Added::SetJournalled;
        m_done.erase(done);
    }
    if (const auto waiting = m_waiting.find(id); waiting != m_waiting.end())
        for (const auto& [n, other] : waiting->second)
            if (!SameSending(part.timestamp, other.timestamp))
                return Added::OtherSend;
    auto& parts = m_waiting[id];
    if (parts.count(part.part))
        return Added::Duplicate;
    parts[part.part] = part;
    m_saved = Save();
    if (!m_saved) {
        // Not on disk: not kept, so that the part stays in the SIM and is read again.
        parts.erase(part.part);
        if (parts.empty())
            m_waiting.erase(id);
    }
    return Added::New;
}

bool SmsPartStore::Complete(const SmsSetId& id) const
{
    const auto it = m_waiting.find(id);
    return it != m_waiting.end() && it->second.size() == id.total;
}

bool SmsPartStore::MarkJournalled(const SmsSetId& id, double now)
{
    const auto it = m_waiting.find(id);
    Done done{{}, now, {}};
    if (it != m_waiting.end()) {
        for (const auto& [n, part] : it->second)
            done.parts.insert(n);
        if (!it->second.empty())
            done.timestamp = it->second.begin()->second.timestamp;
        m_waiting.erase(it);
    }
    m_done[id] = std::move(done);
    m_saved = Save();
    return m_saved;
}

void SmsPartStore::Expire(double now)
{
    bool changed = false;
    for (auto it = m_done.begin(); it != m_done.end();) {
        // A clock set back makes an age negative: that set is kept until it ages.
        if (now - it->second.at > kRememberDays) {
            it = m_done.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed)
        m_saved = Save();
}

std::string SmsPartStore::TagOf(const SmsSetId& id, const std::map<unsigned, SmsPart>& parts)
{
    // The first part present's time stamp tells a reused reference from the old one.
    const std::string first = parts.empty() ? std::string() : parts.begin()->second.timestamp;
    char head[48];
    std::snprintf(head, sizeof head, "set:%u:%u:", id.reference, id.total);
    return head + ToHex(id.sender) + ":" + ToHex(first);
}

bool SmsPartStore::Save()
{
    if (m_path.empty())
        return true;
    std::string out = std::string(kMagic) + "\n";
    char number[64];
    for (const auto& [id, parts] : m_waiting) {
        for (const auto& [n, part] : parts) {
            std::snprintf(number, sizeof number, " %u %u %u %lld ", id.reference, id.total, n,
                          DaysToSeconds(part.receivedAt));
            out += Sealed("P " + Field(id.sender) + number + Field(part.timestamp) + " " + Field(part.text));
        }
    }
    for (const auto& [id, done] : m_done) {
        std::string parts;
        for (const unsigned n : done.parts)
            parts += (parts.empty() ? "" : ",") + std::to_string(n);
        std::snprintf(number, sizeof number, " %u %u %lld ", id.reference, id.total, DaysToSeconds(done.at));
        out += Sealed("D " + Field(id.sender) + number + (parts.empty() ? std::string("0") : parts) + " "
                      + Field(done.timestamp));
    }
    AtomicFileWriter writer(m_path);
    return writer.Open() && writer.Write(out.data(), out.size()) && writer.Commit();
}

namespace {

// Seconds since 2000 of "yy/MM/dd,hh:mm:ss+zz" (zz in quarter hours).
std::optional<long long> StampSeconds(std::string_view s)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, zone = 0;
    char sign = '+';
    const std::string text(s);
    if (std::sscanf(text.c_str(), "%2d/%2d/%2d,%2d:%2d:%2d%c%d", &y, &mo, &d, &h, &mi, &se, &sign, &zone) < 6)
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59)
        return std::nullopt;
    // Days from civil (proleptic Gregorian), years 2000..2099.
    const int yy = 2000 + y - (mo <= 2 ? 1 : 0);
    const int era = yy / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long days = era * 146097LL + yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long offset = (sign == '-' ? -1LL : 1LL) * zone * 15 * 60;
    return days * 86400 + h * 3600 + mi * 60 + se - offset;
}

} // namespace

bool SameSending(std::string_view a, std::string_view b)
{
    constexpr long long kApart = 3600;
    const std::optional<long long> x = StampSeconds(a);
    const std::optional<long long> y = StampSeconds(b);
    return !x || !y || (*x > *y ? *x - *y : *y - *x) <= kApart;
}

std::string IncompleteNote(const std::set<unsigned>& parts, unsigned total)
{
    std::string list;
    for (const unsigned n : parts)
        list += (list.empty() ? "" : ", ") + std::to_string(n);
    return " (" + std::string("неполное сообщение: части "_cp) + list + " " + std::string("из"_cp) + " "
           + std::to_string(total) + ")";
}

std::string JoinParts(const std::map<unsigned, SmsPart>& parts, unsigned total)
{
    std::string text;
    std::set<unsigned> have;
    for (const auto& [n, part] : parts) {
        text += part.text;
        have.insert(n);
    }
    if (have.size() < total)
        text += IncompleteNote(have, total);
    return text;
}

} // namespace kv
