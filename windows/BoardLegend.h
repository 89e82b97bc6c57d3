#pragma once
// "Обозначения на табло": every tile look of the status board beside what it
// means, painted by the board's own tile painter.
#include "windows/BoardTile.h"

#include <QWidget>

namespace kv {

class TBoardLegend : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMargin = 8;
    static constexpr int kRowHeight = kBoardTileHeight + 6;
    static constexpr int kTextWidth = 430;

    explicit TBoardLegend(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // Where the tile of legend line `index` is drawn.
    QRect TileRect(int index) const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    BoardIcons m_icons;
    QFont m_tileFont;
};

} // namespace kv
