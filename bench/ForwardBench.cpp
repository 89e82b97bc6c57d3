// How fast one receiver's journal reaches the centre (not a Google Benchmark).
// Run beside a database: tests/centre/with-postgres.sh build/bin/forward_bench
//   rows an hour: a burst posted as fast as the journal takes it, forwarded
//     live, then the same rows read back from the files by a station with no mark;
//   desk: from a row on the station's disk to its arrival in another
//     desk's feed (Take), rows posted at 10 a second;
//   latency: from a row on the station's disk to the NOTIFY another
//     connection (a desk) gets for it, one row at a time;
//   alarms: a burst whose every row opens an alarm (one in ten a stranger's,
//     whose open alarms are looked up), forwarded live.
#include "centre/DeskFeed.h"
#include "centre/Forwarder.h"
#include "centre/Pg.h"
#include "data/DurableJournal.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Text.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace kv::literals;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Journals {
    Journals()
    {
        kv::DefineJournal(main);
        kv::DefineJournal(ring);
        mainLog.Open("empty", nullptr, 46000.0);
        ringLog.Open("empty", nullptr, 46000.0);
    }
    std::vector<kv::centre::ForwardedJournal> List() { return {{"main", "t3.bin", &mainLog}, {"ring", "t6.bin", &ringLog}}; }
    kv::TableFormat format;
    kv::MemTable main{"EventsTable"}, ring{"DialEventsTable"};
    kv::DurableJournal mainLog{main, "t3.bin", format}, ringLog{ring, "t6.bin", format};
};

kv::centre::ForwarderOptions Options(const std::string& conninfo, const std::string& station)
{
    kv::centre::ForwarderOptions o;
    o.connection = conninfo;
    o.station = station;
    o.markFile = station + ".mark";
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    const char* server = std::getenv("KV_TEST_PG");
    if (!server) {
        std::fprintf(stderr, "forward_bench: run it through tests/centre/with-postgres.sh\n");
        return 2;
    }
    const int rows = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 200;
    // Rows at ten a second: 50 s by default.
    const int deskRows = argc > 3 ? std::atoi(argv[3]) : 500;
    const std::string conninfo = std::string(server) + " dbname=postgres";
    kv::test::TempDir dir;
    Journals files;

    // Live: posted as fast as the journal takes them, while the forwarder runs.
    {
        kv::centre::Forwarder forwarder(Options(conninfo, "live"), files.List());
        forwarder.Start();
        if (!forwarder.WaitCaughtUp(30s))
            return 1;
        const auto start = Clock::now();
        for (int i = 0; i < rows; ++i)
            kv::RecordEvent(files.main, "S", "+79001112233", kv::Str("Поставлено на охрану "_cp) + std::to_string(i), nullptr,
                            46000.0 + i / 86400.0);
        files.mainLog.SyncNow();
        if (!forwarder.WaitCaughtUp(600s))
            return 1;
        const double s = Seconds(Clock::now() - start);
        std::printf("live:     %d rows in %.2f s: %.0f rows/s, %.0f rows/h\n", rows, s, rows / s, rows / s * 3600);
    }
    // Catch-up: every row read back from the files, nothing held in memory.
    {
        const auto start = Clock::now();
        kv::centre::Forwarder forwarder(Options(conninfo, "catchup"), files.List());
        forwarder.Start();
        if (!forwarder.WaitCaughtUp(600s))
            return 1;
        const double s = Seconds(Clock::now() - start);
        std::printf("catch-up: %d rows in %.2f s: %.0f rows/s, %.0f rows/h\n", rows, s, rows / s, rows / s * 3600);
    }
    // A desk's feed: on disk, then in the rows a desk takes.
    {
        std::mutex lock;
        std::condition_variable woken;
        bool news = false;
        kv::centre::DeskFeedOptions options;
        options.connection = conninfo;
        kv::centre::DeskFeed feed(options, [&] {
            std::lock_guard hold(lock);
            news = true;
            woken.notify_all();
        });
        kv::centre::Forwarder forwarder(Options(conninfo, "desk"), files.List());
        forwarder.Start();
        if (!forwarder.WaitCaughtUp(600s))
            return 1;
        feed.Start();
        // Up to date first: the rows of the runs before.
        for (auto until = Clock::now() + 30s; feed.State() != kv::centre::Link::Connected; std::this_thread::sleep_for(10ms))
            if (Clock::now() > until)
                return 1;
        std::this_thread::sleep_for(500ms);
        feed.Take();
        std::vector<double> ms;
        auto next = Clock::now();
        for (int i = 0; i < deskRows; ++i) {
            std::this_thread::sleep_until(next);
            next += 100ms;
            kv::RecordEvent(files.main, "S", "+79001112233", kv::Str("Внимание ТРЕВОГА "_cp) + std::to_string(i), nullptr,
                            46002.0 + i / 86400.0);
            const long long seq = static_cast<long long>(files.mainLog.DurableSeq()) + 1;
            files.mainLog.SyncNow();
            const auto onDisk = Clock::now();
            bool seen = false;
            while (!seen && Clock::now() - onDisk < 5s) {
                {
                    std::unique_lock hold(lock);
                    woken.wait_for(hold, 100ms, [&] { return news; });
                    news = false;
                }
                for (const kv::centre::FeedEvent& e : feed.Take().events)
                    seen = seen || (e.station == "desk" && e.journal == "main" && e.seq == seq);
            }
            if (!seen)
                return 1;
            ms.push_back(Seconds(Clock::now() - onDisk) * 1000);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("desk:     %d rows at 10/s, disk to another desk's feed: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                    deskRows, ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    }
    // Latency: on disk, then told to a listening desk.
    {
        kv::pg::Connection desk(conninfo);
        desk.Connect();
        desk.Exec("LISTEN korvalen_events");
        kv::centre::Forwarder forwarder(Options(conninfo, "latency"), files.List());
        forwarder.Start();
        if (!forwarder.WaitCaughtUp(600s))
            return 1;
        desk.Notifications();
        std::vector<double> ms;
        for (int i = 0; i < samples; ++i) {
            kv::RecordEvent(files.main, "S", "+79001112233", kv::Str("Внимание ТРЕВОГА "_cp) + std::to_string(i), nullptr,
                            46001.0 + i / 86400.0);
            const std::uint64_t seq = files.mainLog.DurableSeq() + 1;
            files.mainLog.SyncNow();
            const auto onDisk = Clock::now();
            const std::string wanted = "\"seq\" : " + std::to_string(seq) + "}";
            bool seen = false;
            while (!seen && Clock::now() - onDisk < 5s) {
                pollfd p{desk.Socket(), POLLIN, 0};
                ::poll(&p, 1, 100);
                for (const auto& [channel, payload] : desk.Notifications())
                    seen = seen || (payload.find("\"latency\"") != std::string::npos &&
                                    payload.find(wanted) != std::string::npos);
            }
            if (!seen)
                return 1;
            ms.push_back(Seconds(Clock::now() - onDisk) * 1000);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("latency:  %d rows, disk to a listening desk: median %.2f ms, p95 %.2f ms, max %.2f ms\n", samples,
                    ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    }
    // Alarms: rows of their own, in a folder of their own.
    {
        kv::test::TempDir alarmsDir;
        Journals alarmFiles;
        kv::centre::Forwarder forwarder(Options(conninfo, "alarms"), alarmFiles.List());
        forwarder.Start();
        if (!forwarder.WaitCaughtUp(30s))
            return 1;
        const std::string text = kv::Str("Новое сообщение:Внимание, сработал датчик движения"_cp);
        const auto start = Clock::now();
        for (int i = 0; i < rows; ++i) {
            const bool stranger = i % 10 == 0;
            const std::string tel = "+7900" + std::to_string(stranger ? 5000000 + i : 1000000 + i % 900);
            kv::RecordEvent(alarmFiles.main, "Тревога"_cp, tel, text,
                            [&](const std::string&) { return stranger ? std::string() : kv::Str("Склад"_cp); },
                            46000.0 + i / 86400.0);
        }
        alarmFiles.mainLog.SyncNow();
        if (!forwarder.WaitCaughtUp(600s))
            return 1;
        const double s = Seconds(Clock::now() - start);
        kv::pg::Connection db(conninfo);
        db.Connect();
        const long long opened = db.Exec("SELECT count(*) FROM alarms WHERE station = 'alarms'").Integer(0, 0);
        std::printf("alarms:   %d rows, %lld alarms opened, in %.2f s: %.0f rows/s, %.0f rows/h\n", rows, opened, s,
                    rows / s, rows / s * 3600);
        if (opened != rows)
            return 1;
    }
    return 0;
}
