#include "station/JournalMenu.h"

#include "data/DurableJournal.h"

#include "data/MemTable.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "station/ReportWindow.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"

#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QStringList>

#include <filesystem>
#include <fstream>

namespace kv {

using namespace literals;

namespace {

constexpr std::string_view kFilter = "Файл журналов событий(*.jrn)|*.jrn|Все файлы (*.*)|*.*"_cp;
constexpr std::string_view kSaveTitle = "Укажите имя и путь сохранения"_cp;
constexpr std::string_view kOpenTitle = "Укажите имя файла с журналом"_cp;
constexpr std::string_view kReplaceQuestion = "Внимание! Текущий журнал событий будет удален!"_cp;
constexpr std::string_view kClearQuestion = "Подтвердите удаление журнала событий"_cp;
const QString kSuffix = QStringLiteral("jrn");

std::string FileName(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The table errors name the file in the file system's bytes; the box shows station text.
std::string ErrorText(const std::exception& e, const std::string& fileName, const QString& path)
{
    std::string text = e.what();
    const std::string shown = FromQ(path);
    for (std::size_t at = text.find(fileName); !fileName.empty() && at != std::string::npos;
         at = text.find(fileName, at + shown.size()))
        text.replace(at, fileName.size(), shown);
    return text;
}

std::string ReadWholeFile(const std::string& fileName)
{
    std::error_code ec;
    std::ifstream in;
    if (std::filesystem::is_regular_file(fileName, ec))
        in.open(fileName, std::ios::binary | std::ios::ate);
    if (!in.is_open())
        throw ETableFileError("Cannot open file " + fileName);
    const std::streamoff size = in.tellg();
    if (size < 0)
        throw ETableFileError("Stream read error");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size))
        throw ETableFileError("Stream read error");
    return bytes;
}

} // namespace

QString QtFileFilter(std::string_view pipeSeparatedCp1251)
{
    const QStringList parts = ToQ(pipeSeparatedCp1251).split(QLatin1Char('|'));
    QStringList filters;
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        description.remove(trailingPatterns);
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == QStringLiteral("*.*"))
                p = QStringLiteral("*");
        filters << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

bool IsJournal(const MemTable& table)
{
    for (const char* field : {"EventTime", "Status", "tel", "event"})
        if (table.FindField(field) < 0)
            return false;
    return true;
}

void SaveJournalAs(const MemTable& journal, const TableFormat& format, QWidget* parent)
{
    const QString path = Dialogs().SaveFileName(ToQ(kSaveTitle), QtFileFilter(kFilter), kSuffix, parent);
    if (path.isEmpty())
        return;
    const std::string fileName = FileName(path);
    try {
        format.Save(journal, fileName);
    } catch (const std::exception& e) {
        ShowError(ErrorText(e, fileName, path), parent);
    }
}

bool OpenJournalFile(MemTable& journal, const TableFormat& format, QWidget* parent, DurableJournal* log)
{
    const QString path = Dialogs().OpenFileName(ToQ(kOpenTitle), QtFileFilter(kFilter), parent);
    if (path.isEmpty())
        return false;
    if (!Dialogs().AskYesNo(std::string(kReplaceQuestion), parent))
        return false;
    const std::string fileName = FileName(path);
    try {
        // Read once and tried on a table of its own: a load that fails half-way
        // would otherwise leave the station's journal half replaced.
        const std::string bytes = ReadWholeFile(fileName);
        {
            MemTable trial(journal.Name());
            format.LoadFromBytes(trial, bytes);
            if (!IsJournal(trial)) {
                ShowError(Str("Файл "_cp) + FromQ(path) + Str(" не является журналом событий"_cp), parent);
                return false;
            }
        }
        // The journal's log restarts with the new content, so that a crash
        // cannot bring the replaced rows back.
        auto replace = [&] {
            format.LoadFromBytes(journal, bytes);
            journal.First();
        };
        if (log)
            log->Replace(replace);
        else
            replace();
        return true;
    } catch (const std::exception& e) {
        ShowError(ErrorText(e, fileName, path), parent);
        return false;
    }
}

void ClearJournal(MemTable& journal, QWidget* parent, DurableJournal* log)
{
    if (journal.State() != DataSetState::Browse)
        return;
    if (!Dialogs().AskYesNo(std::string(kClearQuestion), parent))
        return;
    const int count = journal.RecordCount();
    auto clear = [&] {
        journal.DisableControls();
        try {
            journal.First();
            for (int i = 0; i < count && !journal.IsEmpty(); ++i)
                journal.Delete();
        } catch (...) {
            journal.EnableControls();
            throw;
        }
        journal.EnableControls();
    };
    try {
        // The cleared journal is folded at once: a crash cannot bring its rows back.
        if (log)
            log->Replace(clear);
        else
            clear();
    } catch (const std::exception& e) {
        ShowError(e.what(), parent);
    }
}

void AddShiftReportItem(QMenu& menu, const MemTable& journal, const MemTable* dialJournal, QWidget* parent,
                        std::function<ReportCentre()> centre)
{
    QAction* item = menu.addAction(ToQ("Отчёт за смену"_cp));
    item->setObjectName(QStringLiteral("ShiftReportItem"));
    QObject::connect(item, &QAction::triggered, parent, [&journal, dialJournal, parent, centre = std::move(centre)] {
        ShowShiftReport(journal, dialJournal, parent, centre ? centre() : ReportCentre());
    });
}

} // namespace kv
