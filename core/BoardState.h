#pragma once
// The board without its painting: the tile texts laid out from the register
// and each tile's state bytes (guard, notification, alarm mark).
//
// The state bytes belong to tile positions and are shared with the modem
// workers and the board tick without a lock (one byte each, written and read
// whole). The tile texts are a layout published whole by the UI thread, so a
// worker comparing names never sees a half-rebuilt board.
#include "data/Text.h"
#include "data/TileStates.h"
#include "modem/DialSchedule.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// One page of a board too large for one (a centre's company): its tab caption
// and tile texts, laid as one board is.
struct BoardPageLayout {
    std::string caption;
    DialSchedule::Layout layout;
};
// The tab of the devices no receiver rings alone.
inline constexpr std::string_view kNoReceiverPage = "Без приёмника"_cp;
// The devices grouped by receiver (`receiverOf`, empty for none; null puts all
// in one group), receivers in name order and the devices without one last,
// each group in register order on pages of columns x rows tiles; a group that
// needs several pages numbers them ("Приёмник 1 2"). Always at least one page.
std::vector<BoardPageLayout> LayBoardPages(const std::vector<DialDevice>& devices,
                                           const std::function<std::string(const std::string&)>& receiverOf,
                                           int columns, int rows);

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

    // The first page's tiles (t5.bin's).
    TileStates& Tiles() { return m_tiles; }
    const TileStates& Tiles() const { return m_tiles; }

    // Tile texts and the grid size they were laid for (UI thread): one page,
    // its states staying on their tiles.
    void SetLayout(const DialSchedule::Layout& layout);
    // Several pages (UI thread): each device's states go with it to wherever
    // it is laid now. What RestorePages read goes to its devices at the first
    // lay of either kind; at a first lay the first page's other tiles keep
    // what t5.bin gave.
    void SetPages(const std::vector<BoardPageLayout>& pages);
    bool Paged() const { return m_paged.load(); }

    struct Page {
        std::string caption;
        DialSchedule::Layout layout;
        TileStates* tiles = nullptr; // lives as long as the board state
    };
    using PagesPtr = std::shared_ptr<const std::vector<Page>>;
    // Never empty.
    PagesPtr Pages() const;
    using LayoutPtr = std::shared_ptr<const DialSchedule::Layout>;
    // The first page's.
    LayoutPtr Layout() const;
    int Columns() const { return m_columns.load(); }
    int Rows() const { return m_rows.load(); }
    // The first page's; empty outside the layout.
    std::string TileText(int column, int row) const;

    // The states of every device of a board in pages, by name (t5.bin holds
    // the first page's by position only): read at the start, written with
    // t5.bin while paged, so a file station writes nothing new.
    void RestorePages(const std::string& fileName, double now);
    TileSave SavePages(const std::string& fileName) const;

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
    static void ClearTile(TileStates& tiles, std::size_t tile);

    // An unacknowledged alarm or warning mark on that tile: it sounds.
    static bool Sounding(const TileStates& tiles, std::size_t tile);
    // The tiles of that page that sound.
    static int SoundingTiles(const Page& page);

    // Any thread: some tile's bytes changed (the board repaints).
    std::function<void()> OnChanged;

private:
    enum class Byte { Guard, Info, Mark };
    void SetState(const std::string& shortName, std::uint8_t code, Byte which);

    void Publish(std::shared_ptr<std::vector<Page>> pages);

    TileStates& m_tiles;
    // Held while bytes are written by name or moved to a new lay, so a report
    // arriving during a lay is neither lost nor left on the old tile.
    std::mutex m_stateLock;
    mutable std::mutex m_layoutLock;
    PagesPtr m_pages;
    // The pages past the first; only ever added to, so a page another thread
    // still reads keeps its bytes.
    std::vector<std::unique_ptr<TileStates>> m_moreTiles;
    std::atomic<int> m_columns{0};
    std::atomic<int> m_rows{0};
    std::atomic<bool> m_paged{false};
    bool m_laid = false; // UI thread
    std::vector<NamedTileState> m_restored; // UI thread, until the first lay
};

} // namespace kv
