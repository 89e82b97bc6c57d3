#include "station/ReportWindow.h"

#include "centre/CentreReport.h"
#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "data/IniFile.h"
#include "data/MemTable.h"
#include "data/Text.h"
#include "report/ReportPaint.h"
#include "station/JournalMenu.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"

#include <QCheckBox>
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

#include <chrono>
#include <set>
#include <thread>

namespace kv {

using namespace literals;

namespace {

constexpr const char* kDateTimeFormat = "dd.MM.yyyy HH:mm:ss";
constexpr std::string_view kPdfFilter = "Файл PDF(*.pdf)|*.pdf|Все файлы (*.*)|*.*"_cp;
constexpr std::string_view kAllObjects = "Все объекты"_cp;
// An operator waits for the report: a centre that does not answer soon is told as down.
constexpr std::chrono::seconds kCentreConnectTimeout{10};

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

ReportCentre ReportCentreOf(const std::string& configFile, bool receiving)
{
    const std::optional<centre::DatabaseSettings> settings = centre::ReadDatabaseSettings(IniFile(configFile));
    if (!settings)
        return {};
    return {settings->connection, !receiving};
}

// The read's own connection and thread: the window's end cuts the connection
// and waits for the thread, which touches nothing of the window.
struct TShiftReportForm::CentreRead {
    explicit CentreRead(const std::string& conninfo) : db(conninfo, kCentreConnectTimeout) {}
    ~CentreRead()
    {
        db.Abort();
        if (thread.joinable())
            thread.join();
    }
    pg::Connection db;
    std::thread thread;
    bool done = false; // UI thread
};

TShiftReportForm::TShiftReportForm(const MemTable& journal, const MemTable* dial, QWidget* parent, ReportCentre centre)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      m_journal(journal), m_dial(dial), m_centre(std::move(centre))
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
    if (!m_centre.connection.empty()) {
        CentreBox = new QCheckBox(ToQ("Все станции центра"_cp), this);
        Name(CentreBox, "CentreBox", "Все станции центра"_cp);
        CentreBox->setChecked(m_centre.wholeByDefault);
    }
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
    if (CentreBox)
        period->addWidget(CentreBox);
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

TShiftReportForm::~TShiftReportForm()
{
    *m_alive = false;
    m_read.reset();
}

bool TShiftReportForm::Reading() const { return m_read && !m_read->done; }

void TShiftReportForm::ShiftButtonClick()
{
    const ReportPeriod shift = CurrentShift(LocalNow());
    FromEdit->setDateTime(ToQDateTime(shift.from));
    ToEdit->setDateTime(ToQDateTime(shift.to));
    BuildButtonClick();
}

bool TShiftReportForm::BuildButtonClick()
{
    if (Reading())
        return false;
    const ReportPeriod period{ToDateTime(FromEdit->dateTime()), ToDateTime(ToEdit->dateTime())};
    if (const std::string problem = PeriodProblem(period, LocalNow()); !problem.empty()) {
        ShowError(problem, this);
        return false;
    }
    std::string object = FromQ(ObjectBox->currentText().trimmed());
    if (object == kAllObjects)
        object.clear();
    if (CentreBox && CentreBox->isChecked()) {
        StartCentreRead(period, object);
        return true;
    }
    m_figures = ComputeReport(m_journal, m_dial, period, object);
    ShowFigures();
    return true;
}

void TShiftReportForm::StartCentreRead(const ReportPeriod& period, const std::string& object)
{
    m_read = std::make_unique<CentreRead>(m_centre.connection);
    for (QWidget* w : std::initializer_list<QWidget*>{BuildButton, ShiftButton, CentreBox})
        w->setEnabled(false);
    SummaryText->setPlainText(ToQ("Чтение из базы данных…"_cp));
    CentreRead* read = m_read.get();
    read->thread = std::thread([this, read, period, object, alive = m_alive] {
        ReportFigures figures;
        std::string error;
        try {
            read->db.Connect();
            MemTable main("EventsTable"), ring("DialEventsTable");
            centre::ReadCentreJournals(read->db, period, main, ring);
            read->db.Disconnect();
            figures = ComputeReport(main, &ring, period, object);
        } catch (const std::exception& e) {
            error = e.what();
            if (error.empty())
                error = "?";
        }
        // `this` is only looked at on the UI thread, and only while the window stands.
        PostToUi([this, alive, figures = std::move(figures), error = std::move(error)]() mutable {
            if (*alive)
                CentreReadDone(std::move(figures), error);
        });
    });
}

void TShiftReportForm::CentreReadDone(ReportFigures figures, const std::string& error)
{
    m_read->done = true;
    for (QWidget* w : std::initializer_list<QWidget*>{BuildButton, ShiftButton, CentreBox})
        w->setEnabled(true);
    if (!error.empty()) {
        // The report shown before stays, if any; libpq's second line ("This
        // probably means...") is for developers.
        if (m_figures.period.to != 0)
            ShowFigures();
        else
            SummaryText->clear();
        ShowError(Str("Отчёт по центру не построен: "_cp) + Cp1251FromUtf8(error.substr(0, error.find('\n'))), this);
        return;
    }
    m_figures = std::move(figures);
    ShowFigures();
}

void TShiftReportForm::ShowFigures()
{
    QString text;
    for (const std::string& line : ReportSummaryLines(m_figures))
        text += ToQ(line) + QLatin1Char('\n');
    SummaryText->setPlainText(text);
    Charts->SetFigures(&m_figures);
    FillObjects();
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

void ShowShiftReport(const MemTable& journal, const MemTable* dial, QWidget* parent, ReportCentre centre)
{
    auto* form = new TShiftReportForm(journal, dial, parent, std::move(centre));
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->raise();
}

} // namespace kv
