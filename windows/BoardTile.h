#pragma once
// How one tile of the status board is drawn: its colours from the guard state,
// the notification icon, the red corner of an open alarm and the dashed bar of
// a device gone silent. The board and the legend of the help window both paint
// through here, so the legend can never show other colours than the board.
#include "data/Text.h"

#include <QColor>
#include <QFont>
#include <QPixmap>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class QPainter;
class QRect;

namespace kv {

inline constexpr int kBoardTileWidth = 141;
inline constexpr int kBoardTileHeight = 33;
// Codes of the alarm mark: an intrusion, and a fire or an opened case.
inline constexpr std::uint8_t kTileAlarm = 3;
inline constexpr std::uint8_t kTileWarningMark = 9;

struct TileColours {
    QColor background;
    QColor text;
};
// Codes outside 0 to 3 (only a damaged file could hold one) draw as "nothing received".
TileColours TileColoursFor(std::uint8_t guard, bool blinkPhase);
// Index into the board icons for an information code, -1 for none.
int BoardIconFor(std::uint8_t info);
// Codes 4 to 8 sound when their icon shows; 9 (case opened, fire, failed call) is silent.
bool BoardIconSounds(std::uint8_t info);

// What a tile shows at one moment.
struct TileLook {
    std::uint8_t guard = 0;
    std::uint8_t info = 0;
    std::uint8_t mark = 0; // 0, kTileAlarm or kTileWarningMark
    bool blinkPhase = false;
    bool openRow = false; // the device has an open row of the alarm desk
    bool silent = false;  // not heard for longer than its supervision time
    std::string text;     // code page 1251
};

using BoardIcons = std::array<QPixmap, 6>;
// The board's pictures from the program folder.
BoardIcons LoadBoardIcons();
QFont BoardTileFont();

// Paints the tile into `cell`; returns whether its notification sound is due.
bool PaintTile(QPainter& painter, const QRect& cell, const TileLook& look, const BoardIcons& icons,
               const QFont& font);

// One line of the legend: the tile it shows and what that means.
struct LegendEntry {
    TileLook look;
    std::string_view meaning; // code page 1251
};
// Every colour, icon and mark the board uses, in the order the legend lists them.
std::span<const LegendEntry> BoardLegend();

} // namespace kv
