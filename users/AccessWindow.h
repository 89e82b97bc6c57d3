#pragma once
// The access window's seams: what it answers the main window, and what the
// login, the logout and the journal password ask of the station around them.
#include <string>

namespace kv {

// What the accounts answer (UI thread).
class IAccessWindow {
public:
    // Whether the administrator has an account.
    virtual bool HasAdministrator() const = 0;
    // Whether this name and password are the administrator's.
    virtual bool IsAdministrator(const std::string& user, const std::string& password) const = 0;

protected:
    ~IAccessWindow() = default;
};

// What the access window and the journal password dialog ask of the station (UI thread).
class IAccessStation {
public:
    // The board and the main journal take clicks only while someone is logged in.
    virtual void SetLoginControlsEnabled(bool enabled) = 0;
    // The register is read-only but for the administrator.
    virtual void SetDeviceTablesReadOnly(bool readOnly) = 0;
    // The operator logs out: before the logout row.
    virtual void OperatorLeaving() = 0;
    // The operator has logged out: the shift's report is offered.
    virtual void OperatorLeft() = 0;
    // The open alarms named for a question ("Склад (Тревога, 12:03), ..."); empty when none.
    virtual std::string OpenAlarmsText() = 0;
    virtual void ShowTechnoJournal() = 0;
    virtual void HideTechnoJournal() = 0;

protected:
    ~IAccessStation() = default;
};

} // namespace kv
