#pragma once
// The journal grids: each row in its status colour, the status icon in the
// "Статус" column, light grey rows while nobody is logged in (main window only).
// A journal grows to millions of rows, so the grid keeps no per-row state: it
// paints the rows in view straight from the table, and an insertion costs the
// same whatever the journal's length.
#include "assets/AssetNames.h"
#include "windows/DBGrid.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QColor>
#include <QHeaderView>
#include <QPixmap>
#include <QScrollBar>

#include <array>
#include <functional>
#include <vector>

namespace kv {

// The journal columns: "f" (icon, bound to no field), EventTime, simplename, tel, event.
std::vector<GridColumn> JournalColumns(int fWidth, int timeWidth, int nameWidth, int telWidth, int eventWidth);

// Where the icon of a cell goes: x = (left + right) / 2 - 16 rounded to nearest,
// halves to even; y = the cell's top.
QPoint JournalIconPosition(const QRect& cell);

// The journal icon of a status icon index, loaded from beside the program
// (null when the index has no picture).
QPixmap JournalIconPicture(int index);

class TJournalGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    // `baseColour`: the text colour of rows whose status has no colour of its own.
    // `loggedIn`: when given, every row is drawn light grey while it returns false.
    TJournalGrid(TMemTableModel* model, QColor baseColour, std::function<bool()> loggedIn, QWidget* parent = nullptr);

    TMemTableModel* Model() const { return m_model; }
    QAbstractItemModel* model() const { return m_model; }

    // The colour a row is drawn in, and the icon index of its status (-1: none).
    QColor RowColour(int row) const;
    int RowIcon(int row) const;
    const QPixmap& Icon(int index) const { return m_icons[static_cast<std::size_t>(index)]; }
    // The column titles over the rows.
    QHeaderView* horizontalHeader() const { return m_header; }

    // The current row follows the table's cursor and moves it.
    QModelIndex currentIndex() const;
    void selectRow(int row);
    // The row at a height in the viewport, -1 below the last.
    int rowAt(int y) const;
    void scrollToTop();
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    int columnViewportPosition(int column) const;
    int rowHeight(int) const { return m_rowHeight; }
    void SetRowHeight(int pixels);
    // The journal grids never edit: kept so callers may state it.
    void setEditTriggers(QAbstractItemView::EditTriggers) {}

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    int TopRow() const { return verticalScrollBar()->value(); }
    int VisibleRows() const;
    void UpdateScrollBars();
    void SetCurrent(int row, bool moveTable);
    void EnsureVisible(int row);
    void RowsInserted(int first, int count);
    void RowsRemoved(int first, int count);

    TMemTableModel* m_model;
    QHeaderView* m_header = nullptr;
    QColor m_base;
    std::function<bool()> m_loggedIn;
    std::array<QPixmap, assets::kJournalIcons.size()> m_icons;
    std::vector<int> m_widths;
    int m_rowHeight = 20;
    int m_current = -1;
    bool m_syncing = false;
};

} // namespace kv
