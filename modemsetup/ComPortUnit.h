#pragma once
// The port selection window: one button per modem, each opening the port
// setup dialog of that modem's port.
#include <QDialog>

#include <functional>

namespace kv {

class TComPort;
class TPNGButton;

class TComPortForm : public QDialog {
    Q_OBJECT
public:
    // `portsChanged` runs after each setup, whatever came of it.
    TComPortForm(TComPort& port1, TComPort& port2, std::function<void()> portsChanged);

    TPNGButton* PNGButton1; // modem 1's port
    TPNGButton* PNGButton2; // modem 2's port

    void RbButton1Click();
    void RbButton2Click();

    // The port setup dialog; RunSetupDialog unless a test stands in for the operator.
    std::function<bool(TComPort& port, QWidget* parent)> RunSetup;

private:
    void SetUpPort(TComPort& port);

    TComPort& m_port1;
    TComPort& m_port2;
    std::function<void()> m_portsChanged;
};

} // namespace kv
