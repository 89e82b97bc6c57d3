#pragma once
// Unattended start for process tests and demonstrations: with
// KORVALEN_AUTOSTART="user:password" in the environment, that operator logs in
// once the main window is up (the "Логин" row is written as for a login by
// hand) and the modem initialisation button is pressed. Unset or empty, the
// station starts as always and waits for an operator.
#include <string>

namespace kv {

class Station;

// user and password of "user:password" (split at the first colon), or
// nothing when the text holds no colon or no user. UTF-8, as the shell gives it.
struct AutoStartLogin {
    std::string user;
    std::string password;
};
bool ParseAutoStart(const std::string& text, AutoStartLogin& login);

// Logs in and initialises the modems when the text is a valid login; the
// login's own message box reports a wrong password. Returns whether the
// operator is logged in afterwards. UI thread, main window shown.
bool AutoStart(Station& station, const std::string& text);

// Queues AutoStart with the environment's KORVALEN_AUTOSTART for the first
// turn of the event loop; nothing when it is unset.
void AutoStartFromEnvironment(Station& station);

} // namespace kv
