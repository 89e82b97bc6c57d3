#include "windows/MainJournalUnit.h"
#include "windows/Placement.h"

#include "data/Text.h"
#include "windows/Controls.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"

#include <QApplication>
#include <QHideEvent>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

TMainJournal::TMainJournal(MemTable& eventsTable, QWidget* mainWindow)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint),
      m_mainWindow(mainWindow)
{
    Name(this, "MainJournal", "Журнал работы"_cp);
    setWindowTitle(ToQ("Журнал работы"_cp));
    resize(1010, 560);

    // A phone number and "GSM-модем №1" need 110 pixels here; the time column
    // gives up what it never used, so the grid keeps its width.
    m_model = new TMemTableModel(eventsTable, JournalColumns(59, 143, 80, 110, 598), this);
    MainJournalDBGrid = new TJournalGrid(m_model, QApplication::palette().color(QPalette::WindowText), {}, this);
    Name(MainJournalDBGrid, "MainJournalDBGrid", "Журнал работы"_cp);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(MainJournalDBGrid);
}

void TMainJournal::ShowCentred() { ShowCentredOver(*this, m_mainWindow, false); }

void TMainJournal::hideEvent(QHideEvent* e)
{
    if (!e->spontaneous() && FormClose)
        FormClose();
    QDialog::hideEvent(e);
}

} // namespace kv
