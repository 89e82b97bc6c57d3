#include "windows/DBGrid.h"

#include "data/Text.h"
#include "timing/DateTime.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"

#include <QHeaderView>

namespace kv {

using namespace literals;

TMemTableModel::TMemTableModel(MemTable& table, std::vector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_table(table), m_columns(std::move(columns))
{
    ResolveFields();
    m_table.AddObserver(this);
}

TMemTableModel::~TMemTableModel() { m_table.RemoveObserver(this); }

void TMemTableModel::ResolveFields()
{
    m_fieldIndex.clear();
    for (const GridColumn& c : m_columns)
        m_fieldIndex.push_back(c.field.empty() ? -1 : m_table.FindField(c.field));
}

int TMemTableModel::FieldOf(int column) const
{
    return column >= 0 && column < static_cast<int>(m_fieldIndex.size()) ? m_fieldIndex[column] : -1;
}

int TMemTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.RecordCount();
}

int TMemTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QString DisplayText(const MemTable& table, int row, int field)
{
    if (field < 0 || table.IsNullAt(row, field))
        return {};
    switch (table.Fields()[field].type) {
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Time:
        return ToQ(FormatDateTime(table.DateTimeAt(row, field)));
    case FieldType::Boolean:
        return table.BooleanAt(row, field) ? ToQ("Да"_cp) : ToQ("Нет"_cp);
    default:
        return ToQ(table.TextAt(row, field));
    }
}

QVariant TMemTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return DisplayText(m_table, index.row(), FieldOf(index.column()));
}

QVariant TMemTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(m_columns.size()))
        return {};
    return m_columns[section].caption;
}

Qt::ItemFlags TMemTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (m_editable && !m_table.ReadOnly() && FieldOf(index.column()) >= 0)
        f |= Qt::ItemIsEditable;
    return f;
}

bool TMemTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const int field = FieldOf(index.column());
    if (role != Qt::EditRole || field < 0)
        return false;
    try {
        m_table.SetRecNo(index.row() + 1);
        m_table.Edit();
        m_table.FieldAt(field).SetAsString(FromQ(value.toString()));
        m_table.Post();
        return true;
    } catch (const std::exception& e) {
        if (m_table.State() != DataSetState::Browse)
            m_table.Cancel();
        ShowError(e.what());
        return false;
    }
}

void TMemTableModel::RowsAboutToBeInserted(int first, int count) { beginInsertRows({}, first, first + count - 1); }
void TMemTableModel::RowsInserted(int, int) { endInsertRows(); }
void TMemTableModel::RowsAboutToBeRemoved(int first, int count) { beginRemoveRows({}, first, first + count - 1); }
void TMemTableModel::RowsRemoved(int, int) { endRemoveRows(); }
void TMemTableModel::RowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}
void TMemTableModel::AboutToReset() { beginResetModel(); }
void TMemTableModel::Reset()
{
    ResolveFields();
    endResetModel();
}
void TMemTableModel::CursorMoved(int row) { emit cursorMoved(row); }

TDBGrid::TDBGrid(TMemTableModel* model, QWidget* parent) : QTableView(parent), m_model(model)
{
    setModel(model);
    // Titles are shown when the columns have them.
    bool titled = false;
    for (const GridColumn& c : model->Columns())
        titled = titled || !c.caption.isEmpty();
    horizontalHeader()->setVisible(titled);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    setWordWrap(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int c = 0; c < static_cast<int>(model->Columns().size()); ++c)
        setColumnWidth(c, model->Columns()[c].width);
    SetRowHeight(18);

    connect(model, &TMemTableModel::cursorMoved, this, &TDBGrid::FollowCursor);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (m_syncing || !current.isValid())
                    return;
                MemTable& table = m_model->Table();
                if (table.RecNo() != current.row() + 1 && table.State() == DataSetState::Browse) {
                    m_syncing = true;
                    table.SetRecNo(current.row() + 1);
                    m_syncing = false;
                }
            });
    // A reset (load, clear, a detail following its master) puts the view back
    // on the table's cursor.
    connect(model, &QAbstractItemModel::modelReset, this, [this] { FollowCursor(m_model->Table().RecNo() - 1); });
}

void TDBGrid::SetRowHeight(int pixels) { verticalHeader()->setDefaultSectionSize(pixels); }

void TDBGrid::FollowCursor(int row)
{
    if (m_syncing)
        return;
    m_syncing = true;
    if (row >= 0 && row < m_model->rowCount()) {
        const QModelIndex current = currentIndex();
        setCurrentIndex(m_model->index(row, current.isValid() ? current.column() : 0));
    } else {
        setCurrentIndex({});
    }
    m_syncing = false;
}

} // namespace kv
