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
//
// Every entry has a sequence number, rising across restarts, and may carry a
// tag (a worker's name for what the row stands for). A write that fails or
// comes up short is cut back, or its segment given up for a new one, so that
// no entry is ever appended behind a torn one; rows not yet on disk are kept
// encoded in memory and written again until a sync covers them.
#include "data/MemTable.h"
#include "data/RecordEvent.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace kv {

class TableFormat;

// The few calls the log makes on its descriptors; tests put failures in here.
class JournalFiles {
public:
    virtual ~JournalFiles() = default;
    virtual ssize_t Write(int fd, const void* data, std::size_t size);
    virtual int DataSync(int fd);
    virtual int Truncate(int fd, off_t size);
};

class DurableJournal final : private IRecordListener {
public:
    // A fold follows on its own after this many logged rows, so that the log
    // and the replay at start stay short.
    static constexpr std::size_t kFoldEvery = 5000;
    // How often the sync thread tries again while the disk fails.
    static constexpr std::chrono::milliseconds kRetryEvery{1000};

    // `files` (kept by the caller) stands in for the system calls; none: POSIX.
    DurableJournal(MemTable& table, std::string fileName, const TableFormat& format, JournalFiles* files = nullptr);
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
    // The same, and the sequence number of every row in table order (the
    // newest first); 0 for a row older than the numbering. The table file's
    // rows are numbered down from the base of the segment that names it, since
    // every numbered row went in front of the journal.
    static std::size_t ReadWithLog(MemTable& table, const std::string& fileName, const TableFormat& format,
                                   std::vector<std::uint64_t>& seqs);

    // Writes the whole table to its file and starts an empty log. Throws
    // ETableFileError when the file cannot be written; the log then goes on.
    void Fold();

    // The fold that follows every kFoldEvery logged rows; call it after a post
    // (not from inside one). A failure is kept in LogError and logging goes on.
    void FoldIfDue();

    // Runs `change` (a clear, a journal opened from another file) without
    // logging its rows, then folds, so that the table file matches at once.
    // The rows it leaves take the next numbers, as if posted: the file's rows
    // stay numbered by their place.
    void Replace(const std::function<void()>& change);

    // Syncs what was logged and stops logging (no fold).
    void Close();

    std::size_t LoggedSinceFold() const { return m_sinceFold; }
    std::size_t Replayed() const { return m_replayed; }
    // The last failure to write or sync the log; empty when none.
    std::string LogError() const;

    // For tests: waits until everything appended so far is synced, or a
    // write or sync fails.
    void SyncNow();

    // Runs `post` (one row posted to the table) with `tag` on its entry and
    // returns the entry's sequence number; 0 when the row was not logged.
    std::uint64_t PostTagged(const std::string& tag, const std::function<void()>& post);
    // Waits (on any thread) until entry `seq` is on disk; false when the time
    // runs out or a write or sync fails meanwhile (the entry is still written later).
    bool WaitDurable(std::uint64_t seq, std::chrono::milliseconds limit);
    bool IsDurable(std::uint64_t seq) const;
    // The number of the row posted last (0: none logged yet).
    std::uint64_t LastSeq() const;
    // Every entry up to this sequence number is on disk.
    std::uint64_t DurableSeq() const;

    // Called on the posting thread with each logged row's sequence number, the
    // row readable; set before logging starts or on that thread.
    using RowObserver = std::function<void(std::uint64_t seq, const MemTable& table, RecordHandle record)>;
    void SetRowObserver(RowObserver observer) { m_observer = std::move(observer); }

    enum class TagState { Unknown, Pending, Durable };
    // Whether the row logged with `tag` is on disk, logged but not yet on disk,
    // or not logged at all (as far as this journal remembers).
    TagState StateOf(const std::string& tag) const;
    // What the tag stands for is done with: it is no longer carried into new segments.
    void ForgetTag(const std::string& tag);
    // The rows on disk whose tags begin with `prefix`: their numbers and tags.
    std::map<std::uint64_t, std::string> TaggedRows(std::string_view prefix) const;

    // Whether writing works now, and the reason (CP1251) of the failure that
    // began the last failure period (kept after it ended).
    struct Health {
        bool ok = true;
        std::string reason;
        std::uint64_t failures = 0; // failure periods since the start
    };
    Health State() const;

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
    struct Pending {
        std::uint64_t seq = 0;
        std::string tag;
        std::string entry; // as written to the log
        bool written = false;
    };
    std::vector<Segment> Segments() const;
    // Returns whether the segment was read to its end without damage.
    bool Replay(const std::string& path, std::uint64_t& highest, bool fromFile);
    // All under m_lock: a new segment with the live tags and every pending
    // entry in it, synced before it replaces the one in use.
    bool OpenSegmentLocked(std::uint64_t number, std::uint64_t fileSize, std::uint32_t fileCrc);
    bool OpenSegment(std::uint64_t number, std::uint64_t fileSize, std::uint32_t fileCrc);
    // Writes the pending entries not yet written, in order; on a failure cuts
    // the segment back to its last whole entry or gives it up.
    void FlushLocked();
    void FailLocked(int error);
    void RecoveredLocked();
    void MarkDurableLocked(std::uint64_t seq);
    void SyncLoop();
    void SetError(const std::string& error);

    MemTable& m_table;
    std::string m_fileName;
    const TableFormat& m_format;
    JournalFiles m_posix;
    JournalFiles& m_files;

    mutable std::mutex m_lock; // the segment descriptor, the pending entries, the tags
    std::condition_variable m_wake;
    std::condition_variable m_synced;
    int m_fd = -1;
    bool m_needSegment = false;     // the segment in use was given up
    std::uint64_t m_segment = 0;
    std::uint64_t m_segmentSize = 0; // bytes of whole entries in it
    std::uint64_t m_generation = 0;  // bumped when the segment changes
    std::uint64_t m_firstSeq = 0;    // the last seq before this run
    std::uint64_t m_lastSeq = 0;     // the last seq given out
    std::uint64_t m_durableSeq = 0;  // every entry up to this one is on disk
    std::uint64_t m_writtenSeq = 0;  // every entry up to this one is written
    std::deque<Pending> m_pending;
    std::map<std::string, std::uint64_t, std::less<>> m_tags; // durable tags
    std::string m_nextTag;
    std::uint64_t m_postedSeq = 0;
    bool m_failing = false;
    std::string m_reason;
    std::uint64_t m_failurePeriods = 0;
    std::uint64_t m_failEvents = 0; // every failed write, cut, segment or sync
    bool m_stop = false;
    std::string m_error;
    std::thread m_syncThread;

    RowObserver m_observer;
    std::vector<std::uint64_t>* m_replaySeqs = nullptr; // ReadWithLog's numbering

    bool m_logging = false;
    bool m_folding = false;
    std::size_t m_sinceFold = 0;
    std::size_t m_replayed = 0;
};

} // namespace kv
