#pragma once
// The board without its painting: the tile texts laid out from the register
// and each tile's state bytes (guard, notification, alarm mark).
//
// The state bytes belong to tile positions and are shared with the modem
// workers and the board tick without a lock (one byte each, written and read
// whole). The tile texts are a layout published whole by the UI thread, so a
// worker comparing names never sees a half-rebuilt board.
#include "data/TileStates.h"
#include "modem/DialSchedule.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kv {

// What a journal row tells of its device's tile, read back from the row
// alone (a row another station journalled): the codes its report gave.
struct RowTileStates {
    std::uint8_t guard = 238; // kNoChange
    std::uint8_t info = 238;
    bool warningMark = false; // a fire or an opened case: blinks until acknowledged
    friend bool operator==(const RowTileStates&, const RowTileStates&) = default;
};
// `journal`: "main" or "ring".
RowTileStates TileStatesOfRow(std::string_view journal, std::string_view status, std::string_view event);

class BoardState {
public:
    static constexpr std::uint8_t kNoChange = 238;
    static constexpr std::uint8_t kAlarm = 3;
    // The alarm mark of a fire or an opened case: the tile blinks in the alarm
    // colours and sounds until acknowledged, whatever its guard state.
    static constexpr std::uint8_t kWarningMark = 9;

    explicit BoardState(TileStates& tiles);
    BoardState(const BoardState&) = delete;
    BoardState& operator=(const BoardState&) = delete;

    TileStates& Tiles() { return m_tiles; }
    const TileStates& Tiles() const { return m_tiles; }

    // Tile texts and the grid size they were laid for (UI thread).
    void SetLayout(const DialSchedule::Layout& layout);
    using LayoutPtr = std::shared_ptr<const DialSchedule::Layout>;
    LayoutPtr Layout() const;
    int Columns() const { return m_columns.load(); }
    int Rows() const { return m_rows.load(); }
    // Empty outside the layout.
    std::string TileText(int column, int row) const;

    // Any thread. 238 changes nothing; every tile whose text equals the name
    // (an empty name matches none) takes the code. OnChanged follows a change.
    void SetGuardState(const std::string& shortName, std::uint8_t code);
    void SetInfoState(const std::string& shortName, std::uint8_t code);
    // Every tile of that name gets the warning mark (an intrusion's stays).
    void SetAlarmMark(const std::string& shortName);
    // A row of another station: its device's tiles change as its report changed the
    // tiles of the station that took it.
    void ShowRow(const std::string& shortName, std::string_view journal, std::string_view status,
                 std::string_view event);
    // The alarm marks of every tile of that name cleared.
    void Acknowledge(const std::string& shortName);
    // A tile selected: its notification and alarm mark cleared.
    void ClearTile(std::size_t tile);

    // An unacknowledged alarm or warning mark on that tile: it sounds.
    bool Sounding(std::size_t tile) const;

    // Any thread: some tile's bytes changed (the board repaints).
    std::function<void()> OnChanged;

private:
    enum class Byte { Guard, Info, Mark };
    void SetState(const std::string& shortName, std::uint8_t code, Byte which);

    TileStates& m_tiles;
    mutable std::mutex m_layoutLock;
    LayoutPtr m_layout;
    std::atomic<int> m_columns{0};
    std::atomic<int> m_rows{0};
};

} // namespace kv
