#pragma once
// Starts that need nobody at the desk.
//
// After a crash: a run that ended without its close while modem 1 was being
// watched left the alarm desk's record beside the tables. The next start then
// initialises both modems by itself (the modem window's initialisation),
// journals "Возобновление работы после сбоя", puts the alarms that were open
// back on the list and monitors; the windows that need a login stay locked
// until an operator logs in, and open alarms sound meanwhile. A start after a
// clean close finds no record and waits for an operator as always.
//
// For process tests and demonstrations: with KORVALEN_AUTOSTART="user:password"
// in the environment, that operator logs in once the main window is up (the
// "Логин" row is written as for a login by hand) and the modem initialisation
// button is pressed.
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

// The resume after a crash, when the record of an unclosed run is there.
// Returns whether it resumed. UI thread, main window shown.
bool ResumeAfterCrash(Station& station);

// Queues for the first turn of the event loop: AutoStart with the
// environment's KORVALEN_AUTOSTART when it is set, then ResumeAfterCrash.
void StartUnattended(Station& station);

} // namespace kv
