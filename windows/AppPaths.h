#pragma once
// Files found beside the program: "config.ini", "user.ini", Sounds/, ICO/, Pictures/.
// (Table files are opened by bare name in the current directory instead.)
#include <QString>

#include <string>

namespace kv {

QString ProgramDir();
// Tests point the station at a folder of their own; empty restores the default.
void SetProgramDirForTests(const QString& dir);
// `relative` uses '/' ("Sounds/Alarm.wav").
QString ProgramFile(const QString& relative);

} // namespace kv
