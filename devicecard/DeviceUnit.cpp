#include "devicecard/DeviceUnit.h"
#include "windows/Placement.h"

#include "codec/Classify.h"
#include "codec/Number.h"
#include "data/Schemas.h"
#include "data/Text.h"
#include "devicecard/DataControls.h"
#include "devicecard/ObjectPage.h"
#include "devices/TelEventIndex.h"
#include "modem/Commands.h"
#include "modem/DialSchedule.h"
#include "modem/Modem.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/DBGrid.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <filesystem>
#include <system_error>

namespace kv {

using namespace literals;

namespace {

constexpr std::string_view kCommandInfo = "*8411#_info#";
constexpr std::string_view kCommandArm = "*8411#_on#";
constexpr std::string_view kCommandDisarm = "*8411#_off#";
constexpr std::string_view kCommandTemperature = "*8411#_temp#";
constexpr std::string_view kCommandRelay1On = "*8411#_set_1=1#";
constexpr std::string_view kCommandRelay1Off = "*8411#_set_1=0#";
constexpr std::string_view kCommandRelay2On = "*8411#_set_2=1#";
constexpr std::string_view kCommandRelay2Off = "*8411#_set_2=0#";
// The commands as the journal names them.
constexpr std::string_view kNameInfo = "Запрос состояния"_cp;
constexpr std::string_view kNameArm = "Поставить на охрану"_cp;
constexpr std::string_view kNameDisarm = "Снять с охраны"_cp;
constexpr std::string_view kNameTemperature = "Запрос температуры"_cp;
constexpr std::string_view kNameRelay1On = "Включить реле 1"_cp;
constexpr std::string_view kNameRelay1Off = "Выключить реле 1"_cp;
constexpr std::string_view kNameRelay2On = "Включить реле 2"_cp;
constexpr std::string_view kNameRelay2Off = "Выключить реле 2"_cp;

constexpr std::string_view kDefaultInterval = "60";

constexpr int kLastEventRows = 5;
constexpr int kLastEventColumns = 3;

struct ColourRule {
    std::array<std::string_view, 2> texts;
    Rgb colour;
};

constexpr ColourRule kColourRules[] = {
    {{"Неверный номер IButton!"_cp, {}}, {0, 128, 255}},
    {{"Сетевое питание отключено, система питается от АКБ"_cp, "Сетевое питание системы восстановлено"_cp},
     {145, 92, 216}},
    {{kAlarmMarker, "\"ТРЕВОГА\" - входящий вызов с телефона"_cp}, {255, 0, 0}},
    {{"Снято с охраны"_cp, {}}, {96, 191, 0}},
    {{"Поставлено на охрану"_cp, {}}, {174, 174, 0}},
    {{"Нет связи"_cp, {}}, {255, 128, 0}},
    {{"Температура"_cp, "Датчик температуры не подключен"_cp}, {128, 128, 128}},
};

QColor ToColor(Rgb c) { return QColor(c.r, c.g, c.b); }

class LastEventsPainter final : public QStyledItemDelegate {
public:
    explicit LastEventsPainter(TDeviceForm& form) : QStyledItemDelegate(&form), m_form(form) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        m_form.LastEventsDrawCell(*painter, index.column(), index.row(), option.rect,
                                  option.state.testFlag(QStyle::State_Selected));
        painter->restore();
    }

private:
    TDeviceForm& m_form;
};

QLabel* FieldLabel(const char* name, std::string_view text, QWidget* parent)
{
    return NamedLabel(name, text, parent, true);
}

} // namespace

Rgb LastEventColour(std::string_view eventText)
{
    Rgb colour{0, 0, 0};
    for (const ColourRule& rule : kColourRules)
        for (std::string_view t : rule.texts)
            if (!t.empty() && eventText.find(t) != std::string_view::npos)
                colour = rule.colour;
    return colour;
}

// ---------------------------------------------------------------- creation

TDeviceForm::TDeviceForm(StationContext& ctx, DeviceRegister& reg, MemTable& events, IDeviceStation& station)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                           Qt::WindowStaysOnTopHint),
      Register(reg),
      DeviceTable(reg.DeviceTable),
      DescriptionTable(reg.DescriptionTable),
      frmbin(reg.frmbin),
      m_ctx(ctx),
      m_journal(events),
      m_station(station),
      m_events(std::make_unique<TelEventIndex>(events))
{
    DescriptionTable.SetAfterEdit([this](MemTable&) { DescriptionTableAfterEdit(); });
    DescriptionTable.SetAfterInsert([this](MemTable&) { DescriptionTableAfterInsert(); });

    BuildWindow();
    RegisterOperations();
    LoadRegister();
    m_shownDevice = DeviceTable.CurrentHandle();
    DataSource2DataChange();
}

TDeviceForm::~TDeviceForm()
{
    m_ctx.Window(ShownWindow::Devices) = {};
    // The register stays; its tables no longer call back into this window.
    DescriptionTable.SetAfterEdit(nullptr);
    DescriptionTable.SetAfterInsert(nullptr);
    // The views stop observing the register's tables, which outlive this window.
    delete DBGrid1;
    delete DataSource1;
    delete DataSource2;
}

void TDeviceForm::BuildWindow()
{
    Name(this, "DeviceForm", "Каталог устройств охраны"_cp);
    setWindowTitle(ToQ("Каталог устройств охраны"_cp));

    // ---- the device list
    DataSource1 = new TMemTableModel(DeviceTable, {GridColumn{"device", ToQ("Устройства"_cp), 180}}, this);
    DataSource1->SetEditable(true);
    DBGrid1 = new TDBGrid(DataSource1, this);
    Name(DBGrid1, "DBGrid1", "Устройства"_cp);
    DBGrid1->horizontalHeader()->show();
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    DBGrid1->setFixedWidth(210);
    DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu1 = new QMenu(this);
    Name(PopupMenu1, "PopupMenu1");
    N1 = PopupMenu1->addAction(ToQ("Добавить прибор"_cp));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = PopupMenu1->addAction(ToQ("Удалить прибор"_cp));
    N2->setObjectName(QStringLiteral("N2"));
    connect(DBGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(DBGrid1->viewport()->mapToGlobal(at)); });
    connect(N1, &QAction::triggered, this, &TDeviceForm::N1Click);
    connect(N2, &QAction::triggered, this, &TDeviceForm::N2Click);
    connect(DBGrid1, &QAbstractItemView::clicked, this, &TDeviceForm::DBGrid1CellClick);
    // Before the description table follows its master: the card's pending
    // change still belongs to the device being left.
    connect(DataSource1, &TMemTableModel::cursorMoved, this, &TDeviceForm::DeviceChanged);

    // ---- the card
    DataSource2 = new TDataSource(DescriptionTable, this);
    auto edit = [this](const char* name, const char* field, std::string_view label) {
        auto* e = new TDBEdit(*DataSource2, field, this);
        Name(e, name, label);
        return e;
    };
    DBEdit1 = edit("DBEdit1", "name", "НАЗВАНИЕ"_cp);
    DBEdit2 = edit("DBEdit2", "adress", "АДРЕС"_cp);
    DBEdit3 = edit("DBEdit3", "description", "ОПИСАНИЕ"_cp);
    DBEdit4 = edit("DBEdit4", "simplename", "ЯРЛЫК"_cp);
    DBEdit5 = edit("DBEdit5", "simcard", "SIM-КАРТА"_cp);
    DBEdit6 = edit("DBEdit6", "dialtime", "мин"_cp);
    DBEdit6->setFixedWidth(48);
    DBMemo1 = new TDBMemo(*DataSource2, "devicedescription", this);
    Name(DBMemo1, "DBMemo1", "ОПИСАНИЕ"_cp);
    DBMemo1->setFixedHeight(54);
    DBCheckBox1 = new TDBCheckBox(*DataSource2, "dialenable", ToQ("Активировать дозвон каждые"_cp), this);
    Name(DBCheckBox1, "DBCheckBox1", "Активировать дозвон каждые"_cp);
    DBCheckBox2 = new TDBCheckBox(*DataSource2, "drosvel", ToQ("Датчик Drosvel"_cp), this);
    Name(DBCheckBox2, "DBCheckBox2", "Датчик Drosvel"_cp);
    auto* minutes = new QLabel(ToQ("мин"_cp), this);
    Name(minutes, "MinutesLabel", "мин"_cp);
    RbButton2 = new QPushButton(ToQ("Сохранить"_cp), this);
    Name(RbButton2, "RbButton2", "Сохранить"_cp);
    RbButton2->hide();
    connect(RbButton2, &QPushButton::clicked, this, &TDeviceForm::RbButton2Click);

    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(5);
    fields->addWidget(FieldLabel("NameLabel", "НАЗВАНИЕ"_cp, this), 0, 0);
    fields->addWidget(DBEdit1, 0, 1, 1, 3);
    fields->addWidget(FieldLabel("AdressLabel", "АДРЕС"_cp, this), 1, 0);
    fields->addWidget(DBEdit2, 1, 1, 1, 3);
    fields->addWidget(FieldLabel("DescriptionLabel", "ОПИСАНИЕ"_cp, this), 2, 0);
    fields->addWidget(DBEdit3, 2, 1);
    fields->addWidget(FieldLabel("SimpleNameLabel", "ЯРЛЫК"_cp, this), 2, 2);
    fields->addWidget(DBEdit4, 2, 3);
    fields->addWidget(FieldLabel("SimCardLabel", "SIM-КАРТА"_cp, this), 3, 0);
    fields->addWidget(DBEdit5, 3, 1);
    LastContact = new QLabel(this);
    Name(LastContact, "LastContact", "ПОСЛЕДНЯЯ СВЯЗЬ"_cp);
    LastContact->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fields->addWidget(FieldLabel("LastContactLabel", "ПОСЛЕДНЯЯ СВЯЗЬ"_cp, this), 3, 2);
    fields->addWidget(LastContact, 3, 3);
    fields->addWidget(DBMemo1, 4, 0, 1, 4);
    fields->setColumnStretch(1, 1);
    fields->setColumnStretch(3, 1);

    auto* dialRow = new QHBoxLayout;
    dialRow->addWidget(DBCheckBox1);
    dialRow->addWidget(DBEdit6);
    dialRow->addWidget(minutes);
    dialRow->addSpacing(24);
    dialRow->addWidget(DBCheckBox2);
    dialRow->addStretch(1);
    dialRow->addWidget(RbButton2);

    // ---- commands
    InfoButton = new TPNGButton(assets::kBtnInfo, this);
    Name(InfoButton, "InfoButton", "ИНФО"_cp);
    OnAlarmButton = new TPNGButton(assets::kBtnArm, this);
    Name(OnAlarmButton, "OnAlarmButton", "ПОСТАВИТЬ НА ОХРАНУ"_cp);
    OffAlarmButton = new TPNGButton(assets::kBtnDisarm, this);
    Name(OffAlarmButton, "OffAlarmButton", "СНЯТЬ С ОХРАНЫ"_cp);
    TempButton = new TPNGButton(assets::kBtnTemp, this);
    Name(TempButton, "TempButton", "T°C"_cp);
    Rele1ButtonON = new TPNGButton(assets::kBtnRelayOn, this);
    Name(Rele1ButtonON, "Rele1ButtonON", "Реле 1 вкл."_cp);
    Rele1ButtonOff = new TPNGButton(assets::kBtnRelayOff, this);
    Name(Rele1ButtonOff, "Rele1ButtonOff", "Реле 1 выкл."_cp);
    Rele2ButtonON = new TPNGButton(assets::kBtnRelayOn, this);
    Name(Rele2ButtonON, "Rele2ButtonON", "Реле 2 вкл."_cp);
    Rele2ButtonOff = new TPNGButton(assets::kBtnRelayOff, this);
    Name(Rele2ButtonOff, "Rele2ButtonOff", "Реле 2 выкл."_cp);
    Label3 = new QLabel(ToQ("Реле 1"_cp), this);
    Name(Label3, "Label3", "Реле 1"_cp);
    Label4 = new QLabel(ToQ("Реле 2"_cp), this);
    Name(Label4, "Label4", "Реле 2"_cp);
    connect(InfoButton, &QAbstractButton::clicked, this, &TDeviceForm::InfoButtonClick);
    connect(OnAlarmButton, &QAbstractButton::clicked, this, &TDeviceForm::OnAlarmButtonClick);
    connect(OffAlarmButton, &QAbstractButton::clicked, this, &TDeviceForm::OffAlarmButtonClick);
    connect(TempButton, &QAbstractButton::clicked, this, &TDeviceForm::TempButtonClick);
    connect(Rele1ButtonON, &QAbstractButton::clicked, this, &TDeviceForm::Rele1ButtonONClick);
    connect(Rele1ButtonOff, &QAbstractButton::clicked, this, &TDeviceForm::Rele1ButtonOffClick);
    connect(Rele2ButtonON, &QAbstractButton::clicked, this, &TDeviceForm::Rele2ButtonONClick);
    connect(Rele2ButtonOff, &QAbstractButton::clicked, this, &TDeviceForm::Rele2ButtonOffClick);

    auto* commandFrame = new QGroupBox(ToQ("КОМАНДЫ"_cp), this);
    Name(commandFrame, "CommandFrame", "КОМАНДЫ"_cp);
    auto* commands = new QGridLayout(commandFrame);
    commands->setHorizontalSpacing(8);
    commands->setVerticalSpacing(8);
    commands->addWidget(InfoButton, 0, 0);
    commands->addWidget(TempButton, 0, 1);
    commands->addWidget(OnAlarmButton, 1, 0);
    commands->addWidget(OffAlarmButton, 1, 1);
    commands->setColumnMinimumWidth(2, 16);
    commands->addWidget(Label3, 0, 3, Qt::AlignRight | Qt::AlignVCenter);
    commands->addWidget(Rele1ButtonON, 0, 4);
    commands->addWidget(Rele1ButtonOff, 0, 5);
    commands->addWidget(Label4, 1, 3, Qt::AlignRight | Qt::AlignVCenter);
    commands->addWidget(Rele2ButtonON, 1, 4);
    commands->addWidget(Rele2ButtonOff, 1, 5);
    commands->setColumnStretch(6, 1);

    StatusEdit = new QLineEdit(this);
    Name(StatusEdit, "StatusEdit", "СТАТУС"_cp);
    // Wide enough for the modem's confirmation, the longest text it is given.
    StatusEdit->setMinimumWidth(StatusEdit->fontMetrics().horizontalAdvance(ToQ("Сообщение отправлено"_cp)) + 20);
    auto* statusFrame = new QGroupBox(ToQ("СТАТУС"_cp), this);
    Name(statusFrame, "StatusFrame", "СТАТУС"_cp);
    auto* status = new QVBoxLayout(statusFrame);
    status->addWidget(StatusEdit);
    status->addStretch(1);

    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(commandFrame, 3);
    commandRow->addWidget(statusFrame, 2);

    // ---- the five newest events
    Label1 = new QLabel(ToQ("Последние 5 событий на объекте"_cp), this);
    Name(Label1, "Label1", "Последние 5 событий на объекте"_cp);
    LastEvents = new QTableWidget(kLastEventRows, kLastEventColumns, this);
    Name(LastEvents, "LastEvents", "Последние 5 событий на объекте"_cp);
    LastEvents->horizontalHeader()->hide();
    LastEvents->verticalHeader()->hide();
    LastEvents->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    LastEvents->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    LastEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    LastEvents->setSelectionMode(QAbstractItemView::SingleSelection);
    LastEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LastEvents->setFont(QFont(QStringLiteral("Verdana"), 8));
    LastEvents->verticalHeader()->setMinimumSectionSize(1);
    LastEvents->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    LastEvents->verticalHeader()->setDefaultSectionSize(15);
    LastEvents->horizontalHeader()->setMinimumSectionSize(1);
    constexpr int kWidths[kLastEventColumns] = {31, 134, 501};
    for (int c = 0; c < kLastEventColumns; ++c)
        LastEvents->setColumnWidth(c, kWidths[c]);
    for (int r = 0; r < kLastEventRows; ++r) {
        LastEvents->setRowHeight(r, 15);
        for (int c = 0; c < kLastEventColumns; ++c)
            LastEvents->setItem(r, c, new QTableWidgetItem);
    }
    LastEvents->setItemDelegate(new LastEventsPainter(*this));
    const int frame = 2 * LastEvents->frameWidth();
    LastEvents->setFixedSize(31 + 134 + 501 + frame, kLastEventRows * 15 + frame);

    // The grid has no title row: its column heads are labels over the columns.
    auto* heads = new QHBoxLayout;
    heads->setSpacing(0);
    heads->setContentsMargins(LastEvents->frameWidth(), 0, 0, 0);
    const std::string_view headTexts[kLastEventColumns] = {"№"_cp, "ДАТА / ВРЕМЯ"_cp, "СОБЫТИЕ"_cp};
    const char* headNames[kLastEventColumns] = {"NumberHead", "TimeHead", "EventHead"};
    for (int c = 0; c < kLastEventColumns; ++c) {
        QLabel* head = FieldLabel(headNames[c], headTexts[c], this);
        head->setFixedWidth(kWidths[c]);
        head->setIndent(2);
        heads->addWidget(head);
    }
    heads->addStretch(1);

    JournalButton = new QPushButton(ToQ("Журнал объекта"_cp), this);
    Name(JournalButton, "JournalButton", "Журнал объекта"_cp);
    connect(JournalButton, &QPushButton::clicked, this, &TDeviceForm::JournalButtonClick);
    auto* eventsHead = new QHBoxLayout;
    eventsHead->addWidget(Label1);
    eventsHead->addStretch(1);
    eventsHead->addWidget(JournalButton);

    auto* events = new QVBoxLayout;
    events->setSpacing(2);
    events->addLayout(eventsHead);
    events->addLayout(heads);
    events->addWidget(LastEvents);

    auto* devicePage = new QWidget(this);
    Name(devicePage, "DevicePage", "Устройство"_cp);
    auto* card = new QVBoxLayout(devicePage);
    card->setContentsMargins(0, 4, 0, 0);
    card->setSpacing(8);
    card->addLayout(fields);
    card->addLayout(dialRow);
    card->addLayout(commandRow);
    card->addLayout(events);

    ObjectPage = new TObjectPage(this);
    CardPages = new QTabWidget(this);
    Name(CardPages, "CardPages", "Карточка"_cp);
    CardPages->addTab(devicePage, ToQ("Устройство"_cp));
    CardPages->addTab(ObjectPage, ToQ("Объект"_cp));

    auto* whole = new QHBoxLayout(this);
    whole->setContentsMargins(8, 8, 8, 8);
    whole->setSpacing(10);
    whole->addWidget(DBGrid1);
    whole->addWidget(CardPages);
    whole->setSizeConstraint(QLayout::SetFixedSize);

    // Connected after the controls, so that they hold the new values first.
    connect(DataSource2, &TDataSource::dataChange, this, &TDeviceForm::DataSource2DataChange);
}

void TDeviceForm::RegisterOperations()
{
    m_ctx.Window(ShownWindow::Devices) = {[this] {
                                          m_ctx.Shown(ShownWindow::Devices) = true;
                                          ShowCentred();
                                      },
                                      [this] {
                                          // A window already hidden still saves, as any close does.
                                          if (isVisible())
                                              close();
                                          else
                                              FormClose();
                                      }};
}

bool TDeviceForm::LastEventOf(const std::string& number, double& at, std::string& status, std::string& event)
{
    if (number.empty())
        return false;
    const std::vector<RecordHandle> rows = m_events->Newest(number, 1);
    if (rows.empty())
        return false;
    const MemTable& journal = m_journal;
    try {
        const int timeField = journal.FindField("EventTime");
        const int statusField = journal.FindField("Status");
        const int eventField = journal.FindField("event");
        at = timeField >= 0 && !journal.IsNull(rows[0], timeField) ? journal.DateTime(rows[0], timeField) : 0;
        status = statusField >= 0 ? journal.Text(rows[0], statusField) : std::string();
        event = eventField >= 0 ? journal.Text(rows[0], eventField) : std::string();
    } catch (const std::exception&) {
        // A journal file of another make: what cannot be read stays empty.
    }
    return true;
}

void TDeviceForm::LoadRegister()
{
    bool loaded = Register.Load();
    if (std::string problem; !Register.Objects.Load(problem))
        ShowWarning(problem, m_ctx.MainWindow);
    if (loaded) {
        try {
            m_station.RebuildBoard();
        } catch (const std::exception&) {
            loaded = false;
        }
    }
    if (!loaded)
        ShowWarning(std::string("Не найдена база устройств!"_cp), m_ctx.MainWindow);
}

// ---------------------------------------------------------------- showing and closing

void TDeviceForm::ShowCentred() { ShowCentredOver(*this, m_ctx.MainWindow); }

void TDeviceForm::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TDeviceForm::hideEvent(QHideEvent* e)
{
    // The close box, Escape and the main window's toggle all end here; a
    // spontaneous hide (the desktop minimising everything) is no close.
    if (!e->spontaneous())
        FormClose();
    QDialog::hideEvent(e);
}

void TDeviceForm::FormShow() { FillLastEvents(); }

void TDeviceForm::FormClose()
{
    bool saved = false;
    try {
        Register.Save();
        saved = true;
    } catch (const std::exception&) {
        ShowError(std::string("Ошибка сохранения базы устройств"_cp), this);
    }
    KeepObjectCard();
    ObjectPage->Show(ObjectPage->Tel(), Register.Objects.Of(ObjectPage->Tel()));
    if (std::string error; !Register.Objects.Save(error))
        ShowError(error, this);
    // Told once both are on disk: the centre takes the object cards with the register.
    try {
        if (saved && RegisterSaved)
            RegisterSaved();
    } catch (const std::exception&) {
        ShowError(std::string("Ошибка сохранения базы устройств"_cp), this);
    }
    m_ctx.Shown(ShownWindow::Devices) = false;
}

// ---------------------------------------------------------------- register

bool TDeviceForm::SelectDeviceByShortName(const std::string& shortName)
{
    const std::optional<std::size_t> found = Register.PositionOfShortName(shortName);
    const bool matched = found.has_value();
    try {
        if (matched)
            DeviceTable.SetRecNo(static_cast<int>(*found) + 1);
        else
            DeviceTable.Last();
    } catch (const std::exception& e) {
        ShowError(e.what(), this);
    }
    return matched;
}

void TDeviceForm::SetDeviceTablesReadOnly(bool readOnly)
{
    Register.SetReadOnly(readOnly);
    ObjectPage->SetReadOnly(readOnly);
    if (readOnly)
        RbButton2->hide();
    DataSource2->Refresh();
}

void TDeviceForm::DeviceChanged()
{
    const RecordHandle current = DeviceTable.CurrentHandle();
    if (current == m_shownDevice)
        return;
    m_shownDevice = current;
    if (DescriptionTable.State() == DataSetState::Browse)
        return;
    // Leaving a device saves its card as the save button does, so the change
    // can neither be lost nor be shown and saved as the next device's.
    try {
        Field interval = DescriptionTable.FieldByName("dialtime");
        if (!TextToFloat(interval.AsString()))
            interval.SetAsString(kDefaultInterval);
        DescriptionTable.Post();
    } catch (const std::exception&) {
        DescriptionTable.Cancel();
    }
    ShowObjectCard();
    RbButton2->hide();
    // Not from inside the table's notification: the board reads the register.
    QTimer::singleShot(0, this, [this] {
        m_station.RebuildBoard();
    });
}

void TDeviceForm::DBGrid1CellClick() { FillLastEvents(); }

void TDeviceForm::N1Click()
{
    const std::optional<std::string> answer =
        Dialogs().InputQuery(std::string("Новое устройство "_cp), std::string("Введите название"_cp), {}, this);
    if (answer && !answer->empty()) {
        try {
            DeviceTable.Append();
            try {
                DeviceTable.FieldByName("device").SetAsString(*answer);
                DeviceTable.Post();
            } catch (...) {
                DeviceTable.Cancel();
                throw;
            }
        } catch (const std::exception& e) {
            ShowError(e.what(), this);
        }
    }
    DBEdit1->setFocus();
}

void TDeviceForm::N2Click()
{
    try {
        if (!DeviceTable.IsEmpty()) {
            // A read-only register holds no pending change (see SetDeviceTablesReadOnly):
            // the tables' own refusal below comes before anything is dropped.
            if (DescriptionTable.State() == DataSetState::Insert) {
                DescriptionTable.Cancel(); // the row was never made
                RbButton2->hide();
                DataSource2->Refresh();
            }
            if (!DescriptionTable.IsEmpty()) {
                DescriptionTable.Delete();
                RbButton2->hide();
            }
            DeviceTable.Delete();
        }
    } catch (const std::exception& e) {
        ShowError(e.what(), this);
    }
    m_station.RebuildBoard();
}

void TDeviceForm::RbButton2Click()
{
    try {
        if (!TextToFloat(FromQ(DBEdit6->text())))
            DBEdit6->SetFieldText(std::string(kDefaultInterval));
        DescriptionTable.Post();
        ShowObjectCard();
        m_station.RebuildBoard();
        RbButton2->hide();
    } catch (const std::exception& e) {
        ShowError(e.what(), this);
    }
}

void TDeviceForm::DescriptionTableAfterEdit() { RbButton2->show(); }

void TDeviceForm::DescriptionTableAfterInsert() { RbButton2->show(); }

void TDeviceForm::KeepObjectCard()
{
    if (ObjectPage->Modified() && !ObjectPage->Tel().empty())
        Register.Objects.Set(ObjectPage->Tel(), ObjectPage->Card());
}

void TDeviceForm::ShowObjectCard()
{
    const std::string tel = CardNumber();
    const RecordHandle row = DescriptionTable.CurrentHandle();
    if (row && row == m_objectRow && tel != ObjectPage->Tel()) {
        // The device's own number is being changed: its object card follows
        // once the change is saved, not through every half-typed number.
        if (DescriptionTable.State() != DataSetState::Browse)
            return;
        KeepObjectCard();
        const std::string old = ObjectPage->Tel();
        if (!old.empty() && !tel.empty() && Register.Objects.Of(tel).Empty()) {
            Register.Objects.Set(tel, Register.Objects.Of(old));
            Register.Objects.Set(old, {});
        }
        ObjectPage->Show(tel, Register.Objects.Of(tel));
        return;
    }
    if (tel == ObjectPage->Tel() && ObjectPage->Modified())
        return;
    KeepObjectCard();
    m_objectRow = row;
    ObjectPage->Show(tel, Register.Objects.Of(tel));
}

void TDeviceForm::DataSource2DataChange()
{
    const bool relays = !DBCheckBox2->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(Rele1ButtonON), static_cast<QWidget*>(Rele1ButtonOff),
                       static_cast<QWidget*>(Rele2ButtonON), static_cast<QWidget*>(Rele2ButtonOff),
                       static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4)})
        w->setVisible(relays);
    // The list, the command result and the object follow the card, whatever made it change.
    FillLastEvents();
    ShowCommandResult();
    ShowObjectCard();
}

// ---------------------------------------------------------------- card

void TDeviceForm::SetCommandButtonsEnabled(bool enabled)
{
    for (TPNGButton* b : {InfoButton, OnAlarmButton, OffAlarmButton, TempButton})
        b->setEnabled(enabled);
}

void TDeviceForm::SetStatusEdit(const std::string& number, const std::string& text)
{
    // The card is switched between devices while a command is under way: the
    // result belongs to the device it was for, not to the one on show.
    if (number.empty() || number == CardNumber()) {
        if (!number.empty())
            m_commandResults[number] = text;
        StatusEdit->setText(ToQ(text));
        return;
    }
    m_commandResults[number] = text;
}

void TDeviceForm::ShowCommandResult()
{
    const auto found = m_commandResults.find(CardNumber());
    StatusEdit->setText(found == m_commandResults.end() ? QString() : ToQ(found->second));
}

std::string TDeviceForm::CardNumber() const { return FromQ(DBEdit5->text()); }

void TDeviceForm::Enqueue(std::string_view line)
{
    m_station.QueueModemCommand(std::string(line));
}

void TDeviceForm::SmsCommand(std::string_view text, std::string_view name)
{
    // The device the operator clicked for.
    if (ViewerRefused())
        return;
    const std::string number = CardNumber();
    SetCommandButtonsEnabled(false);
    SetStatusEdit(number, std::string("Ожидание..."_cp));
    // One unit on modem 1's queue: the plain character set, the send, UCS2
    // again. The worker journals the outcome and gives the buttons back.
    if (!m_station.SendSms(number, std::string(text), std::string(name))) {
        SetStatusEdit(number, std::string("Неудачная отправка СМС"_cp));
        SetCommandButtonsEnabled(true);
    }
}

bool TDeviceForm::ViewerRefused()
{
    if (!m_ctx.Viewer)
        return false;
    ShowWarning(std::string(kViewerRefused), this);
    return true;
}

void TDeviceForm::CallCommand()
{
    if (ViewerRefused())
        return;
    const std::string number = CardNumber();
    SetCommandButtonsEnabled(false);
    Enqueue(DialCommand(number));
}

void TDeviceForm::InfoButtonClick() { SmsCommand(kCommandInfo, kNameInfo); }

void TDeviceForm::OnAlarmButtonClick()
{
    if (DBCheckBox2->isChecked())
        CallCommand();
    else
        SmsCommand(kCommandArm, kNameArm);
}

void TDeviceForm::OffAlarmButtonClick()
{
    if (DBCheckBox2->isChecked())
        CallCommand();
    else
        SmsCommand(kCommandDisarm, kNameDisarm);
}

void TDeviceForm::TempButtonClick() { SmsCommand(kCommandTemperature, kNameTemperature); }
void TDeviceForm::Rele1ButtonONClick() { SmsCommand(kCommandRelay1On, kNameRelay1On); }
void TDeviceForm::Rele1ButtonOffClick() { SmsCommand(kCommandRelay1Off, kNameRelay1Off); }
void TDeviceForm::Rele2ButtonONClick() { SmsCommand(kCommandRelay2On, kNameRelay2On); }
void TDeviceForm::Rele2ButtonOffClick() { SmsCommand(kCommandRelay2Off, kNameRelay2Off); }

void TDeviceForm::JournalButtonClick()
{
    // By its short name: the search adds the number the register gives it.
    std::string device = FromQ(DBEdit4->text().trimmed());
    if (device.empty())
        device = CardNumber();
    m_station.ShowJournalSearch(device);
}

void TDeviceForm::ShowLastContact()
{
    const std::string contact = m_station.LastContactText(CardNumber());
    LastContact->setText(ToQ(contact.empty() ? Str("нет сведений"_cp) : contact));
}

void TDeviceForm::FillLastEvents()
{
    ShowLastContact();
    // A selected row would now point at another event.
    LastEvents->clearSelection();
    for (int r = 0; r < kLastEventRows; ++r)
        for (int c = 0; c < kLastEventColumns; ++c)
            LastEvents->item(r, c)->setText({});
    const MemTable& journal = m_journal;
    const int timeField = journal.FindField("EventTime");
    const int eventField = journal.FindField("event");
    const std::vector<RecordHandle> rows = m_events->Newest(CardNumber(), kLastEventRows);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const RecordHandle row = rows[static_cast<std::size_t>(r)];
        LastEvents->item(r, 0)->setText(QString::number(r + 1));
        try {
            if (timeField >= 0 && !journal.IsNull(row, timeField))
                LastEvents->item(r, 1)->setText(ToQ(FormatDateTime(journal.DateTime(row, timeField))));
            if (eventField >= 0)
                LastEvents->item(r, 2)->setText(ToQ(journal.Text(row, eventField)));
        } catch (const std::exception&) {
            // A journal file of another make: what cannot be read stays empty.
        }
    }
}

void TDeviceForm::LastEventsDrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool selected)
{
    const QTableWidgetItem* eventCell = LastEvents->item(row, 2);
    const Rgb colour = LastEventColour(eventCell ? FromQ(eventCell->text()) : std::string());
    const QPalette& palette = LastEvents->palette();
    QColor background = palette.color(QPalette::Base);
    if (selected) {
        // A light tint, so that the row's own colour stays readable when selected.
        const QColor h = palette.color(QPalette::Highlight);
        background = QColor((background.red() * 3 + h.red()) / 4, (background.green() * 3 + h.green()) / 4,
                            (background.blue() * 3 + h.blue()) / 4);
    }
    canvas.fillRect(rect, background);
    canvas.setPen(ToColor(colour));
    canvas.setFont(LastEvents->font());
    const QTableWidgetItem* cell = LastEvents->item(row, col);
    canvas.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                    cell ? cell->text() : QString());
}

} // namespace kv
