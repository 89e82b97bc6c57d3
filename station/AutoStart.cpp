#include "station/AutoStart.h"

#include "core/StationCore.h"
#include "modem/Modem.h"
#include "modemsetup/ModemUnit.h"
#include "station/AlarmsWindow.h"
#include "station/OperatorDesk.h"
#include "station/Station.h"
#include "users/SecurityUnit.h"

#include <QLineEdit>
#include <QTimer>

#include <cstdlib>
#include <cstring>

namespace kv {

bool ParseAutoStart(const std::string& text, AutoStartLogin& login)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    login.user = text.substr(0, colon);
    login.password = text.substr(colon + 1);
    return true;
}

namespace {

bool LogIn(Station& station, const std::string& text)
{
    AutoStartLogin login;
    if (!ParseAutoStart(text, login))
        return false;
    StationContext& ctx = station.Context();
    if (!ctx.LoggedIn) {
        TSecurityForm& access = station.SecurityForm();
        access.UserEdit->setText(QString::fromUtf8(login.user.data(), static_cast<qsizetype>(login.user.size())));
        access.PasswordEdit->setText(
            QString::fromUtf8(login.password.data(), static_cast<qsizetype>(login.password.size())));
        access.RbButton1Click();
    }
    return ctx.LoggedIn;
}

void StartModems(Station& station)
{
    if (!station.Core().Modem1->Running)
        station.ModemForm().RbButton7Click();
}

// The crash's row and its open alarms, before any modem starts.
bool Resume(Station& station)
{
    return station.Core().Resume();
}

void ShowResumedAlarms(Station& station)
{
    OperatorDesk& desk = station.Desk();
    if (desk.Desk().AnyOpen())
        desk.AlarmsForm().ShowCentred(false);
}

} // namespace

bool AutoStart(Station& station, const std::string& text)
{
    if (!LogIn(station, text))
        return false;
    StartModems(station);
    return true;
}

bool ResumeAfterCrash(Station& station)
{
    if (!Resume(station))
        return false;
    StartModems(station);
    ShowResumedAlarms(station);
    return true;
}

std::string TakeAutoStartVariable()
{
    char* value = std::getenv(kAutoStartVariable);
    if (!value)
        return {};
    std::string text = value;
    // getenv points into the process's environment block, which
    // /proc/<pid>/environ shows to the user's other processes: the password is
    // wiped there, and unsetenv keeps it from child processes.
    explicit_bzero(value, std::strlen(value));
    unsetenv(kAutoStartVariable);
    return text;
}

void StartUnattended(Station& station)
{
    const std::string text = TakeAutoStartVariable();
    QTimer::singleShot(0, [&station, text] {
        // The open alarms are back before modem 1's start writes the record
        // anew, and the login is in before the modems take their time.
        const bool resumed = Resume(station);
        const bool loggedIn = !text.empty() && LogIn(station, text);
        if (resumed || loggedIn)
            StartModems(station);
        if (resumed)
            ShowResumedAlarms(station);
    });
}

} // namespace kv
