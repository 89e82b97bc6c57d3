#pragma once
// The codes of the status-board tiles: 30 columns x 30 rows, index
// column * 30 + row. Shared by the modem workers and the UI thread without a
// lock; each code is one byte, written and read whole.
//
// "t5.bin" holds GuardStates then InfoStates, 900 bytes each, no header.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "data/Text.h"

namespace kv {

inline constexpr std::string_view kTileStatesEmpty = "Список состояния объектов пуст."_cp;
inline constexpr std::string_view kTileStatesNotSaved = "Не удалось сохранить состояния объектов "_cp;
inline constexpr char kTileStatesFile[] = "t5.bin";
// States older than 15 minutes are stale and not restored.
inline constexpr double kTileStatesMaxAgeDays = 0.0104166667;

struct TileStates {
    static constexpr int kColumns = 30;
    static constexpr int kRows = 30;
    static constexpr int kTiles = kColumns * kRows;
    static constexpr int Index(int column, int row) { return column * kRows + row; }

    std::array<std::atomic<std::uint8_t>, kTiles> GuardStates{};
    std::array<std::atomic<std::uint8_t>, kTiles> InfoStates{};
    std::array<std::atomic<std::uint8_t>, kTiles> AlarmMarks{};
};

enum class TileRestore { Restored, Stale, Missing, Short };
enum class TileSave { Saved, CannotCreate, WriteFailed };

// Reads the file when it was written at most 15 minutes before `now` (local
// date-time). Missing file or short read: `warn` gets "Список состояния
// объектов пуст."; what was read stays. A byte that is no known code reads as 0.
TileRestore RestoreTileStates(TileStates& states, const std::string& fileName, double now,
                              const std::function<void(const std::string&)>& warn);

// Writes the 1800 bytes through a temporary file renamed over the old one.
TileSave SaveTileStates(const TileStates& states, const std::string& fileName);

// The tiles of a board in pages (a centre's company), kept beside t5.bin so
// that file stays as the original board wrote it. By device name, since which
// page and tile a device gets follows the window's size and the receivers.
inline constexpr char kTilePagesFile[] = "t5.bin.pages";
struct NamedTileState {
    std::string shortName;
    std::uint8_t guard = 0;
    std::uint8_t info = 0;
    friend bool operator==(const NamedTileState&, const NamedTileState&) = default;
};
// The same age rule as t5.bin; a damaged tail is dropped with what follows it,
// a code that is no known one reads as 0. Missing, stale or not this format: empty.
std::vector<NamedTileState> RestoreNamedTileStates(const std::string& fileName, double now);
TileSave SaveNamedTileStates(const std::vector<NamedTileState>& states, const std::string& fileName);

} // namespace kv
