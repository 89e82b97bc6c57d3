#pragma once
// The device window's two seams: what it offers the windows around it, and what
// it needs from the station it sits in. The station's start-up implements the
// second; tests implement it with a recording fake.
#include <string>

namespace kv {

// What the device window offers (UI thread).
class IDeviceWindow {
public:
    // The card's command buttons, greyed while a command is under way.
    virtual void SetCommandButtonsEnabled(bool enabled) = 0;
    // The outcome of a command to that number; shown while its card is on show.
    virtual void SetStatusEdit(const std::string& number, const std::string& text) = 0;
    // The card's five newest events and its last contact, read again.
    virtual void FillLastEvents() = 0;
    // A device was heard or went silent: the card on show tells it anew.
    virtual void LastContactChanged() = 0;
    // The register is read-only but for the administrator.
    virtual void SetDeviceTablesReadOnly(bool readOnly) = 0;
    // Makes the first device with that short name current; false when none has it.
    virtual bool SelectDeviceByShortName(const std::string& shortName) = 0;
    // Shows the card of the current device (the board's right click).
    virtual void ShowDeviceCard() = 0;
    // The newest main-journal row of that number; false when it has none.
    virtual bool LastEventOf(const std::string& number, double& at, std::string& status, std::string& event) = 0;

protected:
    ~IDeviceWindow() = default;
};

// What the device window needs from the station (UI thread).
class IDeviceStation {
public:
    // The register changed: the board lays its tiles again.
    virtual void RebuildBoard() = 0;
    // A device command by SMS, queued whole on modem 1 and journalled by its
    // name; false, nothing queued, when modem 1 cannot take it now.
    virtual bool SendSms(const std::string& number, const std::string& text, const std::string& commandName) = 0;
    // A command line for modem 1's queue (the call to a device).
    virtual void QueueModemCommand(const std::string& line) = 0;
    // "Последняя связь" of the device with that number; empty when nothing is known.
    virtual std::string LastContactText(const std::string& number) = 0;
    // The journal search, its device filter set ("" for none).
    virtual void ShowJournalSearch(const std::string& device) = 0;

protected:
    ~IDeviceStation() = default;
};

} // namespace kv
