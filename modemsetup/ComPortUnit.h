#pragma once
// The port selection window: one button per modem, each opening the port
// setup dialog of that modem's port.
#include <QDialog>

#include <functional>

namespace kv {

struct StationContext;
class TComPort;
class TPNGButton;

class TComPortForm : public QDialog {
    Q_OBJECT
public:
    // Registers ctx.ShowComPortForm (shows this window modally).
    explicit TComPortForm(StationContext& ctx);

    TPNGButton* PNGButton1; // modem 1's port
    TPNGButton* PNGButton2; // modem 2's port

    void RbButton1Click();
    void RbButton2Click();

    // The port setup dialog; RunSetupDialog unless a test stands in for the operator.
    std::function<bool(TComPort& port, QWidget* parent)> RunSetup;

private:
    void SetUpPort(TComPort* port);

    StationContext& m_ctx;
};

} // namespace kv
