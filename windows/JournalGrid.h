#pragma once
// The journal grids: each row in its status colour, the status icon in the
// "Статус" column, light grey rows while nobody is logged in (main window only).
#include "windows/DBGrid.h"

#include <QColor>
#include <QPixmap>
#include <QStyledItemDelegate>

#include <array>
#include <functional>

namespace kv {

// The journal columns: "f" (icon, bound to no field), EventTime, simplename, tel, event.
std::vector<GridColumn> JournalColumns(int fWidth, int timeWidth, int nameWidth, int telWidth, int eventWidth);

// Where the icon of a cell goes: x = (left + right) / 2 - 16 rounded to nearest,
// halves to even; y = the cell's top.
QPoint JournalIconPosition(const QRect& cell);

class TJournalGrid : public TDBGrid {
    Q_OBJECT
public:
    // `baseColour`: the text colour of rows whose status has no colour of its own.
    // `loggedIn`: when given, every row is drawn light grey while it returns false.
    TJournalGrid(TMemTableModel* model, QColor baseColour, std::function<bool()> loggedIn, QWidget* parent = nullptr);

    // The colour a row is drawn in, and the icon index of its status (-1: none).
    QColor RowColour(int row) const;
    int RowIcon(int row) const;
    const QPixmap& Icon(int index) const { return m_icons[static_cast<std::size_t>(index)]; }

private:
    class Delegate;
    QColor m_base;
    std::function<bool()> m_loggedIn;
    std::array<QPixmap, 12> m_icons;
};

} // namespace kv
