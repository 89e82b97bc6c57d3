#include "serial/setup/CPortSetup.h"

#include "serial/CPort.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace kv {

namespace {

void Name(QWidget* w, const char* objectName, const QString& accessibleName)
{
    w->setObjectName(QString::fromLatin1(objectName));
    w->setAccessibleDescription(QString::fromLatin1(objectName));
    w->setAccessibleName(accessibleName);
}

QString Ru(const char8_t* text) { return QString::fromUtf8(reinterpret_cast<const char*>(text)); }

} // namespace

QStringList TComSetupFrm::SystemPorts()
{
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names << info.portName();
    names.removeDuplicates();
    names.sort(Qt::CaseSensitive);
    return names;
}

TComSetupFrm::TComSetupFrm(TComPort& port, QWidget* parent) : TComSetupFrm(port, SystemPorts(), parent) {}

TComSetupFrm::TComSetupFrm(TComPort& port, const QStringList& ports, QWidget* parent)
    : QDialog(parent), m_port(port)
{
    setObjectName(QStringLiteral("ComSetupFrm"));
    setAccessibleDescription(objectName());
    setAccessibleName(Ru(u8"Настройка порта"));
    setWindowTitle(Ru(u8"Настройка порта"));
    setModal(true);

    auto* group = new QGroupBox(Ru(u8" Параметры "), this);
    Name(group, "GroupSettings", Ru(u8"Параметры"));
    m_grid = new QGridLayout(group);

    QStringList portItems = ports;
    const QString current = QString::fromLatin1(port.Port());
    if (!portItems.contains(current))
        portItems << current;
    m_portCombo = AddRow("ComboPort", Ru(u8"Порт"), portItems, static_cast<int>(portItems.indexOf(current)));

    // Listed in the order of TBaudRate: the index is the setting.
    QStringList baudItems;
    for (int i = 0; i < kBaudRateCount; ++i)
        baudItems << (i == brCustom ? Ru(u8"Другая") : QString::fromStdString(BaudRateName(static_cast<TBaudRate>(i))));
    m_baudCombo = AddRow("ComboBaudRate", Ru(u8"Скорость"), baudItems, port.BaudRate());
    m_dataBitsCombo = AddRow("ComboDataBits", Ru(u8"Биты данных"), {"5", "6", "7", "8"}, port.DataBits());
    m_stopBitsCombo = AddRow("ComboStopBits", Ru(u8"Стоповые биты"), {"1", "1.5", "2"}, port.StopBits());
    m_parityCombo = AddRow("ComboParity", Ru(u8"Чётность"),
                           {Ru(u8"Нет"), Ru(u8"Нечёт"), Ru(u8"Чёт"), Ru(u8"Маркер"), Ru(u8"Пробел")},
                           port.Parity().Bits);
    m_flowCombo = AddRow("ComboFlowControl", Ru(u8"Управление потоком"),
                         {Ru(u8"Аппаратное"), Ru(u8"Программное"), Ru(u8"Нет"), Ru(u8"Своё")},
                         port.FlowControl().FlowControl());

    auto* ok = new QPushButton(Ru(u8"ОК"), this);
    Name(ok, "ButtonOK", Ru(u8"ОК"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(Ru(u8"Отмена"), this);
    Name(cancel, "ButtonCancel", Ru(u8"Отмена"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
}

QComboBox* TComSetupFrm::AddRow(const char* objectName, const QString& label, const QStringList& items, int current)
{
    const int row = m_grid->rowCount();
    auto* caption = new QLabel(label, this);
    const QString labelName = QStringLiteral("Label") + QString::fromLatin1(objectName).mid(5);
    caption->setObjectName(labelName);
    caption->setAccessibleDescription(labelName);
    caption->setAccessibleName(label);
    auto* combo = new QComboBox(this);
    Name(combo, objectName, label);
    combo->addItems(items);
    combo->setCurrentIndex(current);
    caption->setBuddy(combo);
    m_grid->addWidget(caption, row, 0);
    m_grid->addWidget(combo, row, 1);
    return combo;
}

void TComSetupFrm::ApplyToPort()
{
    m_port.BeginUpdate();
    try {
        m_port.SetPort(m_portCombo->currentText().toLatin1().toStdString());
        if (m_baudCombo->currentIndex() >= 0)
            m_port.SetBaudRate(static_cast<TBaudRate>(m_baudCombo->currentIndex()));
        m_port.SetDataBits(static_cast<TDataBits>(m_dataBitsCombo->currentIndex()));
        m_port.SetStopBits(static_cast<TStopBits>(m_stopBitsCombo->currentIndex()));
        TComParity parity = m_port.Parity();
        parity.Bits = static_cast<TParityBits>(m_parityCombo->currentIndex());
        m_port.SetParity(parity);
        TComFlowControl flow = m_port.FlowControl();
        flow.SetFlowControl(static_cast<TFlowControl>(m_flowCombo->currentIndex()));
        m_port.SetFlowControl(flow);
    } catch (...) {
        try {
            m_port.EndUpdate();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    m_port.EndUpdate();
}

void TComSetupFrm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

bool RunSetupDialog(TComPort& port, QWidget* parent)
{
    TComSetupFrm dialog(port, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.ApplyToPort();
    return true;
}

} // namespace kv
