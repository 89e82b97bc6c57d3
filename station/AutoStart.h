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
// button is pressed, nothing more: whether the last run crashed is decided by
// the record alone, read before the modems start.
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

inline constexpr const char* kAutoStartVariable = "KORVALEN_AUTOSTART";

// The variable's text, taken out of the environment: removed from the C
// library's list and its bytes wiped in the process's environment block.
std::string TakeAutoStartVariable();

// Logs in and initialises the modems (unless they run) when the text is a
// valid login; the login's own message box reports a wrong password. Returns
// whether the operator is logged in afterwards. UI thread, main window shown.
bool AutoStart(Station& station, const std::string& text);

// The resume after a crash, when the record of an unclosed run was there as
// the station started; once. Returns whether it resumed. UI thread, main
// window shown.
bool ResumeAfterCrash(Station& station);

// Takes KORVALEN_AUTOSTART at once and queues for the first turn of the event
// loop: ResumeAfterCrash, then AutoStart with the variable's text when it is set.
void StartUnattended(Station& station);

} // namespace kv
