#pragma once
// The ring-round schedule, one entry per board tile, and the board layout the
// ring-round reads (column and row count, tile texts). The UI thread rebuilds it
// from the register; the ring-round worker scans and advances it. One lock
// guards all of it, so the worker never sees a half-rebuilt board.
//
// Due times are milliseconds of the monotonic clock (IClock::MonotonicMs), so
// setting the wall clock neither stops the ring-round nor makes it call at once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct DialDevice {
    std::string simplename;
    bool dialenable = false;
    std::string dialtime; // minutes as text, "." as decimal separator
    std::string simcard = {}; // the device's number
};

// How a device's last ring-round call ended, as the schedule window tells it.
enum class DialOutcome { None, Online, NoAnswer, Failed };

class DialSchedule {
public:
    static constexpr int kMaxColumns = 30;
    static constexpr int kMaxRows = 30;
    static constexpr double kDefaultIntervalMinutes = 60;

    struct Entry {
        bool enabled = false;
        bool placed = false; // a device was placed here at some rebuild
        double intervalMinutes = 0;
        std::int64_t nextDueMs = 0; // monotonic
        // Failed calls of this device since its last successful one, never more
        // than one short of the count that reports it: every failure after the
        // final one is final at once until a call succeeds.
        int failures = 0;
        DialOutcome outcome = DialOutcome::None;
        double outcomeDateTime = 0; // wall clock, when the last call was judged
        // The wall-clock date-time of the due time, as the schedule window shows it;
        // 0 for a tile that never held a device.
        double DueDateTime(double wallNow, std::uint64_t monotonicNowMs) const;
    };
    struct Tile {
        int column = 0;
        int row = 0;
        std::string text;
        int failures = 0;        // the device's count when the call was taken
        std::uint64_t board = 0; // the rebuild it was taken from
        std::int64_t dueMs = 0;  // the due time it was taken for
    };
    // What the ring-round is asked for against what it does.
    struct Load {
        double neededPerHour = 0; // over enabled tiles on the board with an interval
        int doneLastHour = 0;     // calls started in the last hour
        // A call came more than its interval late in the last hour, or one is
        // waiting that long now: the round does not keep its intervals.
        bool behind = false;
    };
    struct Layout {
        int columns = 0;
        int rows = 0;
        std::array<std::string, kMaxColumns * kMaxRows> texts; // column * 30 + row
        const std::string& Text(int column, int row) const { return texts[Index(column, row)]; }
    };

    static constexpr std::size_t Index(int column, int row) { return static_cast<std::size_t>(column * kMaxRows + row); }

    // Disables every entry and clears every tile text, then places the devices in
    // register order down the first column, then the next (never beyond column 29
    // or row 29). Each placed device is next due one full interval from `nowMs`.
    void Rebuild(const std::vector<DialDevice>& devices, int columns, int rows, std::uint64_t nowMs);

    // The enabled tile due longest ago at `nowMs` (ties go row by row, and
    // within a row column by column), so a device due early is never starved by
    // one placed before it. Its entry is advanced by one interval (the next
    // regular call counts from its due time, not from now), or, when that is
    // past already, to the first time of its own beat after now: calls missed
    // are not owed, or a device with an interval shorter than a call would keep
    // the modem for itself.
    std::optional<Tile> TakeDue(std::uint64_t nowMs);
    // A failed call is due again one minute after its own due time (for an
    // entry advanced by one interval).
    void Retry(int column, int row);

    // The call taken as `tile` failed. Returns the device's failures, this one
    // included; below `failuresToReport` it is due again one minute after the
    // due time it was taken for (one interval, when that is shorter), at or above it
    // the failure is final and the device keeps its regular interval. A board
    // rebuilt since the call was taken keeps its new due times, and the count
    // goes to the device wherever the rebuild placed it.
    // `wallNow` is when it was judged (for the schedule window).
    int Failed(const Tile& tile, int failuresToReport, double wallNow = 0);
    // The call taken as `tile` went through: the device's count starts again.
    void Succeeded(const Tile& tile, double wallNow = 0);
    Load RoundLoad(std::uint64_t nowMs) const;

    Entry At(int column, int row) const;
    std::string Text(int column, int row) const;
    int Columns() const;
    int Rows() const;
    Layout Snapshot() const;

    // An interval text as the register holds it; 60 when it is not a number.
    static double IntervalMinutes(const std::string& dialtime);
    static std::int64_t MinutesToMs(double minutes);

private:
    static bool Valid(int column, int row) { return column >= 0 && column < kMaxColumns && row >= 0 && row < kMaxRows; }

    // The entry holding the device `tile` held, wherever a rebuild put it.
    Entry* Holding(const Tile& tile);

    mutable std::mutex m_lock;
    Layout m_layout;
    std::uint64_t m_board = 0; // counts the rebuilds
    std::deque<std::int64_t> m_calls; // when calls were taken, the last hour of them
    std::optional<std::int64_t> m_lastLateMs; // a call taken more than its interval late
    std::array<Entry, kMaxColumns * kMaxRows> m_entries{};
};

} // namespace kv
