#include "station/AlarmsWindow.h"

#include "data/Text.h"
#include "core/AlarmDesk.h"
#include "devices/DeviceRegister.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/Placement.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QCheckBox>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

namespace {

enum Column { kPriority, kTime, kName, kListName, kWhat, kWaited, kAck, kColumns };
constexpr int kWidths[kColumns] = {40, 131, 100, 170, 380, 86, 150};
constexpr std::string_view kHeads[kColumns] = {"П"_cp,       "Время"_cp,    "Объект"_cp, "Название"_cp,
                                               "Событие"_cp, "Ожидание"_cp, "Принята"_cp};

// The most urgent white on red; then red as the journals draw "Тревога",
// orange as they draw "Нет связи", and grey for what is least urgent.
QColor PriorityColour(int priority)
{
    if (priority <= 1)
        return QColor(255, 255, 255);
    if (priority <= 3)
        return QColor(255, 0, 0);
    if (priority <= 5)
        return QColor(255, 128, 0);
    return QColor(110, 110, 110);
}
QColor PriorityBackground(int priority) { return priority <= 1 ? QColor(200, 0, 0) : QColor(255, 255, 255); }

// A stranger has no short name: the number is what the operator can act on.
std::string ObjectText(const OpenAlarm& alarm)
{
    return alarm.kind == AlarmKind::Stranger ? alarm.tel : std::string(TrimBlanks(alarm.shortName));
}

} // namespace

// ---------------------------------------------------------------- handling

THandlingDialog::THandlingDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    Name(this, "HandlingDlg", "Обработка тревоги"_cp);
    setWindowTitle(ToQ("Обработка тревоги"_cp));
    AlarmText = new QLabel(this);
    Name(AlarmText, "AlarmText", "Тревога"_cp);
    AlarmText->setWordWrap(true);
    AlarmText->setMinimumWidth(420);
    ResultBox = new QComboBox(this);
    Name(ResultBox, "ResultBox", "Результат"_cp);
    for (std::string_view r : kHandlingResults)
        ResultBox->addItem(ToQ(r));
    // Nothing chosen until the operator chooses: Enter must not record a result.
    ResultBox->setPlaceholderText(ToQ("выберите результат"_cp));
    ResultBox->setCurrentIndex(-1);
    CommentEdit = new QLineEdit(this);
    Name(CommentEdit, "CommentEdit", "Комментарий"_cp);
    CommentEdit->setMaxLength(static_cast<int>(kCommentLimit));
    CommentEdit->setPlaceholderText(ToQ("не обязателен; для \"Другое\" нужен"_cp));
    OkButton = new QPushButton(ToQ("Записать"_cp), this);
    Name(OkButton, "OkButton", "Записать"_cp);
    OkButton->setDefault(true);
    CancelButton = new QPushButton(ToQ("Отмена"_cp), this);
    Name(CancelButton, "CancelButton", "Отмена"_cp);
    WholeDeviceBox = new QCheckBox(this);
    Name(WholeDeviceBox, "WholeDeviceBox", "все тревоги объекта"_cp);

    auto* resultLabel = new QLabel(ToQ("Результат:"_cp), this);
    Name(resultLabel, "Label1", "Результат:"_cp);
    auto* commentLabel = new QLabel(ToQ("Комментарий (до 100 знаков):"_cp), this);
    Name(commentLabel, "Label2", "Комментарий (до 100 знаков):"_cp);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* page = new QVBoxLayout(this);
    page->addWidget(AlarmText);
    page->addSpacing(6);
    page->addWidget(resultLabel);
    page->addWidget(ResultBox);
    page->addWidget(commentLabel);
    page->addWidget(CommentEdit);
    page->addWidget(WholeDeviceBox);
    page->addSpacing(6);
    page->addLayout(buttons);
    page->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, &THandlingDialog::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ResultBox, &QComboBox::currentIndexChanged, this, &THandlingDialog::UpdateOk);
    connect(CommentEdit, &QLineEdit::textChanged, this, &THandlingDialog::UpdateOk);
    connect(&m_waitTimer, &QTimer::timeout, this, &THandlingDialog::UpdateWait);
    connect(this, &QDialog::finished, &m_waitTimer, &QTimer::stop);
}

void THandlingDialog::Ask(const OpenAlarm& alarm, std::function<std::uint64_t()> waited, int deviceRows, Done done)
{
    m_id = alarm.id;
    m_done = std::move(done);
    m_waited = std::move(waited);
    std::string device = ObjectText(alarm);
    if (!alarm.listName.empty())
        device += (device.empty() ? "" : " (") + alarm.listName + (device.empty() ? "" : ")");
    if (device.empty())
        device = alarm.tel;
    m_head = FormatDateTime(alarm.openedAt) + "   " + device + "\n" + alarm.what;
    if (alarm.acked)
        m_head += "\n" + AckText(alarm);
    UpdateWait();
    ResultBox->setCurrentIndex(-1);
    CommentEdit->clear();
    WholeDeviceBox->setChecked(false);
    WholeDeviceBox->setText(ToQ(Str("все тревоги объекта ("_cp) + std::to_string(deviceRows) + ")"));
    WholeDeviceBox->setVisible(deviceRows > 1);
    UpdateOk();
    setWindowModality(Qt::WindowModal);
    ShowCentredOver(*this, parentWidget());
    ResultBox->setFocus();
    m_waitTimer.start(1000);
}

void THandlingDialog::UpdateWait()
{
    const std::uint64_t waited = m_waited ? m_waited() : 0;
    AlarmText->setText(ToQ(m_head + Str("\nЖдёт обработки: "_cp) + WaitText(waited)));
}

void THandlingDialog::UpdateOk()
{
    // "Другое" says nothing by itself: it needs the comment.
    const int chosen = ResultBox->currentIndex();
    const bool other = chosen == static_cast<int>(std::size(kHandlingResults)) - 1;
    OkButton->setEnabled(chosen >= 0 && (!other || !CommentEdit->text().trimmed().isEmpty()));
}

void THandlingDialog::OkButtonClick()
{
    if (!OkButton->isEnabled())
        return;
    const std::string result = FromQ(ResultBox->currentText());
    const std::string comment = FromQ(CommentEdit->text());
    const bool whole = !WholeDeviceBox->isHidden() && WholeDeviceBox->isChecked();
    accept();
    if (m_done)
        m_done(m_id, result, comment, whole);
}

// ---------------------------------------------------------------- the list

TAlarmsForm::TAlarmsForm(AlarmDesk& desk, const DeviceRegister& reg, StationContext& ctx)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_desk(desk), m_register(reg), m_ctx(ctx)
{
    Name(this, "AlarmsForm", "Тревоги"_cp);
    setWindowTitle(ToQ("Тревоги"_cp));
    Label1 = new QLabel(ToQ("Необработанные тревоги: самые срочные первыми, в одном приоритете самая старая первой"_cp),
                        this);
    Name(Label1, "Label1", "Необработанные тревоги"_cp);
    AlarmsGrid = new QTableWidget(0, kColumns, this);
    Name(AlarmsGrid, "AlarmsGrid", "Тревоги"_cp);
    QStringList heads;
    for (std::string_view h : kHeads)
        heads << ToQ(h);
    AlarmsGrid->setHorizontalHeaderLabels(heads);
    const int width = SetUpRowList(*AlarmsGrid, std::vector<int>(std::begin(kWidths), std::end(kWidths)));
    AlarmsGrid->setMinimumSize(width + 2 * AlarmsGrid->frameWidth() + 20, 200);

    LoginHint = new QLabel(ToQ("Для обработки тревоги войдите в систему"_cp), this);
    Name(LoginHint, "LoginHint", "Для обработки тревоги войдите в систему"_cp);
    HandleButton = new QPushButton(ToQ("Обработать..."_cp), this);
    Name(HandleButton, "HandleButton", "Обработать..."_cp);
    CloseButton = new QPushButton(ToQ("Закрыть"_cp), this);
    Name(CloseButton, "CloseButton", "Закрыть"_cp);
    HandlingDlg = new THandlingDialog(this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(LoginHint);
    buttons->addStretch(1);
    buttons->addWidget(HandleButton);
    buttons->addWidget(CloseButton);
    // The selected alarm's object card, beside the queue.
    auto* object = new QGroupBox(ToQ("Карточка объекта"_cp), this);
    Name(object, "ObjectCard", "Карточка объекта"_cp);
    ObjectTitle = new QLabel(object);
    Name(ObjectTitle, "ObjectTitle", "Объект"_cp);
    ObjectTitle->setWordWrap(true);
    ObjectTitle->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ObjectInstructions = new QPlainTextEdit(object);
    Name(ObjectInstructions, "ObjectInstructions", "Действия оператора"_cp);
    ObjectInstructions->setReadOnly(true);
    ObjectContacts = new QTableWidget(0, 3, object);
    Name(ObjectContacts, "ObjectContacts", "Кому звонить"_cp);
    ObjectContacts->setHorizontalHeaderLabels({ToQ("Кому звонить"_cp), ToQ("Кто это"_cp), ToQ("Телефон"_cp)});
    ObjectContacts->verticalHeader()->hide();
    ObjectContacts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ObjectContacts->setSelectionBehavior(QAbstractItemView::SelectRows);
    ObjectContacts->setColumnWidth(0, 130);
    ObjectContacts->setColumnWidth(1, 80);
    ObjectContacts->horizontalHeader()->setStretchLastSection(true);
    CopyHint = new QLabel(ToQ("Щелчок по телефону копирует его"_cp), object);
    Name(CopyHint, "CopyHint", "Щелчок по телефону копирует его"_cp);
    auto* objectPage = new QVBoxLayout(object);
    objectPage->addWidget(ObjectTitle);
    objectPage->addWidget(new QLabel(ToQ("Действия оператора:"_cp), object));
    objectPage->addWidget(ObjectInstructions, 1);
    objectPage->addWidget(ObjectContacts, 1);
    objectPage->addWidget(CopyHint);
    object->setMinimumWidth(340);

    auto* queue = new QVBoxLayout;
    queue->addWidget(Label1);
    queue->addWidget(AlarmsGrid, 1);
    queue->addLayout(buttons);
    auto* page = new QHBoxLayout(this);
    page->addLayout(queue, 1);
    page->addWidget(object);
    connect(ObjectContacts, &QTableWidget::cellClicked, this, &TAlarmsForm::ContactClicked);

    connect(&m_leaseTimer, &QTimer::timeout, this, [this] {
        if (m_holding != 0 && m_centre)
            m_centre->Renew(m_holding, m_holdingOp);
    });
    // Cancelled, or closed by its title: the alarm goes back to the queue.
    connect(HandlingDlg, &QDialog::rejected, this, &TAlarmsForm::LetGo);
    connect(HandleButton, &QPushButton::clicked, this, &TAlarmsForm::HandleButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
    connect(AlarmsGrid, &QTableWidget::cellDoubleClicked, this, [this] { HandleButtonClick(); });
    connect(AlarmsGrid, &QTableWidget::itemSelectionChanged, this, [this] {
        UpdateWaits();
        ShowObjectCard();
    });
    Refresh();
}

void TAlarmsForm::ShowCentred(bool activate)
{
    // The card as it is now: the administrator may have changed it meanwhile.
    ShowObjectCard();
    ShowCentredOver(*this, m_ctx.MainWindow, activate);
}

void TAlarmsForm::PopUp()
{
    // Open already but minimised, or under another window, it was not seen.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    const bool quiet = !isActiveWindow();
    setAttribute(Qt::WA_ShowWithoutActivating, quiet);
    ShowCentred(false);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void TAlarmsForm::Refresh()
{
    const std::uint64_t selected = SelectedId();
    const std::vector<const OpenAlarm*> rows = m_desk.Queue();
    AlarmsGrid->setRowCount(static_cast<int>(rows.size()));
    int keep = rows.empty() ? -1 : 0;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const OpenAlarm& a = *rows[static_cast<std::size_t>(r)];
        const std::string texts[kColumns] = {std::to_string(a.priority),
                                             FormatDateTime(a.openedAt),
                                             ObjectText(a),
                                             a.listName,
                                             a.what,
                                             WaitText(m_desk.WaitedSeconds(a)),
                                             AckText(a)};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(ToQ(texts[c]));
            item->setForeground(PriorityColour(a.priority));
            item->setBackground(PriorityBackground(a.priority));
            if (c == kTime)
                item->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(a.id));
            if (c == kWhat)
                item->setToolTip(ToQ(a.what));
            AlarmsGrid->setItem(r, c, item);
        }
        if (a.id == selected)
            keep = r;
    }
    if (keep >= 0)
        SelectRow(keep);
    UpdateWaits();
}

void TAlarmsForm::UpdateWaits()
{
    // Each row by its id: the list's order is the queue's, not the desk's.
    for (int r = 0; r < AlarmsGrid->rowCount(); ++r) {
        const QTableWidgetItem* time = AlarmsGrid->item(r, kTime);
        QTableWidgetItem* waited = AlarmsGrid->item(r, kWaited);
        if (!time || !waited)
            continue;
        if (const OpenAlarm* a = m_desk.Find(time->data(Qt::UserRole).toULongLong()))
            waited->setText(ToQ(WaitText(m_desk.WaitedSeconds(*a))));
    }
    LoginHint->setVisible(!m_ctx.LoggedIn);
    HandleButton->setEnabled(m_ctx.LoggedIn && SelectedId() != 0 && !m_taking);
}

std::uint64_t TAlarmsForm::SelectedId() const
{
    const QList<QTableWidgetItem*> items = AlarmsGrid->selectedItems();
    for (QTableWidgetItem* item : items)
        if (item->column() == kTime)
            return item->data(Qt::UserRole).toULongLong();
    return 0;
}

void TAlarmsForm::SelectRow(int row)
{
    if (row >= 0 && row < AlarmsGrid->rowCount())
        AlarmsGrid->selectRow(row);
}

void TAlarmsForm::HandleButtonClick()
{
    if (!m_ctx.LoggedIn) {
        ShowWarning(Str("Авторизация пользователя не выполнена"_cp), this);
        return;
    }
    if (m_ctx.Viewer) {
        ShowWarning(Str(kViewerRefused), this);
        return;
    }
    const OpenAlarm* alarm = m_desk.Find(SelectedId());
    if (!alarm || m_taking)
        return;
    if (alarm->centreId != 0) {
        HandleCentreRow(*alarm);
        return;
    }
    const std::string device = alarm->shortName;
    const int deviceRows = static_cast<int>(m_desk.RowsOfDevice(device).size());
    HandlingDlg->Ask(*alarm, WaitOf(*alarm), deviceRows,
                     [this, device](std::uint64_t id, std::string result, std::string comment, bool wholeDevice) {
                         // The operator may have logged out meanwhile, or handled the row elsewhere.
                         if (!m_ctx.LoggedIn)
                             ShowWarning(Str("Авторизация пользователя не выполнена"_cp), this);
                         else if (!m_desk.Handle(id, result, comment, m_ctx.Operator))
                             ShowInfo(Str("Эта тревога уже обработана"_cp), this);
                         else if (wholeDevice)
                             m_desk.HandleDevice(device, result, comment, m_ctx.Operator);
                     });
}

std::function<std::uint64_t()> TAlarmsForm::WaitOf(const OpenAlarm& alarm)
{
    return [this, id = alarm.id, last = m_desk.WaitedSeconds(alarm)]() mutable {
        // Handled meanwhile: the wait stops where it was.
        if (const OpenAlarm* a = m_desk.Find(id))
            last = m_desk.WaitedSeconds(*a);
        return last;
    };
}

void TAlarmsForm::HandleCentreRow(const OpenAlarm& alarm)
{
    if (!m_centre) {
        ShowWarning(Str("Нет связи с базой центра: тревога центра обрабатывается через неё"_cp), this);
        return;
    }
    const std::uint64_t id = alarm.id;
    const long long centreId = alarm.centreId;
    const std::string op = m_ctx.Operator;
    m_taking = true;
    UpdateWaits();
    // The answer may come after the window is gone.
    QPointer<TAlarmsForm> self(this);
    m_centre->Take(centreId, op, [self, id, centreId, op](bool taken, const std::string& holder, const std::string& error) {
        if (!self)
            return;
        self->m_taking = false;
        self->UpdateWaits();
        if (taken)
            self->AskCentre(id, centreId, op);
        else if (!error.empty())
            ShowWarning(Str("Тревога не принята: "_cp) + error, self);
        else if (!holder.empty())
            ShowInfo(Str("Принята оператором "_cp) + holder, self);
        else
            ShowInfo(Str("Эта тревога уже обработана"_cp), self);
    });
}

void TAlarmsForm::AskCentre(std::uint64_t id, long long centreId, const std::string& op)
{
    const OpenAlarm* alarm = m_desk.Find(id);
    // Closed meanwhile, or the operator left while the take was on its way.
    if (!alarm || alarm->centreId != centreId || !m_ctx.LoggedIn || m_ctx.Operator != op) {
        m_centre->Release(centreId, op);
        if (!alarm)
            ShowInfo(Str("Эта тревога уже обработана"_cp), this);
        return;
    }
    m_holding = centreId;
    m_holdingOp = op;
    m_leaseTimer.start(kRenewMs);
    auto waited = WaitOf(*alarm);
    HandlingDlg->Ask(*alarm, waited, 1, [this, waited, centreId, op](std::uint64_t, std::string result, std::string comment, bool) mutable {
        m_leaseTimer.stop();
        m_holding = 0;
        const std::string event = HandledEvent(result, comment, op, waited());
        QPointer<TAlarmsForm> self(this);
        m_centre->Close(centreId, op, result, CleanComment(comment), event,
                        [self, centreId](bool closed, const std::string& error, const centre::ClosedRow& row) {
                            if (!self)
                                return;
                            if (closed)
                                self->m_desk.CentreRowClosed(centreId, &row);
                            else if (!error.empty())
                                ShowWarning(Str("Обработка не записана в базу центра: "_cp) + error, self);
                            else
                                ShowInfo(Str("Эта тревога уже не ваша: её время вышло и её принял другой оператор"_cp), self);
                        });
    });
}

void TAlarmsForm::LetGo()
{
    if (m_holding == 0)
        return;
    m_leaseTimer.stop();
    if (m_centre)
        m_centre->Release(m_holding, m_holdingOp);
    m_holding = 0;
}

void TAlarmsForm::ShowObjectCard()
{
    const OpenAlarm* alarm = m_desk.Find(SelectedId());
    // A stranger's number and the modem are nobody's object.
    const bool object = alarm && alarm->kind != AlarmKind::Stranger && !TrimBlanks(alarm->shortName).empty();
    const std::string tel = object ? alarm->tel : std::string();
    ObjectContacts->setRowCount(0);
    CopyHint->setText(ToQ("Щелчок по телефону копирует его"_cp));
    if (!object) {
        ObjectTitle->setText(ToQ(alarm ? "Не объект охраны"_cp : "Тревога не выбрана"_cp));
        ObjectInstructions->clear();
        return;
    }
    const std::string address = m_register.FindAddressByNumber(tel);
    ObjectTitle->setText(ToQ(std::string(TrimBlanks(alarm->shortName)) + ", " + alarm->listName + "\n" +
                             (address.empty() ? Str("адрес не указан"_cp) : address)));
    const ObjectCard card = m_register.Objects.Of(tel);
    ObjectInstructions->setPlainText(card.instructions.empty()
                                         ? ToQ("Указаний нет"_cp)
                                         : ToQ(card.instructions).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    for (const ObjectContact& c : card.contacts) {
        const int row = ObjectContacts->rowCount();
        ObjectContacts->insertRow(row);
        const std::string texts[3] = {c.name, c.role, c.phone.empty() ? Str("нет телефона"_cp) : c.phone};
        for (int col = 0; col < 3; ++col) {
            auto* item = new QTableWidgetItem(ToQ(texts[col]));
            if (!c.note.empty())
                item->setToolTip(ToQ(c.note));
            if (col == 2 && !c.phone.empty())
                item->setData(Qt::UserRole, ToQ(c.phone));
            ObjectContacts->setItem(row, col, item);
        }
    }
}

void TAlarmsForm::ContactClicked(int row, int /*column*/)
{
    // The whole row is the contact: a click anywhere on it takes the phone.
    const QTableWidgetItem* item = ObjectContacts->item(row, 2);
    const QString phone = item ? item->data(Qt::UserRole).toString() : QString();
    if (phone.isEmpty())
        return;
    QApplication::clipboard()->setText(phone);
    CopyHint->setText(ToQ(Str("Скопирован телефон: "_cp)) + phone);
}

} // namespace kv
