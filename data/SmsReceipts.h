#pragma once
// The key of a message in the SIM (KeyOf): modem 1's worker tags its row's
// log entry with it, and the journal tells by the key whether that row is on
// disk, so a message left in the SIM by a crash or a refused delete is not
// journalled twice, whatever the clock did meanwhile.
// The store (key and a time, in a small file rewritten whole on each change)
// is how older versions kept them in "t3.bin.sms"; the station no longer uses it.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace kv {

class SmsReceipts {
public:
    explicit SmsReceipts(std::string path = {}) : m_path(std::move(path)) {}

    // Reads the file; a missing or damaged one gives an empty store.
    void Load();
    std::optional<double> Find(const std::string& key) const;
    // False when the file could not be written (the store still has the key).
    bool Add(const std::string& key, double time);
    void Remove(const std::string& key);
    // Keeps only the keys still in the SIM.
    void KeepOnly(const std::set<std::string>& keys);
    std::size_t Size() const { return m_entries.size(); }

    // A message's key: its index and what it holds. Not its memory's name,
    // which a read on an indication may not know yet.
    static std::string KeyOf(int index, std::string_view number, std::string_view timestamp, std::string_view body);

private:
    bool Save() const;

    std::string m_path;
    std::map<std::string, double> m_entries;
};

} // namespace kv
