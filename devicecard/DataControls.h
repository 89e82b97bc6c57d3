#pragma once
// Edit boxes bound to a field of a table's current row. They show the row's
// value (the edit buffer while the row is being edited), follow the cursor and
// the master of a detail table, and write each change of the operator into the
// row: the first change puts the row into editing, or starts a new row when the
// table shows none (a detail's new row takes its master's key).
#include "data/MemTable.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>

#include <string>

namespace kv {

class TDataSource : public QObject, private ITableObserver {
    Q_OBJECT
public:
    explicit TDataSource(MemTable& table, QObject* parent = nullptr);
    ~TDataSource() override;

    MemTable& DataSet() const { return m_table; }

    // Whether the operator may change the shown row: the table is writable and,
    // for a detail, a master row is current to own a new row. A detail row made
    // without one would belong to no device.
    bool CanModify() const;
    // Puts the row into editing (or starts a new one); raises the table's error.
    void Edit();
    // A control wrote into the edit buffer: the other controls and handlers follow.
    void FieldChanged();
    // For what the table does not announce: a cancelled edit, a switched read-only state.
    void Refresh();

signals:
    // The shown row or its values changed; the controls re-read theirs.
    void dataChange();

private:
    // Inserting and deleting end with a cursor move; in between the table's
    // cursor may still point past the rows that are left.
    void RowsAboutToBeInserted(int, int) override {}
    void RowsInserted(int, int) override {}
    void RowsAboutToBeRemoved(int, int) override {}
    void RowsRemoved(int, int) override {}
    void RowChanged(int) override { emit dataChange(); }
    void AboutToReset() override {}
    void Reset() override { emit dataChange(); }
    void CursorMoved(int) override { emit dataChange(); }

    MemTable& m_table;
};

// The part every bound control shares: the field by name (a loaded file may
// order the fields differently) and the guard that tells the control's own
// refresh from the operator's change.
class FieldLink {
public:
    FieldLink(TDataSource& source, std::string field) : m_source(source), m_field(std::move(field)) {}
    TDataSource& Source() const { return m_source; }
    const std::string& FieldName() const { return m_field; }
    // -1 when the table has no such field.
    int FieldIndex() const { return m_source.DataSet().FindField(m_field); }
    std::string Text() const;
    bool Boolean() const;
    // Enters editing and writes; raises the table's error.
    void WriteText(const std::string& value);
    void WriteBoolean(bool value);

    bool m_refreshing = false;

private:
    TDataSource& m_source;
    std::string m_field;
};

class TDBEdit : public QLineEdit {
    Q_OBJECT
public:
    TDBEdit(TDataSource& source, std::string field, QWidget* parent = nullptr);
    const FieldLink& Link() const { return m_link; }
    // Writes a text as if the operator had typed it.
    void SetFieldText(const std::string& cp1251);

private:
    void Refresh();
    void Typed(const QString& text);
    FieldLink m_link;
};

// Multi-line text; the field keeps the "\r\n" line breaks the register has
// always stored.
class TDBMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    TDBMemo(TDataSource& source, std::string field, QWidget* parent = nullptr);
    const FieldLink& Link() const { return m_link; }

private:
    void Refresh();
    void Typed();
    FieldLink m_link;
};

class TDBCheckBox : public QCheckBox {
    Q_OBJECT
public:
    TDBCheckBox(TDataSource& source, std::string field, const QString& caption, QWidget* parent = nullptr);
    const FieldLink& Link() const { return m_link; }

protected:
    // A row that cannot be changed keeps its box as it is.
    void nextCheckState() override;

private:
    void Refresh();
    void Toggled(bool checked);
    FieldLink m_link;
};

} // namespace kv
