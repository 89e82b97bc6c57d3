#pragma once
// The modem settings window: the ports and speeds of both modems (kept in
// "config.ini" beside the program), their initialisation, which starts both
// workers, the balance enquiries, the link test and the way to the
// technological journal.
#include "modemsetup/ModemWindow.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

struct StationContext;
class TPNGButton;

class TModemForm : public QDialog, public IModemWindow {
    Q_OBJECT
public:
    using WaitFunction = std::function<void(std::uint32_t ms)>;

    // Reads "config.ini", names the ports and registers the window's show
    // and close in ctx.
    TModemForm(StationContext& ctx, ModemParts parts, IModemStation& station);

    // The pauses of the initialisation; kv::WaitMs unless a test records them.
    void SetWait(WaitFunction wait) { m_wait = std::move(wait); }

    // Edit1, Edit3, Edit6, Edit7 from the ports.
    void RefreshPortFields() override;
    void SetLinkText(const std::string& text) override;
    void SetSignalText(int modem, const std::string& text) override;
    void AddBalanceLine(const std::string& line) override;
    void SetCentreText(const std::string& text) override;
    std::string BalanceEnquiry() override;
    std::pair<std::string, std::string> EscalationSettings() override
    {
        return {m_escalationMinutes, m_escalationNumbers};
    }
    std::string SilentHoursSetting() override { return m_silentHours; }
    // Centred on the main window.
    void ShowCentred();

    void RbButton1Click();  // port selection window, modal
    void RbButton7Click();  // initialise both modems
    void RbButton3Click();  // link test of modem 1
    void RbButton2Click();  // balance through modem 1
    void PNGButton4Click(); // balance through modem 2
    void RbButton4Click();  // journal password dialog

    TPNGButton* PNGButton1;
    TPNGButton* PNGButton7;
    TPNGButton* PNGButton3;
    TPNGButton* PNGButton2;
    TPNGButton* PNGButton4;
    QPushButton* RbButton4;
    QLineEdit* Edit1; // port of modem 1
    QLineEdit* Edit3; // speed of modem 1
    QLineEdit* Edit6; // port of modem 2
    QLineEdit* Edit7; // speed of modem 2
    QLineEdit* Edit5; // link state of modem 1
    QLineEdit* Edit4; // signal of modem 1
    QLineEdit* Edit9; // separator
    QLineEdit* Edit8; // signal of modem 2
    QLineEdit* BalanceNumber;
    QPlainTextEdit* BalanceInfo;
    QLineEdit* Edit10; // escalation: minutes an alarm may wait, 0 = off
    QLineEdit* Edit11; // escalation: numbers, comma-separated
    QLineEdit* Edit12; // ring-round: consecutive failed calls that report a device
    QLineEdit* Edit13; // supervision: hours without a sign of life, for devices not rung; 0 = off
    QLineEdit* Edit14; // modem 1: seconds the parts of a long SMS are waited for
    QLineEdit* Edit15; // the centre's database: its link and what is still to send

protected:
    void hideEvent(QHideEvent* e) override;

private:
    void FormCreate();
    void FormClose();
    void LoadSettings();
    void SaveSettings();
    void ApplySettings();
    // Takes the ring-round's count from its field; false when the field holds
    // no usable count (the count in force stays and the field shows it again).
    bool TakeFailuresToReport();
    void ApplyFailuresToReport();
    // The same for the wait for the missing parts of a long SMS.
    bool TakeMultipartWait();
    void ApplyMultipartWait();
    // Each returns whether its modem is now running with an open port.
    bool InitModem1();
    bool InitModem2();
    void EnableModem1Buttons();
    // True when the modem's worker already runs: it keeps its state and port,
    // and only a closed port is opened for it (`ok` tells whether that worked).
    bool KeepRunningWorker(TModem& modem, TComPort& port, const std::string& failure, bool& ok);
    void Fail(TModem& modem, TComPort& port, bool workerStarted, const std::string& failure);

    StationContext& m_ctx;
    ModemParts m_parts;
    IModemStation& m_station;
    WaitFunction m_wait;
    // The escalation settings as read or last saved (the fields apply at the close).
    std::string m_escalationMinutes = "0";
    std::string m_escalationNumbers;
    std::string m_silentHours = "0";
    int m_failuresToReport;
    int m_multipartWait;
};

} // namespace kv
