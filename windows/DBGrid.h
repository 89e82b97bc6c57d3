#pragma once
// Data-aware display of a MemTable: a Qt model that reads the table in place
// (never copies it) and follows its changes, and a grid view that shares the
// table's cursor, as the station's data grids do.
#include "data/MemTable.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <string>
#include <vector>

namespace kv {

struct GridColumn {
    std::string field;   // empty: a display column bound to no field (always empty text)
    QString caption;
    int width = 64;
};

class TMemTableModel final : public QAbstractTableModel, private ITableObserver {
    Q_OBJECT
public:
    TMemTableModel(MemTable& table, std::vector<GridColumn> columns, QObject* parent = nullptr);
    ~TMemTableModel() override;

    MemTable& Table() const { return m_table; }
    const std::vector<GridColumn>& Columns() const { return m_columns; }
    // Field index of a column in the table's current fields, -1 when unbound or missing.
    int FieldOf(int column) const;
    // Editing in place: posts each change at once; a table error is shown in a box.
    void SetEditable(bool editable) { m_editable = editable; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void cursorMoved(int row);

private:
    void RowsAboutToBeInserted(int first, int count) override;
    void RowsInserted(int first, int count) override;
    void RowsAboutToBeRemoved(int first, int count) override;
    void RowsRemoved(int first, int count) override;
    void RowChanged(int row) override;
    void AboutToReset() override;
    void Reset() override;
    void CursorMoved(int row) override;
    void ResolveFields();

    MemTable& m_table;
    std::vector<GridColumn> m_columns;
    std::vector<int> m_fieldIndex;
    bool m_editable = false;
};

// Text of one value as the grids show it (date-times in short date and long time).
QString DisplayText(const MemTable& table, int row, int field);

// A grid over a table model: a title row when the columns have captions, no
// indicator, column
// widths from the columns, the current row following the table's cursor and
// moving it when the operator selects a row.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    TDBGrid(TMemTableModel* model, QWidget* parent = nullptr);
    TMemTableModel* Model() const { return m_model; }
    void SetRowHeight(int pixels);

private:
    void FollowCursor(int row);
    TMemTableModel* m_model;
    bool m_syncing = false;
};

} // namespace kv
