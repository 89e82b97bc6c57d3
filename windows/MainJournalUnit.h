#pragma once
// The work journal window: the main journal again, in a larger grid.
#include <QDialog>

#include <functional>

namespace kv {

class MemTable;
class TJournalGrid;
class TMemTableModel;

class TMainJournal : public QDialog {
    Q_OBJECT
public:
    TMainJournal(MemTable& eventsTable, QWidget* mainWindow);
    void ShowCentred();

    TJournalGrid* MainJournalDBGrid;
    // Runs when the window closes (the main window clears its toggle flag).
    std::function<void()> FormClose;

protected:
    void hideEvent(QHideEvent* e) override;

private:
    TMemTableModel* m_model;
    QWidget* m_mainWindow;
};

} // namespace kv
