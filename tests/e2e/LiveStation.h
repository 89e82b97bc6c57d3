#pragma once
// A whole station in-process against the modem simulator, as an operator runs
// it: its table files and "config.ini" in the test's folder (the simulator's
// stable link paths as its ports), created, shown, logged in and its modems
// initialised through the unattended start, the board tick running. The
// register holds a device that reports by SMS and one the ring-round calls;
// the test decides when the ring-round may call it.
#include "data/MemTable.h"
#include "station/Station.h"
#include "station/mainunit.h"
#include "tests/support/ModemSim.h"
#include "tests/support/ScriptedDialogs.h"
#include "windows/SoundPlayer.h"

#include <chrono>
#include <filesystem>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

namespace kv::test {

inline constexpr const char* kReporterNumber = "+79111111111"; // "Склад", reports by SMS
inline constexpr const char* kRingedNumber = "+79001000001";   // "Офис", called by the ring-round
inline constexpr const char* kOperatorLogin = "Оператор:1234";  // UTF-8, as KORVALEN_AUTOSTART

// One journal row, texts in CP1251.
struct JournalRow {
    std::string status, tel, event, simplename;
    bool operator==(const JournalRow&) const = default;
};
void PrintTo(const JournalRow& row, std::ostream* out);
// The `count` newest rows, newest first.
std::vector<JournalRow> NewestRows(const MemTable& journal, int count);
std::string Describe(const std::vector<JournalRow>& rows);

// A device of the register that reports by SMS: short name in CP1251, number.
struct Reporter {
    std::string shortName;
    std::string number;
};

// The station's files as LiveStation writes them, into `dir` (the current
// directory): the register with `moreReporters` after the two standard
// devices, the account, empty journals, fresh tile states and "config.ini"
// naming the simulator's ports. `ringRound`: "Офис" may be called from the start.
void WriteLiveStationFiles(const std::filesystem::path& dir, const ModemSim& sim,
                           const std::vector<Reporter>& moreReporters, bool ringRound);

class LiveStation {
public:
    // Writes the files into `dir` (the current directory), then starts the
    // station. Check Started() before use. `moreReporters` join the register
    // after the two standard devices.
    LiveStation(const std::filesystem::path& dir, const ModemSim& sim, const std::vector<Reporter>& moreReporters = {});
    ~LiveStation();
    LiveStation(const LiveStation&) = delete;
    LiveStation& operator=(const LiveStation&) = delete;

    bool Started() const { return m_started; }
    Station& station() { return *m_station; }
    TForm1& form() { return m_station->Form1(); }
    StationContext& ctx() { return m_station->Context(); }

    // Lets the ring-round call "Офис" (due at once) or keeps it from calling.
    void RingRound(bool on);
    // The board position of a device's tile (TileStates::Index), -1 when none.
    int TileOf(const std::string& shortName);
    // The board codes of a device's tile.
    std::uint8_t Guard(const std::string& shortName);
    std::uint8_t Info(const std::string& shortName);

    // The last lines of the technological journal (which records from the start).
    std::string TechnoTail(int lines);

    // Closes the main window as its close box does; the time it took.
    std::chrono::milliseconds Close(bool& accepted);
    // Destroys the station (after Close); the time it took.
    std::chrono::milliseconds Destroy();

    ScriptedDialogs dialogs;
    RecordingSoundPlayer sounds;

private:
    std::unique_ptr<Station> m_station;
    bool m_started = false;
};

// Serves the UI thread for `span` of real time.
void ServeFor(std::chrono::milliseconds span);

} // namespace kv::test
