#include "modemsetup/ModemUnit.h"

#include "core/ModemStart.h"
#include "core/Settings.h"
#include "windows/Placement.h"

#include "codec/Number.h"
#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/Commands.h"
#include "modem/DialThread.h"
#include "modem/Modem.h"
#include "modem/SmsInbox.h"
#include "serial/PortAdvice.h"
#include "serial/CPort.h"
#include "timing/rdtsc.h"
#include "windows/AppPaths.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "data/IniFile.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv {

using namespace literals;
using namespace settings;

namespace {

constexpr std::string_view kModem1Failed = "Невозможно инициализировать COM-порт для модема 1!"_cp;
constexpr std::string_view kModem2Failed = "Невозможно инициализировать COM-порт для модема 2!"_cp;

std::string S(std::string_view v) { return std::string(v); }

// The box's text, with what the operator can do about a port that would not
// open. Inside the catch block of the failure.
std::string WithAdvice(const std::string& failure, const TComPort& port)
{
    const std::string advice = PortAdvice(std::current_exception(), port.Port());
    return advice.empty() ? failure : failure + "\r\n\r\n" + advice;
}

IniFile ConfigIni() { return IniFile(ConfigFile(QStringLiteral("config.ini")).toStdString()); }

// An edit box with a note after it on the same row.
QHBoxLayout* WithNote(QWidget* edit, const char* noteName, std::string_view note)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(edit);
    auto* label = new QLabel(ToQ(note), edit->parentWidget());
    Name(label, noteName, note);
    row->addWidget(label);
    row->addStretch(1);
    return row;
}

QLabel* FieldLabel(const char* name, std::string_view text, QWidget* parent)
{
    auto* label = new QLabel(ToQ(text), parent);
    Name(label, name, text);
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(11);
    f.setBold(true);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 64, 128));
    label->setPalette(pal);
    return label;
}

QLineEdit* TextBox(const char* name, std::string_view label, std::string_view text, QWidget* parent)
{
    auto* edit = new QLineEdit(ToQ(text), parent);
    Name(edit, name, label);
    return edit;
}

QLineEdit* Display(const char* name, std::string_view label, std::string_view text, QWidget* parent)
{
    QLineEdit* edit = TextBox(name, label, text, parent);
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignCenter);
    return edit;
}

} // namespace

TModemForm::TModemForm(StationContext& ctx, ModemParts parts, IModemStation& station)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_ctx(ctx),
      m_parts(parts),
      m_station(station),
      m_wait(WaitMs),
      m_failuresToReport(kDefaultFailuresToReport),
      m_multipartWait(static_cast<int>(SmsInbox::kDefaultMultipartWait.count()))
{
    Name(this, "ModemForm", "Управление GSM-модемом"_cp);
    setWindowTitle(ToQ("Управление GSM-модемом"_cp));

    PNGButton1 = new TPNGButton(assets::kBtnComSetup, this);
    Name(PNGButton1, "PNGButton1", "НАСТРОЙКА COM ПОРТОВ"_cp);
    PNGButton7 = new TPNGButton(assets::kBtnConnect, this);
    Name(PNGButton7, "PNGButton7", "УСТАНОВИТЬ СВЯЗЬ"_cp);
    PNGButton3 = new TPNGButton(assets::kBtnLinkTest, this);
    Name(PNGButton3, "PNGButton3", "ПРОВЕРКА СВЯЗИ"_cp);
    PNGButton3->setEnabled(false);
    PNGButton2 = new TPNGButton(assets::kBtnBalance, this);
    Name(PNGButton2, "PNGButton2", "ЗАПРОС «БАЛАНСА» Модем 1"_cp);
    PNGButton2->setEnabled(false);
    PNGButton4 = new TPNGButton(assets::kBtnBalance, this);
    Name(PNGButton4, "PNGButton4", "ЗАПРОС «БАЛАНСА» Модем 2"_cp);
    PNGButton4->setEnabled(false);
    RbButton4 = new QPushButton(ToQ("Открыть технологический журнал"_cp), this);
    Name(RbButton4, "RbButton4", "Открыть технологический журнал"_cp);
    RbButton4->setMinimumWidth(RbButton4->fontMetrics().horizontalAdvance(RbButton4->text()) + 40);

    Edit1 = TextBox("Edit1", "ПОРТ №1"_cp, {}, this);
    Edit3 = TextBox("Edit3", "СКОРОСТЬ №1"_cp, {}, this);
    Edit6 = TextBox("Edit6", "ПОРТ №2"_cp, {}, this);
    Edit7 = TextBox("Edit7", "СКОРОСТЬ №2"_cp, {}, this);
    // Stable device names (/dev/serial/by-id/..., the simulator's links) are
    // long: the port fields are wider, and the whole name is in the tool tip.
    for (QLineEdit* e : {Edit1, Edit6}) {
        e->setMinimumWidth(220);
        connect(e, &QLineEdit::textChanged, e, [e](const QString& text) { e->setToolTip(text); });
    }
    Edit5 = Display("Edit5", "СТАТУС"_cp, "нет связи"_cp, this);
    Edit4 = Display("Edit4", "УРОВЕНЬ СИГНАЛА №1"_cp, "0", this);
    Edit9 = Display("Edit9", "|", "|", this);
    Edit8 = Display("Edit8", "УРОВЕНЬ СИГНАЛА №2"_cp, "0", this);
    for (QLineEdit* e : {Edit4, Edit8})
        e->setFixedWidth(60);
    Edit9->setFixedWidth(20);
    Edit9->setFrame(false);
    BalanceNumber = TextBox("BalanceNumber", "ЗАПРОС"_cp, "*100#", this);
    BalanceInfo = new QPlainTextEdit(this);
    Name(BalanceInfo, "BalanceInfo", "БАЛАНС"_cp);
    BalanceInfo->setReadOnly(true);
    BalanceInfo->setFixedHeight(84);
    BalanceInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    BalanceInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Edit10 = TextBox("Edit10", "ЭСКАЛАЦИЯ ЧЕРЕЗ, МИН"_cp, "0", this);
    Edit10->setToolTip(ToQ("Через сколько минут необработанная тревога уходит SMS на номера эскалации; 0 - выключено"_cp));
    Edit11 = TextBox("Edit11", "НОМЕРА ЭСКАЛАЦИИ"_cp, {}, this);
    Edit11->setToolTip(ToQ("Номера через запятую, например +79001234567, +79007654321"_cp));
    Edit12 = TextBox("Edit12", "ТРЕВОГА ОБЗВОНА ПОСЛЕ"_cp, std::to_string(kDefaultFailuresToReport), this);
    Edit12->setToolTip(ToQ("Сколько вызовов подряд объект может не ответить, прежде чем откроется тревога (от 1 до 99)"_cp));
    Edit12->setFixedWidth(60);
    Edit13 = TextBox("Edit13", "КОНТРОЛЬ СВЯЗИ, Ч"_cp, "0", this);
    Edit13->setToolTip(ToQ("Через сколько часов без сообщений объект без обзвона считается потерявшим связь; 0 - выключено"_cp));
    Edit14 = TextBox("Edit14", "ОЖИДАНИЕ ЧАСТЕЙ SMS"_cp, std::to_string(m_multipartWait), this);
    Edit14->setToolTip(ToQ("Сколько секунд ждать недостающие части длинного SMS, прежде чем записать его как есть "
                           "(от 10 до 86400)"_cp));
    Edit13->setFixedWidth(60);
    Edit14->setFixedWidth(60);
    Edit15 = Display("Edit15", "БАЗА ЦЕНТРА"_cp, "не используется"_cp, this);

    // The fields and their labels on the left, the three main buttons on the right.
    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(6);
    fields->addWidget(FieldLabel("Label1", "ПОРТ №1"_cp, this), 0, 0);
    fields->addWidget(Edit1, 0, 1);
    fields->addWidget(FieldLabel("Label2", "СКОРОСТЬ"_cp, this), 0, 2);
    fields->addWidget(Edit3, 0, 3);
    fields->addWidget(FieldLabel("Label3", "ПОРТ №2"_cp, this), 1, 0);
    fields->addWidget(Edit6, 1, 1);
    fields->addWidget(FieldLabel("Label4", "СКОРОСТЬ"_cp, this), 1, 2);
    fields->addWidget(Edit7, 1, 3);
    fields->addWidget(FieldLabel("Label5", "СТАТУС"_cp, this), 2, 0);
    fields->addWidget(Edit5, 2, 1, 1, 3);
    fields->addWidget(FieldLabel("Label6", "УРОВЕНЬ СИГНАЛА"_cp, this), 3, 0);
    auto* signal = new QHBoxLayout;
    signal->setSpacing(2);
    signal->addWidget(Edit4);
    signal->addWidget(Edit9);
    signal->addWidget(Edit8);
    signal->addStretch(1);
    fields->addLayout(signal, 3, 1, 1, 3);
    fields->addWidget(FieldLabel("Label7", "ЗАПРОС"_cp, this), 4, 0);
    fields->addWidget(BalanceNumber, 4, 1, 1, 3);
    fields->addWidget(FieldLabel("Label11", "ЭСКАЛАЦИЯ, МИН"_cp, this), 5, 0);
    Edit10->setFixedWidth(60);
    fields->addLayout(WithNote(Edit10, "Label13", "0 - выключена"_cp), 5, 1, 1, 3);
    fields->addWidget(FieldLabel("Label12", "НОМЕРА ЭСКАЛАЦИИ"_cp, this), 6, 0);
    fields->addWidget(Edit11, 6, 1, 1, 3);
    fields->addWidget(FieldLabel("Label14", "ТРЕВОГА ОБЗВОНА"_cp, this), 7, 0);
    fields->addLayout(WithNote(Edit12, "Label15", "неудачных вызовов подряд"_cp), 7, 1, 1, 3);
    fields->addWidget(FieldLabel("Label16", "КОНТРОЛЬ СВЯЗИ, Ч"_cp, this), 8, 0);
    fields->addLayout(WithNote(Edit13, "Label17", "без обзвона; 0 - выключен"_cp), 8, 1, 1, 3);
    fields->addWidget(FieldLabel("Label18", "ЧАСТИ SMS"_cp, this), 9, 0);
    fields->addLayout(WithNote(Edit14, "Label19", "секунд ждать недостающие"_cp), 9, 1, 1, 3);
    fields->addWidget(FieldLabel("Label20", "БАЗА ЦЕНТРА"_cp, this), 10, 0);
    fields->addWidget(Edit15, 10, 1, 1, 3);
    fields->setColumnMinimumWidth(1, 110);
    fields->setColumnMinimumWidth(3, 80);

    auto* actions = new QVBoxLayout;
    actions->setSpacing(6);
    actions->addWidget(PNGButton1);
    actions->addWidget(PNGButton7);
    actions->addWidget(PNGButton3);
    actions->addStretch(1);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addLayout(fields, 1);
    top->addLayout(actions);

    auto* balanceButtons = new QGridLayout;
    balanceButtons->setHorizontalSpacing(16);
    balanceButtons->setVerticalSpacing(2);
    QLabel* modem1 = FieldLabel("Label8", "Модем 1"_cp, this);
    QLabel* modem2 = FieldLabel("Label9", "Модем 2"_cp, this);
    modem1->setAlignment(Qt::AlignCenter);
    modem2->setAlignment(Qt::AlignCenter);
    balanceButtons->addWidget(modem1, 0, 0);
    balanceButtons->addWidget(modem2, 0, 1);
    balanceButtons->addWidget(PNGButton2, 1, 0);
    balanceButtons->addWidget(PNGButton4, 1, 1);
    balanceButtons->setColumnStretch(2, 1);

    auto* balance = new QHBoxLayout;
    balance->setSpacing(8);
    QLabel* balanceLabel = FieldLabel("Label10", "БАЛАНС"_cp, this);
    balanceLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    balance->addWidget(balanceLabel);
    balance->addWidget(BalanceInfo, 1);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(14, 14, 14, 14);
    page->setSpacing(12);
    page->addLayout(top);
    page->addLayout(balanceButtons);
    page->addLayout(balance);
    page->addWidget(RbButton4, 0, Qt::AlignRight);
    page->setSizeConstraint(QLayout::SetFixedSize);

    connect(PNGButton1, &QAbstractButton::clicked, this, &TModemForm::RbButton1Click);
    connect(PNGButton7, &QAbstractButton::clicked, this, &TModemForm::RbButton7Click);
    connect(PNGButton3, &QAbstractButton::clicked, this, &TModemForm::RbButton3Click);
    connect(PNGButton2, &QAbstractButton::clicked, this, &TModemForm::RbButton2Click);
    connect(PNGButton4, &QAbstractButton::clicked, this, &TModemForm::PNGButton4Click);
    connect(RbButton4, &QAbstractButton::clicked, this, &TModemForm::RbButton4Click);

    FormCreate();

    StationContext::WindowOps& ops = m_ctx.Window(ShownWindow::Modem);
    ops.show = [this] {
        RefreshPortFields();
        ShowCentred();
    };
    ops.close = [this] { close(); };
}

void TModemForm::SetLinkText(const std::string& text) { Edit5->setText(ToQ(text)); }

void TModemForm::SetSignalText(int modem, const std::string& text) { (modem == 1 ? Edit4 : Edit8)->setText(ToQ(text)); }

void TModemForm::SetCentreText(const std::string& text)
{
    Edit15->setText(ToQ(text));
    Edit15->setToolTip(ToQ(text));
}

void TModemForm::AddBalanceLine(const std::string& line) { BalanceInfo->appendPlainText(ToQ(line)); }

std::string TModemForm::BalanceEnquiry() { return FromQ(BalanceNumber->text()); }

void TModemForm::FormCreate()
{
    LoadSettings();
    RefreshPortFields();
}

void TModemForm::LoadSettings()
{
    // A broken or missing file leaves whatever could not be read as it was.
    try {
        const IniFile ini = ConfigIni();
        if (!ini.Readable())
            return;
        const StationSettings read = ReadStationSettings(ini);
        BalanceNumber->setText(ToQ(read.balanceNumber));
        m_parts.port1.SetPort(read.port1);
        m_parts.port1.SetBaudRate(BaudRateFromName(read.speed1));
        m_parts.port2.SetPort(read.port2);
        m_parts.port2.SetBaudRate(BaudRateFromName(read.speed2));
        m_escalationMinutes = read.escalationMinutes;
        m_escalationNumbers = read.escalationNumbers;
        m_silentHours = read.silentHours;
        m_failuresToReport = read.failuresToReport;
        m_multipartWait = read.multipartWaitSeconds;
    } catch (const std::exception&) {
    }
    Edit10->setText(ToQ(m_escalationMinutes));
    Edit11->setText(ToQ(m_escalationNumbers));
    Edit13->setText(ToQ(m_silentHours));
    Edit12->setText(ToQ(std::to_string(m_failuresToReport)));
    Edit14->setText(ToQ(std::to_string(m_multipartWait)));
    ApplyFailuresToReport();
    ApplyMultipartWait();
}

bool TModemForm::TakeFailuresToReport()
{
    const std::optional<int> typed = FailuresToReport(FromQ(Edit12->text()));
    if (typed)
        m_failuresToReport = *typed;
    Edit12->setText(ToQ(std::to_string(m_failuresToReport)));
    ApplyFailuresToReport();
    return typed.has_value();
}

void TModemForm::ApplyFailuresToReport()
{
    m_parts.dial.failuresToReport = m_failuresToReport;
}

bool TModemForm::TakeMultipartWait()
{
    const std::optional<std::chrono::seconds> typed = MultipartWaitOf(FromQ(Edit14->text()));
    if (typed)
        m_multipartWait = static_cast<int>(typed->count());
    Edit14->setText(ToQ(std::to_string(m_multipartWait)));
    ApplyMultipartWait();
    return typed.has_value();
}

void TModemForm::ApplyMultipartWait()
{
    m_parts.modem1.MultipartWaitSeconds = static_cast<std::uint32_t>(m_multipartWait);
}

void TModemForm::RefreshPortFields()
{
    Edit1->setText(ToQ(m_parts.port1.Port()));
    Edit3->setText(ToQ(BaudRateName(m_parts.port1.BaudRate())));
    Edit6->setText(ToQ(m_parts.port2.Port()));
    Edit7->setText(ToQ(BaudRateName(m_parts.port2.BaudRate())));
}

void TModemForm::ShowCentred() { ShowCentredOver(*this, m_ctx.MainWindow); }

void TModemForm::hideEvent(QHideEvent* e)
{
    // The close box, Escape and the main window's toggle all end here; a
    // spontaneous hide (the desktop minimising everything) is no close.
    if (!e->spontaneous())
        FormClose();
    QDialog::hideEvent(e);
}

void TModemForm::FormClose()
{
    m_ctx.Shown(ShownWindow::Modem) = false;
    const bool failuresUsable = TakeFailuresToReport();
    const bool waitUsable = TakeMultipartWait();
    // Saving and applying fail separately: a folder the station may not write
    // to must not keep the operator from switching ports.
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        std::string text = e.what();
        if (text.find("config.ini") == std::string::npos)
            text = "config.ini: " + text;
        ShowError(text, this);
    }
    try {
        ApplySettings();
    } catch (const std::exception& e) {
        ShowError(e.what(), this);
    }
    if (!failuresUsable)
        ShowError(Str("Тревога обзвона: нужно число неудачных вызовов от 1 до 99. Оставлено "_cp)
                      + std::to_string(m_failuresToReport) + ".",
                  this);
    if (!waitUsable)
        ShowError(Str("Части SMS: нужно число секунд от 10 до 86400. Оставлено "_cp) + std::to_string(m_multipartWait)
                      + ".",
                  this);
}

void TModemForm::SaveSettings()
{
    // The desk takes what the fields say at the close, saved or not.
    m_escalationMinutes = FromQ(Edit10->text());
    m_escalationNumbers = FromQ(Edit11->text());
    m_silentHours = FromQ(Edit13->text());
    const IniFile ini = ConfigIni();
    ini.WriteString(S(kMainDevice), S(kPhoneNumber), FromQ(BalanceNumber->text()));
    ini.WriteString(S(kMainDevice), S(kCPort), FromQ(Edit1->text()));
    ini.WriteString(S(kMainDevice), S(kCPortBaudRate), FromQ(Edit3->text()));
    ini.WriteString(S(kSecondDevice), S(kPhoneNumber), {});
    ini.WriteString(S(kSecondDevice), S(kCPort), FromQ(Edit6->text()));
    ini.WriteString(S(kSecondDevice), S(kCPortBaudRate), FromQ(Edit7->text()));
    ini.WriteString(S(kEscalation), S(kMinutes), m_escalationMinutes);
    ini.WriteString(S(kEscalation), S(kNumbers), m_escalationNumbers);
    ini.WriteString(S(kRing), S(kFailuresToReport), std::to_string(m_failuresToReport));
    ini.WriteString(S(kSupervision), S(kSilentHours), m_silentHours);
    ini.WriteString(S(kMessages), S(kMultipartWaitSeconds), std::to_string(m_multipartWait));
}

void TModemForm::ApplySettings()
{
    // A new name on an open port closes it and opens the new device; when
    // that fails the port stays closed and the error reaches the operator.
    std::string firstError;
    auto apply = [&](TComPort& port, QLineEdit* name, QLineEdit* speed) {
        try {
            port.SetPort(FromQ(name->text()));
            port.SetBaudRate(BaudRateFromName(FromQ(speed->text())));
        } catch (const std::exception& e) {
            if (firstError.empty())
                firstError = e.what();
        }
    };
    apply(m_parts.port1, Edit1, Edit3);
    apply(m_parts.port2, Edit6, Edit7);
    if (!firstError.empty())
        throw std::runtime_error(firstError);
}

void TModemForm::RbButton1Click()
{
    m_station.ShowComPortForm();
}

void TModemForm::RbButton7Click()
{
    const bool modem1 = InitModem1();
    const bool modem2 = InitModem2();
    PNGButton7->setEnabled(!(modem1 && modem2));
}

bool TModemForm::KeepRunningWorker(TModem& modem, TComPort& port, const std::string& failure, bool& ok)
{
    // Its state, buffer and port belong to the running worker; only a port the
    // worker could not get back (or a ring-round started before any
    // initialisation) is opened for it.
    if (!modem.Running)
        return false;
    try {
        port.Open();
        ok = true;
    } catch (const std::exception&) {
        ShowError(WithAdvice(failure, port), this);
        ok = false;
    }
    return true;
}

void TModemForm::Fail(TModem& modem, TComPort& port, bool workerStarted, const std::string& failure)
{
    ShowError(WithAdvice(failure, port), this);
    modem.Running = false;
    // A port that failed before any worker took it is closed again, so that the
    // next attempt really opens the device (an open port ignores Open).
    if (!workerStarted) {
        try {
            port.Close();
        } catch (const std::exception&) {
        }
    }
    PNGButton7->setEnabled(true);
}

void TModemForm::EnableModem1Buttons()
{
    PNGButton3->setEnabled(true);
    PNGButton2->setEnabled(true);
    m_station.SetCommandButtonsEnabled(true);
}

bool TModemForm::InitModem1()
{
    TModem& modem = m_parts.modem1;
    TComPort& port = m_parts.port1;
    bool ok = false;
    if (KeepRunningWorker(modem, port, S(kModem1Failed), ok)) {
        // The device card's buttons are the running worker's business (a
        // command may be awaiting its confirmation).
        if (ok) {
            PNGButton3->setEnabled(true);
            PNGButton2->setEnabled(true);
        }
        return ok;
    }

    PNGButton7->setEnabled(false);
    bool workerStarted = false;
    try {
        BeginModem1(modem, port, m_wait, [this] { return m_station.StartCommThread(); }, workerStarted);
        EnableModem1Buttons();
        return true;
    } catch (const std::exception&) {
        Fail(modem, port, workerStarted, S(kModem1Failed));
        return false;
    }
}

bool TModemForm::InitModem2()
{
    TModem& modem = m_parts.modem2;
    TComPort& port = m_parts.port2;
    bool ok = false;
    if (KeepRunningWorker(modem, port, S(kModem2Failed), ok)) {
        if (ok)
            PNGButton4->setEnabled(true);
        return ok;
    }

    PNGButton7->setEnabled(false);
    bool workerStarted = false;
    try {
        BeginModem2(modem, port, m_wait, [this] { return m_station.StartDialThread(); }, workerStarted);
        m_station.RebuildBoard();
        m_station.SetDialStatus(S("Статус дозвона: ожидание"_cp));
        PNGButton4->setEnabled(true);
        return true;
    } catch (const std::exception&) {
        Fail(modem, port, workerStarted, S(kModem2Failed));
        return false;
    }
}

void TModemForm::RbButton3Click()
{
    EnqueueCommand(m_parts.modem1, S(kCmdLinkTest));
}

void TModemForm::RbButton2Click()
{
    BalanceInfo->clear();
    RequestBalance(m_parts.modem1, FromQ(BalanceNumber->text()));
}

void TModemForm::PNGButton4Click()
{
    BalanceInfo->clear();
    m_parts.dial.balanceRequest = true;
}

void TModemForm::RbButton4Click()
{
    m_station.ShowPasswordDlg();
}

} // namespace kv
