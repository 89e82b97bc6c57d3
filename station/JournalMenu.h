#pragma once
// The journal menu of the main window: save the main journal to a journal file,
// replace it by one, or clear it. Boxes and file dialogs go through Dialogs().
#include "station/ReportWindow.h"

#include <QString>

#include <functional>
#include <string_view>

class QMenu;
class QWidget;

namespace kv {

class DurableJournal;

class MemTable;
class TableFormat;

// "Описание|*.ext|Все файлы (*.*)|*.*" as Qt writes it: "Описание (*.ext);;Все
// файлы (*)". On this platform "*.*" would skip names without a dot.
QString QtFileFilter(std::string_view pipeSeparatedCp1251);

// A table that carries the journal's columns (EventTime, Status, tel, event).
bool IsJournal(const MemTable& table);

// "Сохранить": the dialog adds ".jrn" to a name without an extension; an
// existing file is overwritten. Errors in a box.
void SaveJournalAs(const MemTable& journal, const TableFormat& format, QWidget* parent);
// "Открыть": after the operator confirms, the file replaces the journal. It is
// read into a table of its own first: a file that cannot be read or holds no
// journal leaves the current journal exactly as it was. True when replaced.
bool OpenJournalFile(MemTable& journal, const TableFormat& format, QWidget* parent, DurableJournal* log = nullptr);
// "Очистить": after the operator confirms, deletes every record one by one,
// with the grids silenced meanwhile. Nothing while a record is being edited.
void ClearJournal(MemTable& journal, QWidget* parent, DurableJournal* log = nullptr);
// "Отчёт за смену" at the end of the menu: opens the shift report of the journals over `parent`;
// `centre`, asked at each opening, tells where the centre's report would come from.
void AddShiftReportItem(QMenu& menu, const MemTable& journal, const MemTable* dialJournal, QWidget* parent,
                        std::function<ReportCentre()> centre = {});

} // namespace kv
