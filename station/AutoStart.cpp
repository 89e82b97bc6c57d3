#include "station/AutoStart.h"

#include "modemsetup/ModemUnit.h"
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

void AutoStartFromEnvironment(Station& station)
{
    const char* value = std::getenv("KORVALEN_AUTOSTART");
    if (!value || !*value)
        return;
    // The password is not left for child processes to inherit.
    std::string text = value;
    unsetenv("KORVALEN_AUTOSTART");
    QTimer::singleShot(0, [&station, text] { AutoStart(station, text); });
}

} // namespace kv
