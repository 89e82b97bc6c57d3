#include "windows/JournalGrid.h"

#include "assets/AssetNames.h"
#include "data/Status.h"
#include "data/Text.h"
#include "windows/AppPaths.h"
#include "windows/QtText.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace kv {

using namespace literals;

namespace {
const QColor kGridLine(208, 208, 208);
const QColor kCurrentRow(220, 232, 248);
} // namespace

std::vector<GridColumn> JournalColumns(int fWidth, int timeWidth, int nameWidth, int telWidth, int eventWidth)
{
    return {{"", ToQ("Статус"_cp), fWidth},
            {"EventTime", ToQ("Время события"_cp), timeWidth},
            {"simplename", ToQ("Объект"_cp), nameWidth},
            {"tel", ToQ("Телефон"_cp), telWidth},
            {"event", ToQ("Событие"_cp), eventWidth}};
}

QPoint JournalIconPosition(const QRect& cell)
{
    const double left = cell.left();
    const double right = cell.left() + cell.width(); // the rectangle's right edge, exclusive
    return {static_cast<int>(std::nearbyint((left + right) / 2.0 - 16.0)), cell.top()};
}

QPixmap JournalIconPicture(int index)
{
    if (index < 0 || index >= static_cast<int>(assets::kJournalIcons.size()))
        return {};
    const std::string_view name = assets::kJournalIcons[static_cast<std::size_t>(index)];
    return QPixmap(ProgramFile(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))));
}

TJournalGrid::TJournalGrid(TMemTableModel* model, QColor baseColour, std::function<bool()> loggedIn, QWidget* parent)
    : QAbstractScrollArea(parent), m_model(model), m_base(baseColour), m_loggedIn(std::move(loggedIn))
{
    for (std::size_t i = 0; i < m_icons.size(); ++i)
        m_icons[i] = JournalIconPicture(static_cast<int>(i));
    for (const GridColumn& c : model->Columns())
        m_widths.push_back(c.width);
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(11);
    setFont(f);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);

    // The rows are painted by hand; the titles are a header over the viewport,
    // following the horizontal scroll, its sections the column widths.
    m_header = new QHeaderView(Qt::Horizontal, this);
    m_header->setObjectName(QStringLiteral("JournalHeader"));
    m_header->setModel(model);
    m_header->setFont(f);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setSectionsClickable(false);
    m_header->setHighlightSections(false);
    // The window lays the widths out itself (the event column takes the rest).
    m_header->setSectionResizeMode(QHeaderView::Fixed);
    for (std::size_t c = 0; c < m_widths.size(); ++c)
        m_header->resizeSection(static_cast<int>(c), m_widths[c]);
    setViewportMargins(0, m_header->sizeHint().height(), 0, 0);

    // Every change costs O(1) here: a scroll range, a shift of two numbers, a repaint.
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { RowsInserted(first, last - first + 1); });
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { RowsRemoved(first, last - first + 1); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        const int row = m_model->Table().RecNo() - 1;
        m_current = row < m_model->rowCount() ? row : -1;
        UpdateScrollBars();
        viewport()->update();
    });
    connect(model, &QAbstractItemModel::dataChanged, viewport(), qOverload<>(&QWidget::update));
    connect(model, &TMemTableModel::cursorMoved, this, [this](int row) {
        if (!m_syncing)
            SetCurrent(row, false);
    });
    m_current = model->rowCount() > 0 ? m_model->Table().RecNo() - 1 : -1;
    UpdateScrollBars();
}

QColor TJournalGrid::RowColour(int row) const
{
    if (m_loggedIn && !m_loggedIn())
        return QColor(219, 219, 219);
    const MemTable& table = m_model->Table();
    const int statusField = table.FindField("Status");
    if (statusField < 0)
        return m_base;
    const kv::RowColour c = StatusRowColour(table.TextView(table.HandleAt(row), statusField));
    return c.isBase ? m_base : QColor(c.rgb.r, c.rgb.g, c.rgb.b);
}

int TJournalGrid::RowIcon(int row) const
{
    const MemTable& table = m_model->Table();
    const int statusField = table.FindField("Status");
    if (statusField < 0)
        return -1;
    return StatusIcon(table.TextView(table.HandleAt(row), statusField));
}

QModelIndex TJournalGrid::currentIndex() const
{
    return m_current >= 0 ? m_model->index(m_current, 0) : QModelIndex();
}

void TJournalGrid::selectRow(int row) { SetCurrent(row, true); }

int TJournalGrid::VisibleRows() const { return std::max(1, viewport()->height() / m_rowHeight); }

int TJournalGrid::rowAt(int y) const
{
    if (y < 0)
        return -1;
    const int row = TopRow() + y / m_rowHeight;
    return row < m_model->rowCount() ? row : -1;
}

void TJournalGrid::scrollToTop() { verticalScrollBar()->setValue(0); }

int TJournalGrid::columnWidth(int column) const
{
    return column >= 0 && column < static_cast<int>(m_widths.size()) ? m_widths[static_cast<std::size_t>(column)] : 0;
}

void TJournalGrid::setColumnWidth(int column, int width)
{
    if (column < 0 || column >= static_cast<int>(m_widths.size()))
        return;
    m_widths[static_cast<std::size_t>(column)] = std::max(0, width);
    m_header->resizeSection(column, m_widths[static_cast<std::size_t>(column)]);
    UpdateScrollBars();
    viewport()->update();
}

int TJournalGrid::columnViewportPosition(int column) const
{
    int x = -horizontalScrollBar()->value();
    for (int c = 0; c < column && c < static_cast<int>(m_widths.size()); ++c)
        x += m_widths[static_cast<std::size_t>(c)];
    return x;
}

void TJournalGrid::SetRowHeight(int pixels)
{
    m_rowHeight = std::max(1, pixels);
    UpdateScrollBars();
    viewport()->update();
}

void TJournalGrid::UpdateScrollBars()
{
    const int rows = m_model->rowCount();
    const int visible = VisibleRows();
    verticalScrollBar()->setRange(0, std::max(0, rows - visible));
    verticalScrollBar()->setPageStep(visible);
    int total = 0;
    for (int w : m_widths)
        total += w;
    horizontalScrollBar()->setRange(0, std::max(0, total - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void TJournalGrid::RowsInserted(int first, int count)
{
    // Rows inserted above the view keep the rows in view where they are.
    const int top = TopRow();
    UpdateScrollBars();
    if (top > 0 && first <= top)
        verticalScrollBar()->setValue(top + count);
    if (m_current >= first)
        m_current += count;
    viewport()->update();
}

void TJournalGrid::RowsRemoved(int first, int count)
{
    const int top = TopRow();
    UpdateScrollBars();
    if (first < top)
        verticalScrollBar()->setValue(std::max(first, top - count));
    if (m_current >= first + count)
        m_current -= count;
    else if (m_current >= first)
        m_current = std::min(first, m_model->rowCount() - 1);
    viewport()->update();
}

void TJournalGrid::SetCurrent(int row, bool moveTable)
{
    const int rows = m_model->rowCount();
    m_current = rows == 0 ? -1 : std::clamp(row, 0, rows - 1);
    if (m_current >= 0) {
        EnsureVisible(m_current);
        MemTable& table = m_model->Table();
        if (moveTable && table.State() == DataSetState::Browse && table.RecNo() != m_current + 1) {
            m_syncing = true;
            table.SetRecNo(m_current + 1);
            m_syncing = false;
        }
    }
    viewport()->update();
}

void TJournalGrid::EnsureVisible(int row)
{
    const int top = TopRow();
    const int visible = VisibleRows();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + visible)
        verticalScrollBar()->setValue(row - visible + 1);
}

void TJournalGrid::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    const QRect area = viewport()->geometry();
    const int height = m_header->sizeHint().height();
    m_header->setGeometry(area.left(), area.top() - height, area.width(), height);
    UpdateScrollBars();
}

void TJournalGrid::scrollContentsBy(int, int)
{
    m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void TJournalGrid::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton || e->button() == Qt::RightButton) {
        const int row = rowAt(static_cast<int>(e->position().y()));
        if (row >= 0)
            SetCurrent(row, true);
    }
    QAbstractScrollArea::mousePressEvent(e);
}

void TJournalGrid::keyPressEvent(QKeyEvent* e)
{
    const int page = VisibleRows();
    switch (e->key()) {
    case Qt::Key_Up: SetCurrent(m_current - 1, true); break;
    case Qt::Key_Down: SetCurrent(m_current + 1, true); break;
    case Qt::Key_PageUp: SetCurrent(m_current - page, true); break;
    case Qt::Key_PageDown: SetCurrent(m_current + page, true); break;
    case Qt::Key_Home: SetCurrent(0, true); break;
    case Qt::Key_End: SetCurrent(m_model->rowCount() - 1, true); break;
    default: QAbstractScrollArea::keyPressEvent(e); return;
    }
    e->accept();
}

void TJournalGrid::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const int rows = m_model->rowCount();
    const int top = TopRow();
    const int last = std::min(rows, top + VisibleRows() + 1);
    const int left = -horizontalScrollBar()->value();
    const QFontMetrics metrics(font());
    const MemTable& table = m_model->Table();
    for (int row = top; row < last; ++row) {
        const int y = (row - top) * m_rowHeight;
        const QColor colour = RowColour(row);
        if (row == m_current)
            p.fillRect(QRect(0, y, viewport()->width(), m_rowHeight), kCurrentRow);
        int x = left;
        for (std::size_t c = 0; c < m_widths.size(); ++c) {
            const int w = m_widths[c];
            const QRect cell(x, y, w, m_rowHeight);
            x += w;
            if (cell.right() < 0 || cell.left() > viewport()->width())
                continue;
            const GridColumn& column = m_model->Columns()[c];
            if (column.field.empty()) {
                const int icon = RowIcon(row);
                if (icon >= 0 && !m_icons[static_cast<std::size_t>(icon)].isNull()) {
                    p.save();
                    p.setClipRect(cell);
                    p.drawPixmap(JournalIconPosition(cell), m_icons[static_cast<std::size_t>(icon)]);
                    p.restore();
                }
            } else {
                const QString text = DisplayText(table, row, m_model->FieldOf(static_cast<int>(c)));
                p.setPen(colour);
                const QRect textRect = cell.adjusted(2, 0, -2, 0);
                p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                           metrics.elidedText(text, Qt::ElideRight, textRect.width()));
            }
            p.setPen(kGridLine);
            p.drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
            p.drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
        }
    }
}

} // namespace kv
