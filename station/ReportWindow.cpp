#include "station/ReportWindow.h"

#include "data/MemTable.h"
#include "data/Text.h"
#include "report/ReportPaint.h"
#include "station/JournalMenu.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include <set>

namespace kv {

using namespace literals;

namespace {

constexpr const char* kDateTimeFormat = "dd.MM.yyyy HH:mm:ss";
constexpr std::string_view kPdfFilter = "Файл PDF(*.pdf)|*.pdf|Все файлы (*.*)|*.*"_cp;
constexpr std::string_view kAllObjects = "Все объекты"_cp;

double ToDateTime(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime h = t.time();
    return EncodeDateTime({d.year(), d.month(), d.day(), h.hour(), h.minute(), h.second(), 0});
}

QDateTime ToQDateTime(double value)
{
    const DateTimeParts p = DecodeDateTime(value);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second));
}

} // namespace

TReportCharts::TReportCharts(QWidget* parent) : QWidget(parent)
{
    Name(this, "ReportCharts", "Графики отчёта"_cp);
    setMinimumSize(720, 420);
}

void TReportCharts::SetFigures(const ReportFigures* figures)
{
    m_figures = figures;
    update();
}

void TReportCharts::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!m_figures)
        return;
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF all = QRectF(rect()).adjusted(4, 4, -4, -4);
    const double top = all.height() * 0.55;
    PaintAlarmTimeline(p, QRectF(all.left(), all.top(), all.width(), top - 4), *m_figures);
    const QRectF below(all.left(), all.top() + top, all.width(), all.height() - top);
    PaintWaitChart(p, QRectF(below.left(), below.top(), below.width() * 0.42, below.height()), *m_figures);
    PaintAvailabilityChart(p, QRectF(below.left() + below.width() * 0.44, below.top(), below.width() * 0.56,
                                     below.height()),
                           *m_figures);
}

TShiftReportForm::TShiftReportForm(const MemTable& journal, const MemTable* dial, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      m_journal(journal), m_dial(dial)
{
    Name(this, "ShiftReportForm", "Отчёт за смену"_cp);
    setWindowTitle(ToQ("Отчёт за смену"_cp));

    FromEdit = new QDateTimeEdit(this);
    Name(FromEdit, "FromEdit", "Начало периода"_cp);
    ToEdit = new QDateTimeEdit(this);
    Name(ToEdit, "ToEdit", "Конец периода"_cp);
    for (QDateTimeEdit* e : {FromEdit, ToEdit}) {
        e->setDisplayFormat(QString::fromLatin1(kDateTimeFormat));
        e->setCalendarPopup(true);
    }
    ObjectBox = new QComboBox(this);
    Name(ObjectBox, "ObjectBox", "Объект"_cp);
    ObjectBox->setEditable(true);
    ObjectBox->setInsertPolicy(QComboBox::NoInsert);
    ObjectBox->setMinimumWidth(200);
    ShiftButton = new QPushButton(ToQ("Текущая смена"_cp), this);
    Name(ShiftButton, "ShiftButton", "Текущая смена"_cp);
    BuildButton = new QPushButton(ToQ("Построить"_cp), this);
    Name(BuildButton, "BuildButton", "Построить"_cp);
    BuildButton->setDefault(true);
    SummaryText = new QPlainTextEdit(this);
    Name(SummaryText, "SummaryText", "Итоги"_cp);
    SummaryText->setReadOnly(true);
    SummaryText->setMinimumWidth(330);
    Charts = new TReportCharts(this);
    PrintButton = new QPushButton(ToQ("Печать"_cp), this);
    Name(PrintButton, "PrintButton", "Печать"_cp);
    PdfButton = new QPushButton(ToQ("Сохранить PDF"_cp), this);
    Name(PdfButton, "PdfButton", "Сохранить PDF"_cp);
    CloseButton = new QPushButton(ToQ("Закрыть"_cp), this);
    Name(CloseButton, "CloseButton", "Закрыть"_cp);

    auto label = [this](const char* name, std::string_view text) { return NamedLabel(name, text, this); };
    auto* period = new QHBoxLayout;
    period->addWidget(label("FromLabel", "Период с"_cp));
    period->addWidget(FromEdit);
    period->addWidget(label("ToLabel", "по"_cp));
    period->addWidget(ToEdit);
    period->addWidget(ShiftButton);
    period->addSpacing(12);
    period->addWidget(label("ObjectLabel", "Объект:"_cp));
    period->addWidget(ObjectBox, 1);
    period->addWidget(BuildButton);
    auto* body = new QHBoxLayout;
    body->addWidget(SummaryText);
    body->addWidget(Charts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(PrintButton);
    buttons->addWidget(PdfButton);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(period);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);

    connect(ShiftButton, &QPushButton::clicked, this, &TShiftReportForm::ShiftButtonClick);
    connect(BuildButton, &QPushButton::clicked, this, [this] { BuildButtonClick(); });
    connect(PrintButton, &QPushButton::clicked, this, &TShiftReportForm::PrintButtonClick);
    connect(PdfButton, &QPushButton::clicked, this, &TShiftReportForm::PdfButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);

    ShiftButtonClick();
}

void TShiftReportForm::ShiftButtonClick()
{
    const ReportPeriod shift = CurrentShift(LocalNow());
    FromEdit->setDateTime(ToQDateTime(shift.from));
    ToEdit->setDateTime(ToQDateTime(shift.to));
    BuildButtonClick();
}

bool TShiftReportForm::BuildButtonClick()
{
    const ReportPeriod period{ToDateTime(FromEdit->dateTime()), ToDateTime(ToEdit->dateTime())};
    if (const std::string problem = PeriodProblem(period, LocalNow()); !problem.empty()) {
        ShowError(problem, this);
        return false;
    }
    const std::string object = FromQ(ObjectBox->currentText().trimmed());
    m_figures = ComputeReport(m_journal, m_dial, period, object == kAllObjects ? std::string() : object);
    QString text;
    for (const std::string& line : ReportSummaryLines(m_figures))
        text += ToQ(line) + QLatin1Char('\n');
    SummaryText->setPlainText(text);
    Charts->SetFigures(&m_figures);
    FillObjects();
    return true;
}

// The objects the journals name in the period, for the list; what the
// operator typed stays.
void TShiftReportForm::FillObjects()
{
    if (!m_figures.objectFilter.empty())
        return;
    const QString typed = ObjectBox->currentText();
    ObjectBox->clear();
    ObjectBox->addItem(ToQ(kAllObjects));
    for (const auto& [name, o] : m_figures.objects)
        ObjectBox->addItem(ToQ(name));
    ObjectBox->setCurrentText(typed.isEmpty() ? ToQ(kAllObjects) : typed);
}

void TShiftReportForm::PrintButtonClick()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(ToQ("Отчёт Korvalen"_cp));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!PaintReportPages(m_figures, printer, LocalNow()))
        ShowError(Str("Не удалось напечатать отчёт: принтер не готов"_cp), this);
}

void TShiftReportForm::PdfButtonClick()
{
    const QString path =
        Dialogs().SaveFileName(ToQ("Сохранить отчёт"_cp), QtFileFilter(kPdfFilter), QStringLiteral("pdf"), this);
    if (path.isEmpty())
        return;
    std::string error;
    if (!WriteReportPdf(m_figures, path, LocalNow(), error))
        ShowError(error + ": " + FromQ(path), this);
}

void ShowShiftReport(const MemTable& journal, const MemTable* dial, QWidget* parent)
{
    auto* form = new TShiftReportForm(journal, dial, parent);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->raise();
}

} // namespace kv
