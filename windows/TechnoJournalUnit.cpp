#include "windows/TechnoJournalUnit.h"
#include "windows/Placement.h"

#include "data/Text.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/QtText.h"
#include "core/TechnoLog.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

TTechnoJournalForm::TTechnoJournalForm(QWidget* mainWindow, int maxLines)
    : QDialog(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint |
                           Qt::CustomizeWindowHint),
      m_mainWindow(mainWindow)
{
    Name(this, "TechnoJournalForm", "Технологический журнал"_cp);
    setWindowTitle(ToQ("Технологический журнал"_cp));
    setFixedSize(515, 279);

    Otchet = new QPlainTextEdit(this);
    Name(Otchet, "Otchet", "Технологический журнал"_cp);
    Otchet->setReadOnly(true);
    Otchet->setMaximumBlockCount(maxLines);
    Otchet->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Otchet->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Otchet->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(11);
    Otchet->setFont(f);

    ScrollTechnoJournal = new QCheckBox(ToQ("Автопрокрутка журнала"_cp), this);
    Name(ScrollTechnoJournal, "ScrollTechnoJournal", "Автопрокрутка журнала"_cp);
    ScrollTechnoJournal->setChecked(true);
    WriteTechnoJournal = new QCheckBox(ToQ("Включить/отключить запись в технологический журнал"_cp), this);
    Name(WriteTechnoJournal, "WriteTechnoJournal", "Включить/отключить запись в технологический журнал"_cp);
    WriteTechnoJournal->setChecked(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    layout->addWidget(Otchet, 1);
    layout->addWidget(ScrollTechnoJournal);
    layout->addWidget(WriteTechnoJournal);
}

TTechnoJournalForm::~TTechnoJournalForm() = default;

void TTechnoJournalForm::SetLog(std::unique_ptr<TTechnoLog> log) { m_log = std::move(log); }

void TTechnoJournalForm::AppendTechnoLine(const std::string& text, Rgb colour)
{
    const double now = LocalNow();
    if (m_log && m_log->Append(now, text, colour) == TTechnoLog::Outcome::Failed)
        AddLine(ToQ(FormatTime(now)) + QStringLiteral(":  ") + ToQ(TechnoLogFailureText(*m_log)), kRed);
    if (!WriteTechnoJournal->isChecked())
        return;
    // A modem line may carry its own CR/LF; keep one journal line per entry and
    // show the breaks inside it.
    QString body = ToQ(text);
    body.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    body.replace(QLatin1Char('\r'), QChar::LineSeparator);
    body.replace(QLatin1Char('\n'), QChar::LineSeparator);
    AddLine(ToQ(FormatTime(now)) + QStringLiteral(":  ") + body, colour);
}

void TTechnoJournalForm::AddLine(const QString& line, Rgb colour)
{
    QTextCharFormat format;
    format.setForeground(QColor(colour.r, colour.g, colour.b));
    // One edit block per line: without it every append re-lays out the whole
    // document while the view is scrolled away from the end.
    QTextCursor cursor(Otchet->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (!Otchet->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line, format);
    cursor.endEditBlock();
    if (ScrollTechnoJournal->isChecked())
        Otchet->verticalScrollBar()->setValue(Otchet->verticalScrollBar()->maximum());
}

void TTechnoJournalForm::ShowCentred() { ShowCentredOver(*this, m_mainWindow); }

} // namespace kv
