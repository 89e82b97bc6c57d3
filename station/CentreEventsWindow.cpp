#include "station/CentreEventsWindow.h"

#include "data/Status.h"
#include "data/Text.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/JournalGrid.h"
#include "windows/Placement.h"
#include "windows/QtText.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

namespace {

// The main journal's colour for a status without one of its own.
const QColor kBaseColour(0, 128, 255);

} // namespace

TCentreEventsModel::TCentreEventsModel(QObject* parent) : QAbstractTableModel(parent) {}

void TCentreEventsModel::Append(const std::vector<centre::FeedEvent>& events)
{
    if (events.empty())
        return;
    // Only the last kKept of a large batch are ever shown.
    const std::size_t skip = events.size() > kKept ? events.size() - kKept : 0;
    const std::size_t adding = events.size() - skip;
    const std::size_t overflow = m_rows.size() + adding > kKept ? m_rows.size() + adding - kKept : 0;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(overflow));
        endRemoveRows();
    }
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(adding) - 1);
    m_rows.insert(m_rows.end(), events.begin() + static_cast<std::ptrdiff_t>(skip), events.end());
    endInsertRows();
}

int TCentreEventsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TCentreEventsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

const QPixmap& TCentreEventsModel::Icon(int index) const
{
    auto it = m_icons.find(index);
    if (it == m_icons.end())
        it = m_icons.emplace(index, JournalIconPicture(index)).first;
    return it->second;
}

QVariant TCentreEventsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const centre::FeedEvent& e = Row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Station: return ToQ(e.station);
        case Time: return ToQ(FormatDateTime(e.time));
        case Status: return ToQ(e.status);
        case Tel: return ToQ(e.tel);
        case Event: return ToQ(e.event);
        case Object: return ToQ(e.shortName);
        default: return {};
        }
    case Qt::ForegroundRole: {
        const RowColour c = StatusRowColour(e.status);
        return c.isBase ? kBaseColour : QColor(c.rgb.r, c.rgb.g, c.rgb.b);
    }
    case Qt::DecorationRole:
        if (index.column() == Status) {
            const int icon = StatusIcon(e.status);
            if (icon >= 0 && !Icon(icon).isNull())
                return Icon(icon);
        }
        return {};
    default: return {};
    }
}

QVariant TCentreEventsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static constexpr std::string_view kTitles[kColumns] = {"Станция"_cp, "Дата/время"_cp, "Статус"_cp,
                                                           "Телефон"_cp, "Событие"_cp,    "Объект"_cp};
    return section >= 0 && section < kColumns ? ToQ(kTitles[section]) : QVariant();
}

TCentreEventsForm::TCentreEventsForm(QWidget* mainWindow)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint),
      m_model(new TCentreEventsModel(this)), m_mainWindow(mainWindow)
{
    Name(this, "CentreEventsForm", "События центра"_cp);
    setWindowTitle(ToQ("События центра"_cp));
    CentreEventsGrid = new QTableView(this);
    Name(CentreEventsGrid, "CentreEventsGrid", "События центра"_cp);
    CentreEventsGrid->setModel(m_model);
    const int width = SetUpRowList(*CentreEventsGrid, {110, 140, 150, 110, 420, 90});
    CentreEventsGrid->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(CentreEventsGrid);
    resize(width + 30, 560);
}

void TCentreEventsForm::ShowCentred() { ShowCentredOver(*this, m_mainWindow, true); }

void TCentreEventsForm::Append(const std::vector<centre::FeedEvent>& events)
{
    QScrollBar* bar = CentreEventsGrid->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    m_model->Append(events);
    if (atBottom)
        CentreEventsGrid->scrollToBottom();
}

} // namespace kv
