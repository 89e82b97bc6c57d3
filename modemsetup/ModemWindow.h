#pragma once
// The modem window's seams: what it offers the station (the fields the workers
// fill, the settings it read or saved), what it works on (the modems, their
// ports, the ring-round's state) and what it asks of the station around it.
#include <string>
#include <utility>

namespace kv {

class TComPort;
class TModem;
struct DialState;

// What the modem window offers (UI thread).
class IModemWindow {
public:
    virtual void SetLinkText(const std::string& text) = 0;                // modem 1's link state
    virtual void SetSignalText(int modem, const std::string& text) = 0;  // 1 or 2
    virtual void AddBalanceLine(const std::string& line) = 0;
    // The centre's database as it is now ("не используется" without one).
    virtual void SetCentreText(const std::string& text) = 0;
    virtual std::string BalanceEnquiry() = 0; // the balance number as typed
    virtual void RefreshPortFields() = 0;    // the ports' names and speeds, read again
    // The [Escalation] texts of "config.ini" as last read or saved: Minutes, Numbers.
    virtual std::pair<std::string, std::string> EscalationSettings() = 0;
    // "[Supervision] SilentHours" as last read or saved.
    virtual std::string SilentHoursSetting() = 0;

protected:
    ~IModemWindow() = default;
};

// The station's parts the window sets up; they outlive it.
struct ModemParts {
    TModem& modem1;
    TModem& modem2;
    TComPort& port1;
    TComPort& port2;
    DialState& dial;
};

// What the modem window asks of the station (UI thread).
class IModemStation {
public:
    // Each false when that worker already runs.
    virtual bool StartCommThread() = 0;
    virtual bool StartDialThread() = 0;
    virtual void RebuildBoard() = 0;
    virtual void SetDialStatus(const std::string& text) = 0;
    // The device card's command buttons, given back once modem 1 is up.
    virtual void SetCommandButtonsEnabled(bool enabled) = 0;
    // The port selection window (modal) and the journal password dialog.
    virtual void ShowComPortForm() = 0;
    virtual void ShowPasswordDlg() = 0;

protected:
    ~IModemStation() = default;
};

} // namespace kv
