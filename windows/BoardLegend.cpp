#include "windows/BoardLegend.h"

#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QPainter>

namespace kv {

TBoardLegend::TBoardLegend(QWidget* parent)
    : QWidget(parent), m_icons(LoadBoardIcons()), m_tileFont(BoardTileFont())
{
    Name(this, "BoardLegend", "Обозначения на табло"_cp);
    setFont(QFont(QStringLiteral("Verdana"), 9));
}

QSize TBoardLegend::sizeHint() const
{
    const int lines = static_cast<int>(BoardLegend().size());
    return {3 * kMargin + kBoardTileWidth + kTextWidth, 2 * kMargin + lines * kRowHeight};
}

QRect TBoardLegend::TileRect(int index) const
{
    return {kMargin, kMargin + index * kRowHeight, kBoardTileWidth, kBoardTileHeight};
}

void TBoardLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const std::span<const LegendEntry> entries = BoardLegend();
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        const QRect tile = TileRect(i);
        // The board's grid line around each tile, as the operator sees it there.
        painter.setPen(QColor(192, 192, 192));
        painter.drawRect(tile.adjusted(-1, -1, 0, 0));
        (void)PaintTile(painter, tile, entries[static_cast<std::size_t>(i)].look, m_icons, m_tileFont);
        painter.setPen(Qt::black);
        painter.setFont(font());
        const QRect text(tile.right() + 1 + kMargin, tile.top(), width() - tile.right() - 1 - 2 * kMargin,
                         tile.height());
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                         ToQ(entries[static_cast<std::size_t>(i)].meaning));
    }
}

} // namespace kv
