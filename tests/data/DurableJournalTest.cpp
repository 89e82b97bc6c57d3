#include "data/DurableJournal.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/SmsReceipts.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

using namespace kv::literals;

namespace fs = std::filesystem;
using kv::test::ReadFileBytes;
using kv::test::TempDir;
using kv::test::WriteFileBytes;

// One run of the station's main journal: open, events, and an end that is
// either a clean fold or a crash (the object goes away without folding).
struct Station {
    explicit Station(kv::JournalFiles* files = nullptr) : journal(table, "t3.bin", format, files)
    {
        kv::DefineJournal(table);
        opened = journal.Open("empty", [this](const std::string& m) { messages.push_back(m); }, 45000.0);
    }
    void Event(const std::string& text)
    {
        kv::RecordEvent(table, "S", "+7", text, nullptr, 45000.0 + (++n) / 86400.0);
        journal.FoldIfDue();
    }
    std::uint64_t Tagged(const std::string& tag, const std::string& text)
    {
        return journal.PostTagged(tag, [&] { kv::RecordEvent(table, "S", "+7", text, nullptr, 45000.0 + (++n) / 86400.0); });
    }
    // Newest first, as the journal stands.
    std::vector<std::string> Events() const
    {
        std::vector<std::string> out;
        for (int r = 0; r < table.RecordCount(); ++r)
            out.push_back(table.TextAt(r, table.FindField("event")));
        return out;
    }
    kv::TableFormat format;
    kv::MemTable table{"EventsTable"};
    kv::DurableJournal journal;
    bool opened = false;
    std::vector<std::string> messages;
    int n = 0;
};

const std::string kCreated(kv::kJournalCreated);

std::vector<std::string> LogSegments()
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator("."))
        if (e.path().filename().string().rfind("t3.bin.log.", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DurableJournal, RowsPostedBeforeACrashComeBackOnceAndTheFileIsFolded)
{
    TempDir dir;
    {
        Station first;
        EXPECT_FALSE(first.opened);
        first.Event("a");
        first.Event("b");
        first.journal.SyncNow();
        // Crash: no fold, no save of t3.bin.
    }
    {
        Station second;
        EXPECT_TRUE(second.opened);
        EXPECT_EQ(second.journal.Replayed(), 2u);
        EXPECT_EQ(second.Events(), (std::vector<std::string>{"b", "a", kCreated}));
        second.Event("c");
        second.journal.SyncNow();
        // What a reader of the log's progress sees: only this run's row, synced.
        EXPECT_EQ(second.journal.Appended(), 1u);
        EXPECT_EQ(second.journal.Synced(), 1u);
    }
    Station third;
    EXPECT_EQ(third.Events(), (std::vector<std::string>{"c", "b", "a", kCreated}));
    // The table file alone holds everything after the start's fold.
    kv::MemTable check;
    kv::TableFormat().Load(check, "t3.bin");
    EXPECT_EQ(check.RecordCount(), 4);
    EXPECT_EQ(LogSegments().size(), 1u) << "older segments are removed by the fold";
}

TEST(DurableJournal, ACrashAnywhereInAFoldNeitherLosesNorDuplicates)
{
    // Snapshots of the folder around one fold, then every in-between state a
    // crash can leave, each started on a copy.
    TempDir dir;
    {
        Station run;
        run.Event("a");
        run.Event("b");
        run.journal.SyncNow();
    }
    // Now: t3.bin holds only the "Создание журнала" row; segment 1 holds a, b.
    const std::string oldFile = ReadFileBytes("t3.bin");
    const std::vector<std::string> before = LogSegments();
    ASSERT_EQ(before.size(), 1u);
    const std::string oldSegment = ReadFileBytes(before[0]);
    std::string newFile, newSegment, newSegmentName;
    {
        Station run; // replays a, b and folds: t3.bin new, segment 2 with its fingerprint
        newFile = ReadFileBytes("t3.bin");
        newSegmentName = LogSegments().back();
        newSegment = ReadFileBytes(newSegmentName);
    }
    ASSERT_NE(newSegmentName, before[0]);

    struct State {
        const char* name;
        bool foldFileLeft, renamed, oldSegmentLeft;
    };
    for (const State& s : {State{"new segment written, file not renamed", true, false, true},
                           State{"file renamed, old segment not removed", false, true, true}}) {
        TempDir crash;
        WriteFileBytes("t3.bin", s.renamed ? newFile : oldFile);
        if (s.foldFileLeft)
            WriteFileBytes("t3.bin.fold", newFile);
        if (s.oldSegmentLeft)
            WriteFileBytes(before[0], oldSegment);
        WriteFileBytes(newSegmentName, newSegment);
        Station restart;
        EXPECT_EQ(restart.Events(), (std::vector<std::string>{"b", "a", kCreated})) << s.name;
        EXPECT_FALSE(fs::exists("t3.bin.fold")) << s.name;
    }
}

TEST(DurableJournal, ATornLastEntryIsDroppedAndTheOnesBeforeItKept)
{
    TempDir dir;
    {
        Station run;
        run.Event("a");
        run.Event("b");
        run.journal.SyncNow();
    }
    const std::string segment = LogSegments().back();
    std::string bytes = ReadFileBytes(segment);
    bytes.resize(bytes.size() - 3); // the crash came in the middle of writing "b"
    WriteFileBytes(segment, bytes);
    Station restart;
    EXPECT_EQ(restart.Events(), (std::vector<std::string>{"a", kCreated}));

    // Garbage instead of a segment replays nothing and breaks nothing.
    WriteFileBytes("t3.bin.log.999", std::string(100, '\xff'));
    Station again;
    EXPECT_EQ(again.Events(), (std::vector<std::string>{"a", kCreated}));
}

TEST(DurableJournal, AFoldThatCannotWriteKeepsLoggingAndLosesNothing)
{
    TempDir dir;
    {
        Station run;
        fs::create_directory("t3.bin.fold"); // the fold's file cannot be created
        run.Event("a");
        EXPECT_THROW(run.journal.Fold(), std::exception);
        run.Event("b");
        run.journal.SyncNow();
        fs::remove("t3.bin.fold");
    }
    Station restart;
    EXPECT_EQ(restart.Events(), (std::vector<std::string>{"b", "a", kCreated}));
}

TEST(DurableJournal, AReplacedJournalIsFoldedAtOnceSoItsOldRowsDoNotReturn)
{
    TempDir dir;
    {
        Station run;
        run.Event("a");
        run.journal.Replace([&] {
            run.table.First();
            while (!run.table.IsEmpty())
                run.table.Delete();
        });
        run.Event("b");
        run.journal.SyncNow();
    }
    Station restart;
    EXPECT_EQ(restart.Events(), (std::vector<std::string>{"b"}));
}

TEST(DurableJournal, FoldsByItselfAfterEnoughRowsSoTheLogStaysShort)
{
    TempDir dir;
    Station run;
    for (std::size_t i = 0; i < kv::DurableJournal::kFoldEvery + 3; ++i)
        run.Event(std::to_string(i));
    EXPECT_EQ(run.journal.LoggedSinceFold(), 3u);
    kv::MemTable check;
    kv::TableFormat().Load(check, "t3.bin");
    EXPECT_EQ(check.RecordCount(), static_cast<int>(kv::DurableJournal::kFoldEvery) + 1);
}

} // namespace

namespace {

TEST(DurableJournal, AStartAfterACleanCloseWritesNoTableFileAndLogsOn)
{
    kv::test::TempDir dir;
    {
        Station first;
        first.Event("a");
        first.journal.Fold(); // the close
    }
    const auto written = std::filesystem::last_write_time("t3.bin");
    const std::vector<std::string> segments = LogSegments();
    ASSERT_EQ(segments.size(), 1u);
    {
        Station second;
        EXPECT_EQ(std::filesystem::last_write_time("t3.bin"), written) << "nothing to fold: no full save at start";
        EXPECT_EQ(LogSegments(), segments);
        second.Event("b");
        second.journal.SyncNow();
    }
    Station third;
    EXPECT_EQ(third.Events(), (std::vector<std::string>{"b", "a", kCreated}));
}

} // namespace

namespace {

TEST(DurableJournal, AJournalFileWithoutALogIsTakenAsItIsAndLoggedFromThere)
{
    // A journal written before logging existed, or copied in by a maintainer.
    kv::test::TempDir dir;
    {
        kv::MemTable old;
        kv::DefineJournal(old);
        kv::RecordEvent(old, "S", "+7", "old", nullptr, 44000.0);
        kv::TableFormat().Save(old, "t3.bin");
    }
    const auto written = std::filesystem::last_write_time("t3.bin");
    {
        Station first;
        EXPECT_TRUE(first.opened);
        EXPECT_EQ(std::filesystem::last_write_time("t3.bin"), written);
        first.Event("new");
        first.journal.SyncNow();
    }
    Station second;
    EXPECT_EQ(second.Events(), (std::vector<std::string>{"new", "old"}));
}

// A worker waits, off the UI thread, for its row to be on disk before it lets
// go of what the row stands for.
TEST(DurableJournal, AWorkerCanWaitForItsRowsToBeOnDisk)
{
    TempDir dir;
    Station st;
    EXPECT_FALSE(st.journal.WaitDurable(0, std::chrono::milliseconds(10))) << "no row, nothing to wait for";
    const std::uint64_t a = st.Tagged("", "a");
    const std::uint64_t b = st.Tagged("", "b");
    EXPECT_EQ(b, a + 1);
    EXPECT_TRUE(st.journal.WaitDurable(b, std::chrono::seconds(5)));
    EXPECT_TRUE(st.journal.IsDurable(a));
    // Once logging has stopped a row is in the table only: not on disk.
    st.journal.Close();
    EXPECT_EQ(st.Tagged("", "c"), 0u);
}

TEST(JournalHoldsEvent, FindsARowAsRecordEventStoredItSinceAMoment)
{
    kv::MemTable journal;
    kv::DefineJournal(journal);
    kv::RecordEvent(journal, "S", "+7911", "Old\r\ntext", nullptr, 45000.0);
    kv::RecordEvent(journal, "S", "+7911", "Line\r\nbreak", nullptr, 45001.0);
    kv::RecordEvent(journal, "S", "+7911", std::string(300, 'x'), nullptr, 45002.0);
    EXPECT_TRUE(kv::JournalHoldsEvent(journal, "+7911", "Line\r\nbreak", 45000.5));
    EXPECT_TRUE(kv::JournalHoldsEvent(journal, "+7911", std::string(300, 'x'), 45000.5)) << "cut to its width";
    EXPECT_FALSE(kv::JournalHoldsEvent(journal, "+7911", "Old\r\ntext", 45000.5)) << "written before";
    EXPECT_FALSE(kv::JournalHoldsEvent(journal, "+7922", "Line\r\nbreak", 45000.5));
}

TEST(SmsReceipts, KeptInTheirFileAcrossARestart)
{
    TempDir dir;
    const std::string a = kv::SmsReceipts::KeyOf(3, "+7911", "24/05/01,10:00:00+12", "0041");
    const std::string b = kv::SmsReceipts::KeyOf(4, "+7911", "24/05/01,10:00:00+12", "0041");
    EXPECT_NE(a, b);
    EXPECT_NE(a, kv::SmsReceipts::KeyOf(3, "+7911", "24/05/01,10:00:01+12", "0041"));
    {
        kv::SmsReceipts receipts("t3.bin.sms");
        ASSERT_TRUE(receipts.Add(a, 45000.25));
        ASSERT_TRUE(receipts.Add(b, 45000.5));
        receipts.Remove(b);
    }
    kv::SmsReceipts again("t3.bin.sms");
    again.Load();
    EXPECT_EQ(again.Find(a), 45000.25);
    EXPECT_EQ(again.Find(b), std::nullopt);
    again.KeepOnly({});
    EXPECT_EQ(again.Size(), 0u);

    // A damaged file is an empty store, not a failed start.
    WriteFileBytes("t3.bin.sms", std::string("\x01\x02garbage", 9));
    kv::SmsReceipts damaged("t3.bin.sms");
    damaged.Load();
    EXPECT_EQ(damaged.Size(), 0u);
}

} // namespace

namespace {

// The log's system calls with a full or failing disk put in on request.
class FaultyFiles final : public kv::JournalFiles {
public:
    ssize_t Write(int fd, const void* data, std::size_t size) override
    {
        const int room = room_.load();
        if (room == 0) {
            errno = ENOSPC;
            return -1;
        }
        if (room > 0) {
            // A disk filling up: what fits goes, the rest fails.
            const std::size_t n = std::min<std::size_t>(size, static_cast<std::size_t>(room));
            room_ -= static_cast<int>(n);
            return kv::JournalFiles::Write(fd, data, n);
        }
        return kv::JournalFiles::Write(fd, data, size);
    }
    int DataSync(int fd) override
    {
        if (syncError_) {
            errno = syncError_;
            return -1;
        }
        return kv::JournalFiles::DataSync(fd);
    }
    int Truncate(int fd, off_t size) override
    {
        if (truncateFails_) {
            errno = EIO;
            return -1;
        }
        return kv::JournalFiles::Truncate(fd, size);
    }
    // Bytes left on the disk; below 0: no limit.
    std::atomic<int> room_{-1};
    std::atomic<int> syncError_{0};
    std::atomic<bool> truncateFails_{false};
};

bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

TEST(DurableJournal, AShortWriteNeverLeavesLaterRowsBehindATornEntry)
{
    // Cut back to the last whole entry, or (when the cut fails too) a new segment.
    for (const bool truncateFails : {false, true}) {
        SCOPED_TRACE(truncateFails ? "cut fails" : "cut works");
        TempDir dir;
        FaultyFiles files;
        {
            Station run(&files);
            run.Event("a");
            run.journal.SyncNow();
            files.truncateFails_ = truncateFails;
            files.room_ = 40; // "b" goes in part, then the disk is full
            const std::uint64_t b = run.Tagged("B", "b");
            const kv::DurableJournal::Health full = run.journal.State();
            EXPECT_FALSE(full.ok);
            EXPECT_EQ(full.reason, kv::Str("нет места на диске"_cp));
            EXPECT_EQ(run.journal.StateOf("B"), kv::DurableJournal::TagState::Pending);
            EXPECT_FALSE(run.journal.WaitDurable(b, std::chrono::milliseconds(50)));
            files.room_ = -1; // space again
            run.Event("c");
            const std::uint64_t d = run.Tagged("", "d");
            EXPECT_TRUE(run.journal.WaitDurable(d, std::chrono::seconds(5)));
            EXPECT_TRUE(run.journal.IsDurable(b)) << "the row that failed is written again, in order";
            EXPECT_TRUE(WaitFor([&] { return run.journal.State().ok; }));
            EXPECT_EQ(run.journal.State().failures, 1u);
            EXPECT_EQ(run.journal.StateOf("B"), kv::DurableJournal::TagState::Durable);
            files.truncateFails_ = false;
            // Crash: no fold.
        }
        Station restart;
        EXPECT_EQ(restart.Events(), (std::vector<std::string>{"d", "c", "b", "a", kCreated}));
    }
}

TEST(DurableJournal, ASyncThatFailsForAWhileHoldsRowsThenWritesThemOnce)
{
    TempDir dir;
    FaultyFiles files;
    std::uint64_t last = 0;
    {
        Station run(&files);
        run.Event("a");
        run.journal.SyncNow();
        files.syncError_ = EIO;
        const std::uint64_t b = run.Tagged("B", "b");
        EXPECT_FALSE(run.journal.WaitDurable(b, std::chrono::seconds(5)));
        EXPECT_EQ(run.journal.State().reason, kv::Str("ошибка ввода-вывода"_cp));
        EXPECT_EQ(run.journal.StateOf("B"), kv::DurableJournal::TagState::Pending);
        run.Event("c"); // while the disk still fails
        EXPECT_THROW(run.journal.Fold(), std::exception) << "a fold cannot sync its segment either";
        EXPECT_FALSE(fs::exists("t3.bin.fold"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // a retry or two fail as well
        EXPECT_FALSE(run.journal.IsDurable(b));
        files.syncError_ = 0;
        last = run.Tagged("", "d");
        EXPECT_TRUE(run.journal.WaitDurable(last, std::chrono::seconds(5)));
        EXPECT_TRUE(run.journal.IsDurable(b));
        EXPECT_EQ(run.journal.StateOf("B"), kv::DurableJournal::TagState::Durable);
        EXPECT_TRUE(WaitFor([&] { return run.journal.State().ok; }));
        EXPECT_GE(LogSegments().size(), 2u) << "written again in a new segment";
    }
    Station restart;
    EXPECT_EQ(restart.Events(), (std::vector<std::string>{"d", "c", "b", "a", kCreated}));
    // Sequence numbers go on rising across the restart.
    EXPECT_GT(restart.Tagged("", "e"), last);
}

TEST(DurableJournal, TagsSurviveFoldsAndRestartsUntilForgotten)
{
    TempDir dir;
    using State = kv::DurableJournal::TagState;
    {
        Station run;
        run.Tagged("k1", "one");
        run.Tagged("k2", "two");
        run.journal.SyncNow();
        EXPECT_EQ(run.journal.StateOf("k1"), State::Durable);
        EXPECT_EQ(run.journal.StateOf("k3"), State::Unknown);
        run.journal.Fold();
        run.journal.ForgetTag("k2");
        EXPECT_EQ(run.journal.StateOf("k1"), State::Durable);
        EXPECT_EQ(run.journal.StateOf("k2"), State::Unknown);
        run.journal.Fold(); // the clean close
    }
    {
        Station run; // nothing to replay: a new segment carries the tags
        EXPECT_EQ(run.journal.StateOf("k1"), State::Durable);
        run.Tagged("k3", "three");
        run.journal.SyncNow();
    }
    Station restart; // replays "three" and folds
    EXPECT_EQ(restart.journal.StateOf("k1"), State::Durable);
    EXPECT_EQ(restart.journal.StateOf("k2"), State::Unknown);
    EXPECT_EQ(restart.journal.StateOf("k3"), State::Durable);
    EXPECT_EQ(restart.Events(), (std::vector<std::string>{"three", "two", "one", kCreated}));
}

// A segment as the station wrote it before entries had numbers: one text field
// per entry.
std::string VersionOneSegment(const std::vector<std::string>& events)
{
    const auto put = [](std::string& out, auto v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
    const auto crc = [](const std::string& b) {
        return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(b.data()), static_cast<uInt>(b.size())));
    };
    std::string out("KVJL");
    put(out, std::uint32_t{1});
    put(out, std::uint64_t{0});
    put(out, std::uint32_t{0});
    put(out, std::uint32_t{0});
    put(out, crc(out));
    for (const std::string& e : events) {
        std::string payload;
        put(payload, std::uint16_t{1});
        payload += '\x05';
        payload += "event";
        payload += 's';
        payload += '\0';
        put(payload, static_cast<std::uint32_t>(e.size()));
        payload += e;
        put(out, static_cast<std::uint32_t>(payload.size()));
        put(out, crc(payload));
        out += payload;
    }
    return out;
}

TEST(DurableJournal, AnOlderSegmentStillReplaysAndADamagedOneEndsOnlyItself)
{
    TempDir dir;
    std::string one = VersionOneSegment({"v1a", "v1b", "v1c"});
    one.resize(one.size() - 2); // torn in "v1c"
    WriteFileBytes("t3.bin.log.1", one);
    WriteFileBytes("t3.bin.log.2", VersionOneSegment({"v1d"}));
    {
        Station run;
        EXPECT_EQ(run.Events(), (std::vector<std::string>{"v1d", "v1b", "v1a", kCreated}));
        run.Event("new");
        run.journal.SyncNow();
    }
    Station restart;
    EXPECT_EQ(restart.Events(), (std::vector<std::string>{"new", "v1d", "v1b", "v1a", kCreated}));
}

} // namespace

namespace {

using Numbered = std::vector<std::pair<std::uint64_t, std::string>>;

// What a reader beside the station finds: every row with its number, newest first.
Numbered ReadNumbered()
{
    kv::MemTable table;
    std::vector<std::uint64_t> seqs;
    kv::DurableJournal::ReadWithLog(table, "t3.bin", kv::TableFormat(), seqs);
    Numbered out;
    for (int r = 0; r < table.RecordCount(); ++r)
        out.emplace_back(seqs.at(static_cast<std::size_t>(r)), table.TextAt(r, table.FindField("event")));
    return out;
}

TEST(DurableJournal, ARowKeepsTheNumberItsPostHadInTheLogTheFileAndAfterAReplace)
{
    TempDir dir;
    Numbered observed;
    const auto observe = [&](std::uint64_t seq, const kv::MemTable& t, kv::RecordHandle r) {
        observed.emplace_back(seq, std::string(t.TextView(r, t.FindField("event"))));
    };
    {
        Station run;
        run.journal.SetRowObserver(observe);
        run.Event("a");
        run.Event("b");
        run.journal.Fold();
        run.Event("c"); // in the log only: the run ends in a crash
        run.journal.SyncNow();
    }
    EXPECT_EQ(ReadNumbered(), (Numbered{{3, "c"}, {2, "b"}, {1, "a"}, {0, kCreated}}));
    {
        Station restart;
        restart.journal.SetRowObserver(observe);
        restart.Event("d");
        // Rows a replace leaves take the next numbers, as if posted, though unobserved.
        restart.journal.Replace([&] {
            restart.table.First();
            while (!restart.table.IsEmpty())
                restart.table.Delete();
            kv::RecordEvent(restart.table, "S", "+7", "x", nullptr, 45001.0);
            kv::RecordEvent(restart.table, "S", "+7", "y", nullptr, 45001.0);
        });
        restart.Event("e");
        restart.journal.SyncNow();
        EXPECT_EQ(restart.journal.DurableSeq(), 7u);
    }
    EXPECT_EQ(ReadNumbered(), (Numbered{{7, "e"}, {6, "y"}, {5, "x"}}));
    EXPECT_EQ(observed, (Numbered{{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {7, "e"}}));
}

} // namespace
