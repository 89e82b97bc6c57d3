#pragma once
// The messages modem 1's worker is journalling: a message leaves the SIM only
// after its row is on disk, so a crash (or a delete the modem refused) between
// the two leaves a message in the SIM whose row may already be there. Each is
// kept here by its key with the moment its row was asked for; the next read of
// the same message looks for the row written since then instead of writing a
// second one. Kept in a small file of its own (rewritten whole on each change),
// or in memory only when no file is named. Used by one worker at a time.
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
