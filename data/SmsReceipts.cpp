#include "data/SmsReceipts.h"

#include "data/AtomicFile.h"

#include <charconv>
#include <cstdio>
#include <fstream>

namespace kv {

namespace {

constexpr std::string_view kHeader = "KVSMS1";

std::uint64_t Fnv1a(std::uint64_t h, std::string_view s)
{
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    // A separator, so that "ab"+"c" and "a"+"bc" differ.
    h ^= 0xFF;
    return h * 1099511628211ULL;
}

} // namespace

std::string SmsReceipts::KeyOf(int index, std::string_view number, std::string_view timestamp, std::string_view body)
{
    std::uint64_t h = 14695981039346656037ULL;
    for (std::string_view part : {number, timestamp, body})
        h = Fnv1a(h, part);
    char key[48];
    std::snprintf(key, sizeof key, "%d:%016llx", index, static_cast<unsigned long long>(h));
    return key;
}

void SmsReceipts::Load()
{
    m_entries.clear();
    if (m_path.empty())
        return;
    std::ifstream in(m_path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeader)
        return;
    while (std::getline(in, line)) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos || blank == 0)
            continue;
        double time = 0;
        const char* end = line.data() + line.size();
        if (std::from_chars(line.data() + blank + 1, end, time).ec == std::errc())
            m_entries[line.substr(0, blank)] = time;
    }
}

std::optional<double> SmsReceipts::Find(const std::string& key) const
{
    const auto it = m_entries.find(key);
    if (it == m_entries.end())
        return std::nullopt;
    return it->second;
}

bool SmsReceipts::Add(const std::string& key, double time)
{
    m_entries[key] = time;
    return Save();
}

void SmsReceipts::Remove(const std::string& key)
{
    if (m_entries.erase(key))
        Save();
}

void SmsReceipts::KeepOnly(const std::set<std::string>& keys)
{
    bool changed = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (keys.count(it->first)) {
            ++it;
        } else {
            it = m_entries.erase(it);
            changed = true;
        }
    }
    if (changed)
        Save();
}

bool SmsReceipts::Save() const
{
    if (m_path.empty())
        return true;
    std::string text(kHeader);
    text += '\n';
    for (const auto& [key, time] : m_entries) {
        char stamp[64];
        // Whatever the numeric locale: the time is read back by from_chars.
        const auto written = std::to_chars(stamp, stamp + sizeof stamp, time);
        text += key + ' ' + std::string(stamp, written.ptr) + '\n';
    }
    AtomicFileWriter writer(m_path);
    return writer.Open() && writer.Write(text.data(), text.size()) && writer.Commit();
}

} // namespace kv
