// How long a device's report takes from the modem's SIM to the journal on disk
// and to its tile: the whole station in-process against the modem simulator,
// reports stored at random moments, then a burst of them at once; with the
// modem's new-message indications available and without them (the memory poll
// alone). Not a Google Benchmark: it prints its figures.
//
// Usage: alarm_latency [--reports N] [--burst N] [--family NAME] [--parts N]
//                      [--indications on|off|both] [--gap MIN-MAX] [--limit SECONDS] [--seed N]
//
// With --parts each report is a long message of that many parts (UCS2, in part
// order); it counts as arrived when its last part is in the SIM.
//
// A report counts as arrived when the simulator's `sms` command has answered
// (the message is in the SIM, or waits at the network when the SIM is full);
// on disk when the journal's log has synced its row; on the tile when the
// device's guard state has changed to what the report says.
#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/Text.h"
#include "station/mainunit.h"
#include "tests/e2e/LiveStation.h"
#include "tests/support/Cp1251.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"
#include "timing/UiThread.h"

#include <QApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace kv::literals;

struct Options {
    int reports = 20;
    int burst = 20;
    std::string family;
    std::vector<bool> indications = {true, false};
    double gapMin = 3, gapMax = 10; // seconds between the random reports
    int limit = 120;                 // seconds allowed after the last arrival
    unsigned seed = 1;
    int parts = 1;
};

const std::string kTag = "rep";

// What happened to one report.
struct Report {
    int device = 0;
    std::uint8_t guard = 0; // the state the report puts the tile in
    Clock::time_point arrived;
    std::optional<Clock::time_point> row;
    std::uint64_t entry = 0; // the journal log's count right after its row
    int rows = 0;
    bool wrongName = false;
};

struct Change {
    Clock::time_point at;
    std::uint64_t value;
};

// Sees the journal's rows on the UI thread; samples the log's synced count and
// the tiles on a thread of its own, every millisecond.
class Watch final : public kv::IRecordListener {
public:
    Watch(kv::TForm1& form, std::vector<int> tiles, std::vector<std::string> names)
        : m_form(form), m_tiles(std::move(tiles)), m_names(std::move(names)), m_tileChanges(m_tiles.size())
    {
        m_form.EventsTable.AddRecordListener(this);
        m_sampler = std::thread([this] { Sample(); });
    }
    ~Watch() override
    {
        Stop();
        m_form.EventsTable.RemoveRecordListener(this);
    }
    void Stop()
    {
        m_stop = true;
        if (m_sampler.joinable())
            m_sampler.join();
    }

    std::vector<Report> reports;
    int falseErrors = 0;

    // The first sample of the synced count that covers the report's row.
    std::optional<Clock::time_point> OnDisk(const Report& r) const
    {
        if (!r.row)
            return std::nullopt;
        for (const Change& c : m_synced)
            if (c.value >= r.entry)
                return std::max(c.at, *r.row);
        return std::nullopt;
    }
    std::optional<Clock::time_point> OnTile(const Report& r) const
    {
        // The first change to this report's state after it arrived; reports to
        // one device alternate, so a change left over from its previous report
        // has the other value.
        for (const Change& c : m_tileChanges[static_cast<std::size_t>(r.device)])
            if (c.at >= r.arrived && c.value == r.guard)
                return c.at;
        return std::nullopt;
    }
    bool Done(const std::vector<int>& which) const
    {
        for (const int i : which) {
            const Report& r = reports[static_cast<std::size_t>(i)];
            if (!r.row || m_form.EventsLog->Synced() < r.entry)
                return false;
        }
        return true;
    }

private:
    void RecordAdded(kv::RecordHandle record, std::size_t) override
    {
        const kv::MemTable& t = m_form.EventsTable;
        const std::string_view event = t.TextView(record, kv::journal::Event);
        if (event.find("Ошибка в SMS-сообщении:"_cp) != std::string_view::npos)
            ++falseErrors;
        const std::size_t tag = event.rfind(kTag);
        if (tag == std::string_view::npos)
            return;
        const int n = std::atoi(std::string(event.substr(tag + kTag.size())).c_str());
        if (n < 0 || n >= static_cast<int>(reports.size()))
            return;
        Report& r = reports[static_cast<std::size_t>(n)];
        if (++r.rows > 1)
            return;
        r.row = Clock::now();
        // The log's own listener came first (it was added at the start).
        r.entry = m_form.EventsLog->Appended();
        r.wrongName = t.TextView(record, kv::journal::SimpleName) != m_names[static_cast<std::size_t>(r.device)];
    }
    void RecordChanged(kv::RecordHandle) override {}
    void RecordRemoving(kv::RecordHandle, std::size_t) override {}
    void RecordsCleared() override {}

    void Sample()
    {
        std::uint64_t synced = ~0ull;
        std::vector<std::uint64_t> guard(m_tiles.size(), ~0ull);
        while (!m_stop) {
            const auto now = Clock::now();
            const std::uint64_t s = m_form.EventsLog->Synced();
            if (s != synced)
                m_synced.push_back({now, synced = s});
            for (std::size_t d = 0; d < m_tiles.size(); ++d) {
                const std::uint64_t g = m_form.Tiles.GuardStates[static_cast<std::size_t>(m_tiles[d])].load();
                if (g != guard[d])
                    m_tileChanges[d].push_back({now, guard[d] = g});
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    kv::TForm1& m_form;
    std::vector<int> m_tiles;
    std::vector<std::string> m_names;
    std::atomic<bool> m_stop{false};
    std::vector<Change> m_synced;
    std::vector<std::vector<Change>> m_tileChanges;
    std::thread m_sampler;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Figures {
    std::vector<double> values;
    int missing = 0;
    void Print(const char* what) const
    {
        if (values.empty()) {
            std::printf("  %-14s none of %d\n", what, missing);
            return;
        }
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
        std::printf("  %-14s median %6.2f s   worst %6.2f s   best %6.2f s   count %zu", what, median, v.back(),
                    v.front(), v.size());
        if (missing)
            std::printf("   (%d never)", missing);
        std::printf("\n");
    }
};

// Figures of the reports `which`: SIM to disk, SIM to tile.
void Summarise(const Watch& watch, const std::vector<int>& which, Figures& disk, Figures& tile)
{
    for (const int i : which) {
        const Report& r = watch.reports[static_cast<std::size_t>(i)];
        if (const auto t = watch.OnDisk(r))
            disk.values.push_back(Seconds(*t - r.arrived));
        else
            ++disk.missing;
        if (const auto t = watch.OnTile(r))
            tile.values.push_back(Seconds(*t - r.arrived));
        else
            ++tile.missing;
    }
}

void PrintRows(const Watch& watch, const std::vector<int>& which)
{
    int journalled = 0, twice = 0, wrongName = 0;
    for (const int i : which) {
        const Report& r = watch.reports[static_cast<std::size_t>(i)];
        journalled += r.rows > 0;
        twice += r.rows > 1;
        wrongName += r.wrongName;
    }
    std::printf("  rows: %d of %zu journalled, %d more than once, %d with a wrong short name\n", journalled,
                which.size(), twice, wrongName);
}

// Stores one report in modem 1's SIM; its arrival is the simulator's answer.
void Send(kv::test::ModemSim& sim, Watch& watch, const std::vector<kv::test::Reporter>& devices,
          std::vector<int>& perDevice, int n, int parts)
{
    Report r;
    r.device = n % static_cast<int>(devices.size());
    const bool arm = perDevice[static_cast<std::size_t>(r.device)]++ % 2 == 0;
    r.guard = arm ? 2 : 1;
    const std::string text = std::string(arm ? "Поставлено на охрану" : "Снято с охраны") + " " + kTag +
                             std::to_string(n);
    watch.reports.push_back(r);
    const std::string& number = devices[static_cast<std::size_t>(r.device)].number;
    if (parts > 1) {
        // 67 UCS2 characters a part: the marker first, then filler to the last part, the tag at the end.
        std::string filler;
        for (int chars = 0; chars < 67 * (parts - 1) - 10; chars += 4)
            filler += " цех";
        sim.Command("longsms 1 " + number + " coding=ucs2 " + text.substr(0, text.rfind(' ')) + filler + " " + kTag +
                    std::to_string(n));
    } else {
        sim.Command("sms 1 " + number + " " + text);
    }
    watch.reports.back().arrived = Clock::now();
}

void WaitFor(const Watch& watch, const std::vector<int>& which, Clock::time_point deadline)
{
    kv::WaitServing([&] { return watch.Done(which) || Clock::now() >= deadline; },
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()) + 100ms);
    // Let the tiles follow a last row, whichever comes first.
    kv::test::ServeFor(200ms);
}

bool StationAskedForIndications(kv::test::ModemSim& sim)
{
    for (const std::string& line : sim.SentLines(1))
        if (line.rfind("AT+CNMI=", 0) == 0 && line.rfind("AT+CNMI=?", 0) != 0)
            return true;
    return false;
}

int RunPhase(const Options& o, bool indications)
{
    kv::test::TempDir dir;
    kv::test::ModemSimOptions simOptions;
    simOptions.family = o.family;
    simOptions.extraArgs = {"--seed", std::to_string(o.seed)};
    kv::test::ModemSim sim(simOptions);
    if (!indications)
        sim.Command("indications 1 off");

    std::vector<kv::test::Reporter> devices;
    const int deviceCount = std::max({o.burst, 1, std::min(o.reports, 20)});
    for (int d = 0; d < deviceCount; ++d) {
        const std::string number = "+79112" + std::to_string(1000000 + d).substr(1);
        devices.push_back({kv::test::Utf8ToCp1251("Объект " + std::to_string(d + 1)), number});
    }
    kv::test::LiveStation live(dir.path(), sim, devices);
    if (!live.Started()) {
        std::printf("the station did not start: %s\n", live.TechnoTail(10).c_str());
        return 1;
    }
    std::vector<int> tiles;
    std::vector<std::string> names;
    for (const auto& d : devices) {
        tiles.push_back(live.TileOf(d.shortName));
        names.push_back(d.shortName);
        if (tiles.back() < 0) {
            std::printf("no tile for a device of the register\n");
            return 1;
        }
    }
    // The start-up exchanges (and any indication set-up) are over before the first report.
    kv::test::ServeFor(5s);
    std::printf("\n== family %s, new-message indications %s\n", o.family.empty() ? "sim800" : o.family.c_str(),
                indications ? "offered by the modem" : "refused by the modem (the poll alone)");

    Watch watch(live.form(), tiles, names);
    std::vector<int> perDevice(devices.size(), 0);
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> gap(o.gapMin, o.gapMax);

    std::vector<int> random;
    for (int n = 0; n < o.reports; ++n) {
        kv::test::ServeFor(std::chrono::milliseconds(static_cast<int>(gap(rng) * 1000)));
        random.push_back(static_cast<int>(watch.reports.size()));
        Send(sim, watch, devices, perDevice, random.back(), o.parts);
    }
    WaitFor(watch, random, Clock::now() + std::chrono::seconds(o.limit));

    std::vector<int> burst;
    if (o.burst > 0) {
        kv::test::ServeFor(3s);
        for (int n = 0; n < o.burst; ++n) {
            burst.push_back(static_cast<int>(watch.reports.size()));
            // Consecutive numbers: each device once, so every tile changes once.
            Send(sim, watch, devices, perDevice, burst.back(), o.parts);
        }
        WaitFor(watch, burst, Clock::now() + std::chrono::seconds(o.limit));
    }
    watch.Stop();
    // A message leaves the SIM only after its row is on disk: how long the
    // deletes take after the last row.
    const auto lastRow = Clock::now();
    while (!sim.Command("sim 1").empty() && Clock::now() - lastRow < std::chrono::seconds(o.limit))
        kv::test::ServeFor(100ms);
    const double emptiedAfter = std::chrono::duration<double>(Clock::now() - lastRow).count();

    std::printf("%d reports at random moments, %.0f to %.0f s apart:\n", o.reports, o.gapMin, o.gapMax);
    PrintRows(watch, random);
    Figures disk, tile;
    Summarise(watch, random, disk, tile);
    disk.Print("SIM to disk:");
    tile.Print("SIM to tile:");
    if (!burst.empty()) {
        std::printf("a burst of %d at once:\n", o.burst);
        PrintRows(watch, burst);
        Figures bDisk, bTile;
        Summarise(watch, burst, bDisk, bTile);
        bDisk.Print("SIM to disk:");
        bTile.Print("SIM to tile:");
        if (bDisk.missing == 0)
            std::printf("  all %d on disk within %.2f s of their arrival\n", o.burst,
                        *std::max_element(bDisk.values.begin(), bDisk.values.end()));
        else
            std::printf("  %d of %d never on disk within the %d s allowed\n", bDisk.missing, o.burst, o.limit);
    }
    std::printf("false \"Ошибка в SMS-сообщении:\" rows: %d; left in the SIM: %zu, %.2f s after the last row; "
                "the station %s AT+CNMI=\n",
                watch.falseErrors, sim.Command("sim 1").size(), emptiedAfter,
                StationAskedForIndications(sim) ? "sent" : "never sent");
    bool accepted = false;
    live.Close(accepted);
    return 0;
}

bool ParseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v)
            return false;
        ++i;
        if (a == "--reports")
            o.reports = std::max(0, std::atoi(v));
        else if (a == "--burst")
            o.burst = std::max(0, std::atoi(v));
        else if (a == "--family")
            o.family = v;
        else if (a == "--limit")
            o.limit = std::max(1, std::atoi(v));
        else if (a == "--parts") {
            o.parts = std::atoi(v);
            if (o.parts < 1 || o.parts > 9)
                return false;
        } else if (a == "--seed")
            o.seed = static_cast<unsigned>(std::strtoul(v, nullptr, 10));
        else if (a == "--gap") {
            if (std::sscanf(v, "%lf-%lf", &o.gapMin, &o.gapMax) != 2 || o.gapMin < 0 || o.gapMax < o.gapMin)
                return false;
        } else if (a == "--indications") {
            const std::string s = v;
            if (s == "on")
                o.indications = {true};
            else if (s == "off")
                o.indications = {false};
            else if (s == "both")
                o.indications = {true, false};
            else
                return false;
        } else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: alarm_latency [--reports N] [--burst N] [--family NAME] "
                             "[--indications on|off|both] [--gap MIN-MAX] [--limit SECONDS] [--seed N] [--parts N]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    kv::InstallUiThread();
    // The station's pictures and sounds, and the simulator, are beside this program.
    setenv("KORVALEN_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 0);
    int status = 0;
    for (const bool indications : o.indications) {
        try {
            status |= RunPhase(o, indications);
        } catch (const std::exception& e) {
            std::printf("the run stopped: %s\n", e.what());
            status = 1;
        }
    }
    return status;
}
