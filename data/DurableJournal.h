#pragma once
// A journal that loses nothing in a crash or a power cut. The table file
// ("t3.bin", "t6.bin") keeps its format; every row posted after the last full
// save is also appended to a log beside it and synced to disk within a second.
// At the next start the logged rows are put back, and a fold writes the whole
// table to its file and starts an empty log.
//
// Log segments are "<file>.log.<n>". Each segment's header carries the size and
// CRC of the table file written by the fold that opened it, so a start after a
// crash in the middle of a fold can tell which segments the table file already
// holds: replay starts at the newest segment whose header matches the file.
#include "data/MemTable.h"
#include "data/RecordEvent.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kv {

class TableFormat;

class DurableJournal final : private IRecordListener {
public:
    // A fold follows on its own after this many logged rows, so that the log
    // and the replay at start stay short.
    static constexpr std::size_t kFoldEvery = 5000;

    DurableJournal(MemTable& table, std::string fileName, const TableFormat& format);
    ~DurableJournal() override;
    DurableJournal(const DurableJournal&) = delete;
    DurableJournal& operator=(const DurableJournal&) = delete;

    // OpenJournal, then the rows logged since the last fold (oldest first, each
    // in front), then a fold. Returns OpenJournal's result. Logging runs from here on.
    bool Open(std::string_view failureMessage, const JournalNotify& notify, double now);

    // Loads the table file and puts back the rows its log segments hold, as
    // Open does, but touches nothing: no fold, no file created or removed. For
    // readers beside a running station. Returns the rows taken from the log;
    // throws as TableFormat::Load does.
    static std::size_t ReadWithLog(MemTable& table, const std::string& fileName, const TableFormat& format);

    // Writes the whole table to its file and starts an empty log. Throws
    // ETableFileError when the file cannot be written; the log then goes on.
    void Fold();

    // The fold that follows every kFoldEvery logged rows; call it after a post
    // (not from inside one). A failure is kept in LogError and logging goes on.
    void FoldIfDue();

    // Runs `change` (a clear, a journal opened from another file) without
    // logging its rows, then folds, so that the table file matches at once.
    void Replace(const std::function<void()>& change);

    // Syncs what was logged and stops logging (no fold).
    void Close();

    std::size_t LoggedSinceFold() const { return m_sinceFold; }
    std::size_t Replayed() const { return m_replayed; }
    // The last failure to write or sync the log; empty when none.
    std::string LogError() const;

    // For tests: waits until everything appended so far is synced.
    void SyncNow();

    // The log as it stands: rows appended so far, and how often a row could
    // not be logged or a sync failed.
    struct Mark {
        std::uint64_t appended = 0;
        std::uint64_t failures = 0;
    };
    Mark Position() const;
    // Waits (on any thread) until the rows appended between `before` and
    // `after` are on disk. False when none was appended, one could not be
    // logged or synced, or the time ran out.
    bool WaitSynced(const Mark& before, const Mark& after, std::chrono::milliseconds limit);

    // Rows appended to the log since the start, and how many of them are synced:
    // a row is on disk once Synced() has passed the Appended() read right after
    // its post.
    std::uint64_t Appended() const;
    std::uint64_t Synced() const;

private:
    void RecordAdded(RecordHandle record, std::size_t position) override;
    void RecordChanged(RecordHandle) override {}
    void RecordRemoving(RecordHandle, std::size_t) override {}
    void RecordsCleared() override {}

    struct Segment {
        std::uint64_t number = 0;
        std::string path;
    };
    std::vector<Segment> Segments() const;
    void Replay(const std::string& path);
    bool OpenSegment(std::uint64_t number, std::uint64_t fileSize, std::uint32_t fileCrc);
    void CloseSegment();
    void SyncLoop();
    void SetError(const std::string& error);

    MemTable& m_table;
    std::string m_fileName;
    const TableFormat& m_format;

    mutable std::mutex m_lock; // the segment descriptor and the sync state
    std::condition_variable m_wake;
    std::condition_variable m_synced;
    int m_fd = -1;
    std::uint64_t m_segment = 0;
    std::uint64_t m_written = 0; // entries appended
    std::uint64_t m_durable = 0; // entries synced
    std::uint64_t m_failures = 0; // rows not logged, syncs failed
    bool m_stop = false;
    std::string m_error;
    std::thread m_syncThread;

    bool m_logging = false;
    bool m_folding = false;
    std::size_t m_sinceFold = 0;
    std::size_t m_replayed = 0;
};

} // namespace kv
