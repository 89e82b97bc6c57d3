#include "station/JournalSearchWindow.h"

#include "data/Status.h"
#include "data/Text.h"
#include "devices/DeviceRegister.h"
#include "modem/DialSchedule.h"
#include "station/JournalMenu.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/JournalGrid.h"
#include "windows/Placement.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

using namespace literals;

namespace {

// The main window's journal grids: their columns, widths and base colour.
const std::vector<GridColumn>& Columns()
{
    static const std::vector<GridColumn> columns = JournalColumns(60, 131, 100, 142, 560);
    return columns;
}
const QColor kBase(0, 128, 255);
constexpr const char* kDateTimeFormat = "dd.MM.yyyy HH:mm:ss";
constexpr std::string_view kCsvFilter = "Файл CSV(*.csv)|*.csv|Все файлы (*.*)|*.*"_cp;

double ToDateTime(const QDateTime& t, int msec)
{
    const QDate d = t.date();
    const QTime h = t.time();
    return EncodeDateTime({d.year(), d.month(), d.day(), h.hour(), h.minute(), h.second(), msec});
}

} // namespace

// ---------------------------------------------------------------- the rows found

TJournalSearchModel::TJournalSearchModel(MemTable& journal, QObject* parent)
    : QAbstractTableModel(parent), m_journal(journal)
{
    m_journal.AddRecordListener(this);
}

TJournalSearchModel::~TJournalSearchModel() { m_journal.RemoveRecordListener(this); }

void TJournalSearchModel::Search(const JournalFilter& filter)
{
    beginResetModel();
    m_fields.clear();
    for (const GridColumn& c : Columns())
        m_fields.push_back(c.field.empty() ? -1 : m_journal.FindField(c.field));
    m_statusField = m_journal.FindField("Status");
    m_eventField = m_journal.FindField("event");
    m_matcher.emplace(m_journal, filter);
    const std::vector<RecordHandle> found = SearchJournal(m_journal, filter);
    m_rows.assign(found.begin(), found.end());
    m_stale = false;
    endResetModel();
    emit countChanged();
}

void TJournalSearchModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    m_matcher.reset();
    m_stale = false;
    endResetModel();
    emit countChanged();
}

void TJournalSearchModel::RecordAdded(RecordHandle record, std::size_t position)
{
    if (m_stale || !m_matcher)
        return;
    // A new event goes in front; anything else is a load that replaces the rows.
    if (position != 0) {
        MakeStale();
        return;
    }
    if (!(*m_matcher)(record))
        return;
    beginInsertRows({}, 0, 0);
    m_rows.push_front(record);
    endInsertRows();
    emit countChanged();
}

void TJournalSearchModel::RecordChanged(RecordHandle)
{
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void TJournalSearchModel::RecordRemoving(RecordHandle, std::size_t) { MakeStale(); }

void TJournalSearchModel::RecordsCleared() { MakeStale(); }

void TJournalSearchModel::MakeStale()
{
    // A clear deletes row by row: only the first removal costs anything.
    if (m_stale)
        return;
    beginResetModel();
    m_rows.clear();
    m_matcher.reset();
    m_stale = true;
    endResetModel();
    emit countChanged();
}

int TJournalSearchModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TJournalSearchModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Columns().size());
}

QVariant TJournalSearchModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RecordHandle row = m_rows[static_cast<std::size_t>(index.row())];
    const std::string_view status = m_statusField >= 0 ? m_journal.TextView(row, m_statusField) : std::string_view();
    const int field = m_fields[static_cast<std::size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
        return field >= 0 && !m_journal.IsNull(row, field) ? ToQ(m_journal.Text(row, field)) : QString();
    case Qt::ForegroundRole: {
        const RowColour c = StatusRowColour(status);
        return c.isBase ? kBase : QColor(c.rgb.r, c.rgb.g, c.rgb.b);
    }
    case Qt::DecorationRole:
        if (field < 0)
            return JournalIconPicture(StatusIcon(status));
        return {};
    case Qt::ToolTipRole:
        return field >= 0 && field == m_eventField ? ToQ(m_journal.Text(row, field)) : QVariant();
    default:
        return {};
    }
}

QVariant TJournalSearchModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(Columns().size()))
        return {};
    return section == 2 ? ToQ("Объект"_cp) : Columns()[static_cast<std::size_t>(section)].caption;
}

// ---------------------------------------------------------------- the window

TJournalSearchForm::TJournalSearchForm(MemTable& journal, const DeviceRegister& reg, StationContext& ctx)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint),
      m_register(reg), m_ctx(ctx), m_model(new TJournalSearchModel(journal, this))
{
    Name(this, "JournalSearchForm", "Поиск в журнале"_cp);
    setWindowTitle(ToQ("Поиск в журнале"_cp));

    DeviceBox = new QComboBox(this);
    Name(DeviceBox, "DeviceBox", "Объект (ярлык или номер)"_cp);
    DeviceBox->setEditable(true);
    DeviceBox->setInsertPolicy(QComboBox::NoInsert);
    DeviceBox->setMinimumWidth(200);
    StatusList = new QListWidget(this);
    Name(StatusList, "StatusList", "Статусы"_cp);
    for (const StatusEntry& e : StatusVocabulary()) {
        auto* item = new QListWidgetItem(JournalIconPicture(e.icon), ToQ(e.text), StatusList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    StatusList->setFixedHeight(150);
    StatusList->setMinimumWidth(230);
    FromCheck = new QCheckBox(ToQ("с"_cp), this);
    Name(FromCheck, "FromCheck", "с"_cp);
    FromEdit = new QDateTimeEdit(this);
    Name(FromEdit, "FromEdit", "Начало периода"_cp);
    ToCheck = new QCheckBox(ToQ("по"_cp), this);
    Name(ToCheck, "ToCheck", "по"_cp);
    ToEdit = new QDateTimeEdit(this);
    Name(ToEdit, "ToEdit", "Конец периода"_cp);
    for (QDateTimeEdit* e : {FromEdit, ToEdit}) {
        e->setDisplayFormat(QString::fromLatin1(kDateTimeFormat));
        e->setCalendarPopup(true);
        e->setEnabled(false);
        e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000 00:00:00")) + 44);
    }
    FromEdit->setDateTime(QDateTime(QDate::currentDate(), QTime(0, 0)));
    ToEdit->setDateTime(QDateTime(QDate::currentDate(), QTime(23, 59, 59)));
    connect(FromCheck, &QCheckBox::toggled, FromEdit, &QWidget::setEnabled);
    connect(ToCheck, &QCheckBox::toggled, ToEdit, &QWidget::setEnabled);
    TextEdit = new QLineEdit(this);
    Name(TextEdit, "TextEdit", "Текст события содержит"_cp);
    TextEdit->setMaxLength(200);
    FindButton = new QPushButton(ToQ("Найти"_cp), this);
    Name(FindButton, "FindButton", "Найти"_cp);
    FindButton->setDefault(true);
    ResetButton = new QPushButton(ToQ("Сбросить"_cp), this);
    Name(ResetButton, "ResetButton", "Сбросить"_cp);

    ResultGrid = new QTableView(this);
    Name(ResultGrid, "ResultGrid", "Найденные события"_cp);
    ResultGrid->setModel(m_model);
    ResultGrid->setIconSize(QSize(20, 20));
    std::vector<int> widths;
    for (const GridColumn& c : Columns())
        widths.push_back(c.width);
    const int width = SetUpRowList(*ResultGrid, widths);
    ResultGrid->horizontalHeader()->setStretchLastSection(true);
    ResultGrid->setMinimumSize(width + 30, 300);
    CountLabel = new QLabel(this);
    Name(CountLabel, "CountLabel", "Найдено"_cp);
    ExportButton = new QPushButton(ToQ("Экспорт CSV"_cp), this);
    Name(ExportButton, "ExportButton", "Экспорт CSV"_cp);
    CloseButton = new QPushButton(ToQ("Закрыть"_cp), this);
    Name(CloseButton, "CloseButton", "Закрыть"_cp);

    auto label = [this](const char* name, std::string_view text) { return NamedLabel(name, text, this); };
    auto* filters = new QGridLayout;
    filters->setHorizontalSpacing(8);
    filters->addWidget(label("DeviceLabel", "Объект:"_cp), 0, 0);
    filters->addWidget(DeviceBox, 0, 1, 1, 3);
    filters->addWidget(label("PeriodLabel", "Период:"_cp), 1, 0);
    filters->addWidget(FromCheck, 1, 1);
    filters->addWidget(FromEdit, 1, 2);
    filters->addWidget(ToCheck, 2, 1);
    filters->addWidget(ToEdit, 2, 2);
    filters->addWidget(label("TextLabel", "Текст:"_cp), 3, 0);
    filters->addWidget(TextEdit, 3, 1, 1, 3);
    filters->setColumnStretch(3, 1);
    auto* searchButtons = new QHBoxLayout;
    searchButtons->addStretch(1);
    searchButtons->addWidget(ResetButton);
    searchButtons->addWidget(FindButton);
    filters->addLayout(searchButtons, 4, 0, 1, 4);
    filters->setRowStretch(5, 1);
    auto* statuses = new QVBoxLayout;
    statuses->addWidget(label("StatusLabel", "Статусы (ни одного: все):"_cp));
    statuses->addWidget(StatusList);
    auto* top = new QHBoxLayout;
    top->addLayout(filters, 1);
    top->addSpacing(12);
    top->addLayout(statuses);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CountLabel, 1);
    bottom->addWidget(ExportButton);
    bottom->addWidget(CloseButton);
    auto* page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addWidget(ResultGrid, 1);
    page->addLayout(bottom);

    connect(FindButton, &QPushButton::clicked, this, &TJournalSearchForm::FindButtonClick);
    connect(ResetButton, &QPushButton::clicked, this, &TJournalSearchForm::ResetButtonClick);
    connect(ExportButton, &QPushButton::clicked, this, &TJournalSearchForm::ExportButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
    connect(TextEdit, &QLineEdit::returnPressed, this, &TJournalSearchForm::FindButtonClick);
    connect(m_model, &TJournalSearchModel::countChanged, this, &TJournalSearchForm::ShowCount);
    ShowCount();
}

void TJournalSearchForm::hideEvent(QHideEvent* e)
{
    m_model->Clear();
    QDialog::hideEvent(e);
}

void TJournalSearchForm::FillDevices()
{
    const QString typed = DeviceBox->currentText();
    DeviceBox->clear();
    DeviceBox->addItem(QString());
    QStringList names;
    for (const DialDevice& d : m_register.Devices())
        if (d.simplename.find_first_not_of(' ') != std::string::npos && !names.contains(ToQ(d.simplename)))
            names << ToQ(d.simplename);
    DeviceBox->addItems(names);
    DeviceBox->setEditText(typed);
}

void TJournalSearchForm::ShowFor(const std::string& device)
{
    FillDevices();
    if (!device.empty())
        DeviceBox->setEditText(ToQ(device));
    ShowCentredOver(*this, m_ctx.MainWindow);
    FindButtonClick();
}

JournalFilter TJournalSearchForm::CurrentFilter() const
{
    JournalFilter filter;
    const std::string device = FromQ(DeviceBox->currentText().trimmed());
    if (!device.empty()) {
        // A device is found under its short name and under its number, so
        // rows written before a rename still count.
        filter.devices.push_back(device);
        const std::string number = m_register.FindNumberByShortName(device, {});
        if (!number.empty())
            filter.devices.push_back(number);
        const std::string name = m_register.FindShortNameByNumber(device, {});
        if (name.find_first_not_of(' ') != std::string::npos)
            filter.devices.push_back(name);
    }
    for (int i = 0; i < StatusList->count(); ++i)
        if (StatusList->item(i)->checkState() == Qt::Checked)
            filter.statuses.push_back(FromQ(StatusList->item(i)->text()));
    if (FromCheck->isChecked())
        filter.from = ToDateTime(FromEdit->dateTime(), 0);
    if (ToCheck->isChecked())
        filter.to = ToDateTime(ToEdit->dateTime(), 999); // the whole last second
    filter.text = FromQ(TextEdit->text());
    return filter;
}

void TJournalSearchForm::FindButtonClick()
{
    m_model->Search(CurrentFilter());
    ResultGrid->scrollToTop();
}

void TJournalSearchForm::ResetButtonClick()
{
    DeviceBox->setEditText({});
    for (int i = 0; i < StatusList->count(); ++i)
        StatusList->item(i)->setCheckState(Qt::Unchecked);
    FromCheck->setChecked(false);
    ToCheck->setChecked(false);
    TextEdit->clear();
    FindButtonClick();
}

void TJournalSearchForm::ShowCount()
{
    if (m_model->Stale())
        CountLabel->setText(ToQ("Журнал изменился: нажмите \"Найти\""_cp));
    else
        CountLabel->setText(ToQ("Найдено событий: "_cp) + QString::number(m_model->rowCount()));
    ExportButton->setEnabled(!m_model->Stale() && m_model->rowCount() > 0);
}

void TJournalSearchForm::ExportButtonClick()
{
    const QString path =
        Dialogs().SaveFileName(ToQ("Укажите имя файла для экспорта"_cp), QtFileFilter(kCsvFilter), QStringLiteral("csv"), this);
    if (path.isEmpty())
        return;
    const auto& rows = m_model->Rows();
    if (!ExportJournalCsv(m_model->Journal(), std::vector<RecordHandle>(rows.begin(), rows.end()),
                          QFile::encodeName(path).toStdString())) {
        ShowError(Str("Не удалось записать файл "_cp) + FromQ(path), this);
        return;
    }
    ShowInfo(Str("Записано событий: "_cp) + std::to_string(rows.size()) + Str("\r\nФайл: "_cp) + FromQ(path), this);
}

} // namespace kv
