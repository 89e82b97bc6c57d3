#pragma once
// The journal search window "Поиск в журнале": filters over the main journal
// (device, statuses, a time range, a text), the matching rows in the journal
// grids' colours and icons, newest first, with their count, and their export
// as a CSV file. The rows found follow the journal: a new event that matches
// comes in on top; a journal cleared or replaced empties the list until the
// next search, so no row shown can outlive its record.
#include "data/JournalSearch.h"
#include "data/MemTable.h"

#include <QAbstractTableModel>
#include <QDialog>

#include <deque>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace kv {

struct StationContext;
class DeviceRegister;

class TJournalSearchModel final : public QAbstractTableModel, private IRecordListener {
    Q_OBJECT
public:
    explicit TJournalSearchModel(MemTable& journal, QObject* parent = nullptr);
    ~TJournalSearchModel() override;

    // Searches the journal; the rows found replace the list.
    void Search(const JournalFilter& filter);
    // An empty list that follows nothing.
    void Clear();
    const std::deque<RecordHandle>& Rows() const { return m_rows; }
    // The journal was cleared or replaced since the last search.
    bool Stale() const { return m_stale; }
    MemTable& Journal() const { return m_journal; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void countChanged();

private:
    void RecordAdded(RecordHandle record, std::size_t position) override;
    void RecordChanged(RecordHandle record) override;
    void RecordRemoving(RecordHandle record, std::size_t position) override;
    void RecordsCleared() override;
    void MakeStale();

    MemTable& m_journal;
    std::deque<RecordHandle> m_rows;
    std::optional<JournalMatcher> m_matcher;
    std::vector<int> m_fields; // per column, -1 for the icon column
    int m_statusField = -1;
    int m_eventField = -1;
    bool m_stale = false;
};

class TJournalSearchForm : public QDialog {
    Q_OBJECT
public:
    // Devices are offered and matched through `reg`, which outlives the window.
    TJournalSearchForm(MemTable& journal, const DeviceRegister& reg, StationContext& ctx);

    // Shown over the main window; `device` (a short name or number) fills the
    // device filter and searches at once.
    void ShowFor(const std::string& device);

    JournalFilter CurrentFilter() const;
    void FindButtonClick();
    void ResetButtonClick();
    void ExportButtonClick();
    TJournalSearchModel& Model() { return *m_model; }

    QComboBox* DeviceBox;
    QListWidget* StatusList;
    QCheckBox* FromCheck;
    QDateTimeEdit* FromEdit;
    QCheckBox* ToCheck;
    QDateTimeEdit* ToEdit;
    QLineEdit* TextEdit;
    QPushButton* FindButton;
    QPushButton* ResetButton;
    QTableView* ResultGrid;
    QLabel* CountLabel;
    QPushButton* ExportButton;
    QPushButton* CloseButton;

protected:
    // A closed window keeps no rows: it costs new events nothing.
    void hideEvent(QHideEvent* e) override;

private:
    void FillDevices();
    void ShowCount();

    const DeviceRegister& m_register;
    StationContext& m_ctx;
    TJournalSearchModel* m_model;
};

} // namespace kv
