// How long a device's report takes from the modem's SIM to the journal on disk
// and to its tile: the whole station in-process against the modem simulator,
// reports stored at random moments, then a burst of them at once; with the
// modem's new-message indications available and without them (the memory poll
// alone); for the windows program, the receiver (the same core without
// windows), or both. Not a Google Benchmark: it prints its figures.
//
// Usage: alarm_latency [--station windows|receiver|both] [--reports N] [--burst N] [--family NAME]
//                      [--parts N] [--indications on|off|both] [--gap MIN-MAX] [--limit SECONDS]
//                      [--seed N]
//
// With --parts each report is a long message of that many parts (UCS2, in part
// order); it counts as arrived when its last part is in the SIM.
//
// A report counts as arrived when the simulator's `sms` command has answered
// (the message is in the SIM, or waits at the network when the SIM is full);
// on disk when the journal's log has synced its row; on the tile when the
// device's guard state has changed to what the report says.
#include "core/StationCore.h"
#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "data/TileStates.h"
#include "receiver/Receiver.h"
#include "tests/e2e/LiveStation.h"
#include "tests/support/Cp1251.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"
#include "timing/UiThread.h"

#include <QApplication>
#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace kv::literals;

enum class StationKind { Windows, Receiver };

const char* NameOf(StationKind kind) { return kind == StationKind::Windows ? "windows" : "receiver"; }

struct Options {
    std::vector<StationKind> stations = {StationKind::Windows, StationKind::Receiver};
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
    Watch(kv::StationCore& core, std::vector<int> tiles, std::vector<std::string> names)
        : m_core(core), m_tiles(std::move(tiles)), m_names(std::move(names)), m_tileChanges(m_tiles.size())
    {
        m_core.EventsTable.AddRecordListener(this);
        m_sampler = std::thread([this] { Sample(); });
    }
    ~Watch() override
    {
        Stop();
        m_core.EventsTable.RemoveRecordListener(this);
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
            if (!r.row || m_core.EventsLog->Synced() < r.entry)
                return false;
        }
        return true;
    }

private:
    void RecordAdded(kv::RecordHandle record, std::size_t) override
    {
        const kv::MemTable& t = m_core.EventsTable;
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
        r.entry = m_core.EventsLog->Appended();
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
            const std::uint64_t s = m_core.EventsLog->Synced();
            if (s != synced)
                m_synced.push_back({now, synced = s});
            for (std::size_t d = 0; d < m_tiles.size(); ++d) {
                const std::uint64_t g = m_core.Tiles.GuardStates[static_cast<std::size_t>(m_tiles[d])].load();
                if (g != guard[d])
                    m_tileChanges[d].push_back({now, guard[d] = g});
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    kv::StationCore& m_core;
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
    double Median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    double Worst() const { return *std::max_element(values.begin(), values.end()); }
    void Print(const char* what) const
    {
        if (values.empty()) {
            std::printf("  %-14s none of %d\n", what, missing);
            return;
        }
        std::printf("  %-14s median %6.2f s   worst %6.2f s   best %6.2f s   count %zu", what, Median(), Worst(),
                    *std::min_element(values.begin(), values.end()), values.size());
        if (missing)
            std::printf("   (%d never)", missing);
        std::printf("\n");
    }
    // "median/worst", for the closing table.
    std::string Brief() const
    {
        if (values.empty())
            return "none";
        char text[48];
        std::snprintf(text, sizeof text, "%.2f/%.2f%s", Median(), Worst(), missing ? "+" : "");
        return text;
    }
};

// One phase's figures for the closing table.
struct PhaseFigures {
    StationKind station;
    bool indications;
    Figures disk, tile, burstDisk, burstTile;
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

// True when every report was journalled once, under its device's short name.
bool PrintRows(const Watch& watch, const std::vector<int>& which)
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
    return journalled == static_cast<int>(which.size()) && twice == 0 && wrongName == 0;
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

int TileOf(const kv::BoardState& board, const std::string& shortName)
{
    for (int c = 0; c < board.Columns(); ++c)
        for (int r = 0; r < board.Rows(); ++r)
            if (board.TileText(c, r) == shortName)
                return kv::TileStates::Index(c, r);
    return -1;
}

// The station measured: its core, and how it starts and ends.
class Subject {
public:
    virtual ~Subject() = default;
    virtual kv::StationCore& Core() = 0;
    // Empty once started with both modems' ports open, else what went wrong.
    virtual std::string Failure() = 0;
    virtual void Close() = 0;
};

// The windows program, logged in and its modems started as an operator does.
class WindowsSubject final : public Subject {
public:
    WindowsSubject(const kv::test::TempDir& dir, kv::test::ModemSim& sim,
                   const std::vector<kv::test::Reporter>& devices)
        : m_live(dir.path(), sim, devices)
    {
    }
    kv::StationCore& Core() override { return m_live.station().Core(); }
    std::string Failure() override { return m_live.Started() ? std::string() : m_live.TechnoTail(10); }
    void Close() override
    {
        bool accepted = false;
        m_live.Close(accepted);
    }

private:
    kv::test::LiveStation m_live;
};

// The receiver on the same files, the ring-round kept off as the windows
// program's is; its technological lines are kept to explain a failed start.
class ReceiverSubject final : public Subject {
public:
    ReceiverSubject(const kv::test::TempDir& dir, kv::test::ModemSim& sim,
                    const std::vector<kv::test::Reporter>& devices)
    {
        kv::test::WriteLiveStationFiles(dir.path(), sim, devices, false);
        m_receiver = std::make_unique<kv::Receiver>("config.ini", m_lines);
        if (!m_receiver->Start(m_error))
            m_error = kv::Cp1251ToUtf8(m_error);
        else if (!Core().ComPort1.Connected() || !Core().ComPort2.Connected())
            m_error = "a modem's port is not connected";
    }
    kv::StationCore& Core() override { return m_receiver->Core(); }
    std::string Failure() override { return m_error.empty() ? std::string() : m_error + "\n" + m_lines.str(); }
    void Close() override { m_receiver->Close(); }

private:
    std::ostringstream m_lines;
    std::unique_ptr<kv::Receiver> m_receiver;
    std::string m_error;
};

int RunPhase(const Options& o, StationKind station, bool indications, std::vector<PhaseFigures>& table)
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
    std::unique_ptr<Subject> subject;
    if (station == StationKind::Windows)
        subject = std::make_unique<WindowsSubject>(dir, sim, devices);
    else
        subject = std::make_unique<ReceiverSubject>(dir, sim, devices);
    if (const std::string failure = subject->Failure(); !failure.empty()) {
        std::printf("the %s station did not start: %s\n", NameOf(station), failure.c_str());
        return 1;
    }
    kv::StationCore& core = subject->Core();
    std::vector<int> tiles;
    std::vector<std::string> names;
    for (const auto& d : devices) {
        tiles.push_back(TileOf(core.Board, d.shortName));
        names.push_back(d.shortName);
        if (tiles.back() < 0) {
            std::printf("no tile for a device of the register\n");
            return 1;
        }
    }
    // The start-up exchanges (and any indication set-up) are over before the first report.
    kv::test::ServeFor(5s);
    std::printf("\n== %s station, family %s, new-message indications %s\n", NameOf(station),
                o.family.empty() ? "sim800" : o.family.c_str(),
                indications ? "offered by the modem" : "refused by the modem (the poll alone)");

    Watch watch(core, tiles, names);
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
    bool sound = PrintRows(watch, random);
    PhaseFigures& figures = table.emplace_back(PhaseFigures{station, indications, {}, {}, {}, {}});
    Figures& disk = figures.disk;
    Figures& tile = figures.tile;
    Summarise(watch, random, disk, tile);
    disk.Print("SIM to disk:");
    tile.Print("SIM to tile:");
    if (!burst.empty()) {
        std::printf("a burst of %d at once:\n", o.burst);
        sound &= PrintRows(watch, burst);
        Figures& bDisk = figures.burstDisk;
        Figures& bTile = figures.burstTile;
        Summarise(watch, burst, bDisk, bTile);
        bDisk.Print("SIM to disk:");
        bTile.Print("SIM to tile:");
        if (bDisk.missing == 0)
            std::printf("  all %d on disk within %.2f s of their arrival\n", o.burst, bDisk.Worst());
        else
            std::printf("  %d of %d never on disk within the %d s allowed\n", bDisk.missing, o.burst, o.limit);
    }
    const std::size_t left = sim.Command("sim 1").size();
    std::printf("false \"Ошибка в SMS-сообщении:\" rows: %d; left in the SIM: %zu, %.2f s after the last row; "
                "the station %s AT+CNMI=\n",
                watch.falseErrors, left, emptiedAfter, StationAskedForIndications(sim) ? "sent" : "never sent");
    subject->Close();
    // Figures of a station that loses, doubles or misreads reports mean nothing: the run fails.
    sound &= disk.missing == 0 && tile.missing == 0 && figures.burstDisk.missing == 0 &&
             figures.burstTile.missing == 0 && watch.falseErrors == 0 && left == 0;
    if (!sound)
        std::printf("the %s station lost, doubled or misread reports\n", NameOf(station));
    return sound ? 0 : 1;
}

void PrintTable(const std::vector<PhaseFigures>& table)
{
    if (table.size() < 2)
        return;
    std::printf("\n== median/worst in seconds (+: some never came)\n");
    std::printf("%-9s %-12s %-14s %-14s %-14s %-14s\n", "station", "indications", "disk", "tile", "burst disk",
                "burst tile");
    for (const PhaseFigures& f : table)
        std::printf("%-9s %-12s %-14s %-14s %-14s %-14s\n", NameOf(f.station), f.indications ? "on" : "off",
                    f.disk.Brief().c_str(), f.tile.Brief().c_str(), f.burstDisk.Brief().c_str(),
                    f.burstTile.Brief().c_str());
}

bool ParseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v)
            return false;
        ++i;
        if (a == "--station") {
            const std::string s = v;
            if (s == "windows")
                o.stations = {StationKind::Windows};
            else if (s == "receiver")
                o.stations = {StationKind::Receiver};
            else if (s == "both")
                o.stations = {StationKind::Windows, StationKind::Receiver};
            else
                return false;
        } else if (a == "--reports")
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
        std::fprintf(stderr, "usage: alarm_latency [--station windows|receiver|both] [--reports N] [--burst N] "
                             "[--family NAME] [--indications on|off|both] [--gap MIN-MAX] [--limit SECONDS] "
                             "[--seed N] [--parts N]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The receiver alone needs no GUI library at all.
    const bool windows = std::find(o.stations.begin(), o.stations.end(), StationKind::Windows) != o.stations.end();
    std::unique_ptr<QCoreApplication> app;
    if (windows)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    kv::InstallUiThread();
    // The station's pictures and sounds, and the simulator, are beside this program.
    setenv("KORVALEN_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 0);
    int status = 0;
    std::vector<PhaseFigures> table;
    for (const StationKind station : o.stations)
        for (const bool indications : o.indications) {
            try {
                status |= RunPhase(o, station, indications, table);
            } catch (const std::exception& e) {
                std::printf("the run stopped: %s\n", e.what());
                status = 1;
            }
        }
    PrintTable(table);
    return status;
}
