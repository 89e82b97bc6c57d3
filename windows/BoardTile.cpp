#include "windows/BoardTile.h"

#include "assets/AssetNames.h"
#include "windows/AppPaths.h"
#include "windows/QtText.h"

#include <QPainter>
#include <QPen>
#include <QRect>

#include <vector>

namespace kv {

using namespace literals;

namespace {

const QColor kOpenRowCorner(220, 0, 0);
// Above the text's top and right of the icon: neither covers it.
constexpr int kCornerSize = 10;
// Below the text and right of the icon, so neither hides it and the tile's
// colour stays readable in its bottom-left corner.
const QColor kSilentBar(60, 60, 60);
constexpr int kSilentBarLeft = 36;
constexpr int kSilentBarHeight = 3;

} // namespace

TileColours TileColoursFor(std::uint8_t guard, bool blinkPhase)
{
    switch (guard) {
    case 1: return {QColor(164, 255, 164), QColor(0, 128, 255)};
    case 2: return {QColor(255, 255, 0), QColor(164, 164, 0)};
    case 3:
        if (!blinkPhase)
            return {QColor(244, 117, 142), QColor(136, 11, 36)};
        break;
    default: break;
    }
    return {QColor(255, 255, 255), QColor(81, 81, 255)};
}

int BoardIconFor(std::uint8_t info)
{
    switch (info) {
    case 4:
    case 5:
    case 6: return 4;
    case 7: return 1;
    case 8: return 0;
    case 9: return 5;
    default: return -1;
    }
}

bool BoardIconSounds(std::uint8_t info) { return info >= 4 && info <= 8; }

BoardIcons LoadBoardIcons()
{
    BoardIcons icons;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const std::string_view name = assets::kBoardIcons[i];
        icons[i] = QPixmap(ProgramFile(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))));
    }
    return icons;
}

QFont BoardTileFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

bool PaintTile(QPainter& painter, const QRect& cell, const TileLook& look, const BoardIcons& icons, const QFont& font)
{
    const bool warning = look.mark == kTileWarningMark;
    // Only an alarm nobody has acknowledged blinks; an acknowledged one stays lit.
    const bool unacknowledged = warning || look.mark == kTileAlarm;
    const TileColours colours = TileColoursFor(warning ? kTileAlarm : look.guard, unacknowledged && look.blinkPhase);
    painter.fillRect(cell, colours.background);

    if (!look.text.empty()) {
        painter.save();
        painter.setClipRect(cell);
        painter.setFont(font);
        painter.setPen(colours.text);
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(colours.background);
        const QRect textBox(cell.left(), cell.top() + 10, cell.width() - 2, cell.height() - 10);
        painter.drawText(textBox, Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, ToQ(look.text));
        painter.restore();
    }
    if (look.openRow) {
        const QPoint corner = cell.topRight();
        const QPoint triangle[3] = {corner + QPoint(1, 0), corner + QPoint(1 - kCornerSize, 0),
                                    corner + QPoint(1, kCornerSize)};
        painter.save();
        painter.setClipRect(cell);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOpenRowCorner);
        painter.drawPolygon(triangle, 3);
        painter.restore();
    }
    if (look.silent) {
        // Steady, not blinking: a silence is a state, the alarm row sounds for it.
        painter.save();
        painter.setClipRect(cell);
        QPen pen(kSilentBar, kSilentBarHeight, Qt::CustomDashLine, Qt::FlatCap);
        pen.setDashPattern({2.0, 1.0});
        painter.setPen(pen);
        const int y = cell.bottom() - 1 - kSilentBarHeight / 2;
        painter.drawLine(cell.left() + kSilentBarLeft, y, cell.right() - 1, y);
        painter.restore();
    }

    if (!look.blinkPhase)
        return false;
    const int icon = BoardIconFor(look.info);
    if (icon < 0)
        return false;
    painter.save();
    painter.setClipRect(cell);
    painter.drawPixmap(cell.topLeft(), icons[static_cast<std::size_t>(icon)]);
    painter.restore();
    return BoardIconSounds(look.info);
}

std::span<const LegendEntry> BoardLegend()
{
    const auto tile = [](std::uint8_t guard, std::uint8_t info, std::uint8_t mark, bool phase) {
        TileLook look;
        look.guard = guard;
        look.info = info;
        look.mark = mark;
        look.blinkPhase = phase;
        look.text = std::string("Объект"_cp);
        return look;
    };
    static const std::vector<LegendEntry> entries = [&] {
        std::vector<LegendEntry> e;
        e.push_back({tile(0, 0, 0, false), "Нет сведений о состоянии объекта"_cp});
        e.push_back({tile(1, 0, 0, false), "Снят с охраны"_cp});
        e.push_back({tile(2, 0, 0, false), "На охране"_cp});
        e.push_back({tile(3, 0, kTileAlarm, false),
                     "Тревога, не принята: мигает и звучит, пока оператор не щёлкнет по объекту"_cp});
        e.push_back({tile(3, 0, 0, false), "Тревога принята: горит без мигания и звука до постановки или снятия"_cp});
        e.push_back({tile(2, 0, kTileWarningMark, false),
                     "Пожар или вскрытие корпуса: мигает и звучит, пока не принята"_cp});
        TileLook open = tile(2, 0, 0, false);
        open.openRow = true;
        e.push_back({open, "Красный угол: тревога объекта ждёт обработки в окне «Тревоги»"_cp});
        TileLook silent = tile(2, 0, 0, false);
        silent.silent = true;
        e.push_back({silent, "Полоса внизу: нет связи с объектом дольше контрольного времени"_cp});
        e.push_back({tile(0, 4, 0, true), "Питание: сеть отключена или восстановлена, батарея разряжена (со звуком)"_cp});
        e.push_back({tile(0, 7, 0, true), "Чужой ключ (со звуком)"_cp});
        e.push_back({tile(0, 8, 0, true), "Температурный режим (со звуком)"_cp});
        e.push_back({tile(0, 9, 0, true), "Вскрытие корпуса, пожар, неудачный дозвон при обзвоне (без звука)"_cp});
        return e;
    }();
    return entries;
}

} // namespace kv
