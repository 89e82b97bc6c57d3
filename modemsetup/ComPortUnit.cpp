#include "modemsetup/ComPortUnit.h"

#include "data/Text.h"
#include "serial/CPort.h"
#include "serial/setup/CPortSetup.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"

#include <QHBoxLayout>

namespace kv {

using namespace literals;

TComPortForm::TComPortForm(TComPort& port1, TComPort& port2, std::function<void()> portsChanged)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      RunSetup([](TComPort& port, QWidget* parent) { return RunSetupDialog(port, parent); }),
      m_port1(port1),
      m_port2(port2),
      m_portsChanged(std::move(portsChanged))
{
    Name(this, "ComPortForm", "Настройка коммуникационных портов"_cp);
    setWindowTitle(ToQ("Настройка коммуникационных портов"_cp));

    PNGButton1 = new TPNGButton(assets::kBtnDevice1, this);
    Name(PNGButton1, "PNGButton1", "УСТРОЙСТВО №1"_cp);
    PNGButton2 = new TPNGButton(assets::kBtnDevice2, this);
    Name(PNGButton2, "PNGButton2", "УСТРОЙСТВО №2"_cp);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->addWidget(PNGButton1);
    layout->addWidget(PNGButton2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(PNGButton1, &QAbstractButton::clicked, this, &TComPortForm::RbButton1Click);
    connect(PNGButton2, &QAbstractButton::clicked, this, &TComPortForm::RbButton2Click);
}

void TComPortForm::RbButton1Click() { SetUpPort(m_port1); }
void TComPortForm::RbButton2Click() { SetUpPort(m_port2); }

void TComPortForm::SetUpPort(TComPort& port)
{
    try {
        RunSetup(port, this);
    } catch (const std::exception& e) {
        // The new settings could not be applied to the open port (another
        // name that does not exist or is busy): the port says why.
        ShowError(e.what(), this);
    }
    if (m_portsChanged)
        m_portsChanged();
    close();
}

} // namespace kv
