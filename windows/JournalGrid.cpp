#include "windows/JournalGrid.h"

#include "assets/AssetNames.h"
#include "data/Status.h"
#include "data/Text.h"
#include "windows/AppPaths.h"
#include "windows/QtText.h"

#include <QPainter>

#include <cmath>

namespace kv {

using namespace literals;

std::vector<GridColumn> JournalColumns(int fWidth, int timeWidth, int nameWidth, int telWidth, int eventWidth)
{
    return {{"", ToQ("Статус"_cp), fWidth},
            {"EventTime", ToQ("Время события"_cp), timeWidth},
            {"simplename", QString(), nameWidth},
            {"tel", ToQ("Телефон"_cp), telWidth},
            {"event", ToQ("Событие"_cp), eventWidth}};
}

QPoint JournalIconPosition(const QRect& cell)
{
    const double left = cell.left();
    const double right = cell.left() + cell.width(); // the rectangle's right edge, exclusive
    return {static_cast<int>(std::nearbyint((left + right) / 2.0 - 16.0)), cell.top()};
}

class TJournalGrid::Delegate final : public QStyledItemDelegate {
public:
    explicit Delegate(TJournalGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt(option);
        const QColor colour = m_grid->RowColour(index.row());
        opt.palette.setColor(QPalette::Text, colour);
        opt.palette.setColor(QPalette::HighlightedText, colour);
        // The selected row keeps its status colour on a light highlight.
        opt.palette.setColor(QPalette::Highlight, QColor(220, 232, 248));
        QStyledItemDelegate::paint(painter, opt, index);
        if (m_grid->Model()->Columns()[static_cast<std::size_t>(index.column())].field.empty()) {
            const int icon = m_grid->RowIcon(index.row());
            if (icon >= 0 && !m_grid->Icon(icon).isNull()) {
                painter->save();
                painter->setClipRect(option.rect);
                painter->drawPixmap(JournalIconPosition(option.rect), m_grid->Icon(icon));
                painter->restore();
            }
        }
    }

private:
    TJournalGrid* m_grid;
};

TJournalGrid::TJournalGrid(TMemTableModel* model, QColor baseColour, std::function<bool()> loggedIn, QWidget* parent)
    : TDBGrid(model, parent), m_base(baseColour), m_loggedIn(std::move(loggedIn))
{
    for (std::size_t i = 0; i < m_icons.size(); ++i) {
        const std::string_view name = assets::kJournalIcons[i];
        m_icons[i] = QPixmap(ProgramFile(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))));
    }
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(11);
    setFont(f);
    SetRowHeight(20);
    setItemDelegate(new Delegate(this));
}

QColor TJournalGrid::RowColour(int row) const
{
    if (m_loggedIn && !m_loggedIn())
        return QColor(219, 219, 219);
    const MemTable& table = Model()->Table();
    const int statusField = table.FindField("Status");
    if (statusField < 0)
        return m_base;
    const kv::RowColour c = StatusRowColour(table.TextView(table.HandleAt(row), statusField));
    return c.isBase ? m_base : QColor(c.rgb.r, c.rgb.g, c.rgb.b);
}

int TJournalGrid::RowIcon(int row) const
{
    const MemTable& table = Model()->Table();
    const int statusField = table.FindField("Status");
    if (statusField < 0)
        return -1;
    return StatusIcon(table.TextView(table.HandleAt(row), statusField));
}

} // namespace kv
