#pragma once
// The port setup dialog: port, baud rate, data bits, stop bits, parity and flow
// control of one TComPort.
#include <QDialog>
#include <QStringList>

class QComboBox;
class QGridLayout;

namespace kv {

class TComPort;

class TComSetupFrm : public QDialog {
    Q_OBJECT
public:
    // Offers the system's serial ports.
    explicit TComSetupFrm(TComPort& port, QWidget* parent = nullptr);
    // Offers `ports`; the port's own name is added when it is not among them
    // (pseudo-terminals and unplugged adapters are not listed by the system).
    TComSetupFrm(TComPort& port, const QStringList& ports, QWidget* parent = nullptr);

    // Writes the six choices into the port inside one update bracket, so an
    // open port is reconfigured (or reopened on another name) once.
    // Throws EComPort.
    void ApplyToPort();

    // The system's serial port names, sorted as text.
    static QStringList SystemPorts();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QComboBox* AddRow(const char* objectName, const QString& label, const QStringList& items, int current);

    TComPort& m_port;
    QComboBox* m_portCombo = nullptr;
    QComboBox* m_baudCombo = nullptr;
    QComboBox* m_dataBitsCombo = nullptr;
    QComboBox* m_stopBitsCombo = nullptr;
    QComboBox* m_parityCombo = nullptr;
    QComboBox* m_flowCombo = nullptr;
    QGridLayout* m_grid = nullptr;
    bool m_centred = false;
};

// Shows the dialog modally; on OK applies the choices and returns true, on
// Cancel changes nothing and returns false. Errors of applying (EComPort) reach
// the caller.
bool RunSetupDialog(TComPort& port, QWidget* parent = nullptr);

} // namespace kv
