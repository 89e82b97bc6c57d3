#include "station/AutoStart.h"

#include "modem/Modem.h"
#include "modemsetup/ModemUnit.h"
#include "station/AlarmsWindow.h"
#include "station/OperatorDesk.h"
#include "station/Station.h"
#include "users/SecurityUnit.h"

#include <QLineEdit>
#include <QTimer>

#include <cstdlib>

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

bool AutoStart(Station& station, const std::string& text)
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
    if (!ctx.LoggedIn)
        return false;
    station.ModemForm().RbButton7Click();
    return true;
}

bool ResumeAfterCrash(Station& station)
{
    OperatorDesk& desk = station.Desk();
    std::string record;
    if (!desk.ReadRecord(record))
        return false;
    StationContext& ctx = station.Context();
    desk.Desk().Resume(record);
    // A login of the environment's may have started the modems already.
    if (!ctx.Modem1 || !ctx.Modem1->Running)
        station.ModemForm().RbButton7Click();
    if (desk.Desk().AnyOpen())
        desk.AlarmsForm().ShowCentred(false);
    return true;
}

void StartUnattended(Station& station)
{
    std::string text;
    if (const char* value = std::getenv("KORVALEN_AUTOSTART"); value && *value) {
        text = value;
        // The password is not left for child processes to inherit.
        unsetenv("KORVALEN_AUTOSTART");
    }
    QTimer::singleShot(0, [&station, text] {
        if (!text.empty())
            AutoStart(station, text);
        ResumeAfterCrash(station);
    });
}

} // namespace kv
