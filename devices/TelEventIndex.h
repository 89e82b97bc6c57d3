#pragma once
// The main journal's rows by phone number, newest first. The device card asks
// for a number's newest rows after every new journal row; walking a journal of
// millions of rows each time would stall the station, so the rows are indexed
// as they come and go.
#include "data/MemTable.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

class TelEventIndex final : private IRecordListener {
public:
    // Indexes what the journal holds now and follows it from then on. The
    // journal must outlive the index.
    explicit TelEventIndex(MemTable& journal);
    ~TelEventIndex() override;
    TelEventIndex(const TelEventIndex&) = delete;
    TelEventIndex& operator=(const TelEventIndex&) = delete;

    // Up to `count` rows whose tel equals `tel` byte for byte, newest first.
    std::vector<RecordHandle> Newest(std::string_view tel, std::size_t count);

private:
    void RecordAdded(RecordHandle record, std::size_t position) override;
    void RecordChanged(RecordHandle record) override;
    void RecordRemoving(RecordHandle record, std::size_t position) override;
    void RecordsCleared() override;

    int TelField();
    std::string TelOf(RecordHandle record);
    void Rebuild();

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };

    MemTable& m_journal;
    // Rows of each number in journal order (the front is the newest).
    std::unordered_map<std::string, std::deque<RecordHandle>, Hash, std::equal_to<>> m_byTel;
    static constexpr int kUnresolved = -2;
    int m_telField = kUnresolved;
    // Set by a change the lists cannot follow in constant time (a row put or
    // taken in the middle, an edited row); the next question rebuilds them.
    bool m_stale = false;
};

} // namespace kv
