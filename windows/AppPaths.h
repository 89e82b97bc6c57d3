#pragma once
// Files found beside the program: "config.ini", "user.ini", Sounds/, ICO/, Pictures/.
// (Table files are opened by bare name in the current directory instead.)
// An installed station (the program in <prefix>/bin, its sounds and pictures
// in <prefix>/share/korvalen) keeps them in the user's XDG folders instead:
// the INI files in $XDG_CONFIG_HOME/korvalen, the tables in
// $XDG_DATA_HOME/korvalen, which becomes its current directory.
#include <QString>

#include <functional>
#include <string>

namespace kv {

struct StationFolders {
    bool installed = false;
    QString assets; // Sounds/, ICO/, Pictures/
    QString config; // "config.ini", "user.ini"
    QString data;   // the tables; empty: the current directory
};
// `env` gives an environment variable, empty when unset.
StationFolders FindStationFolders(const QString& programDir, const std::function<QString(const char*)>& env);
// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
QString XdgConfigHome(const std::function<QString(const char*)>& env);
QString XdgConfigHome();

// The folders of this process (tests: the program folder they set).
StationFolders Folders();
// An installed station creates its folders (0700) and works in its data
// folder. The station's files already there, in the settings' folder and the
// current directory, are narrowed to 0600. False, with the reason in `error`
// (station text), when a folder cannot be made.
bool EnterStationFolders(const StationFolders& folders, std::string& error);
bool EnterStationFolders(std::string& error);
// Narrows the station's own files in `folder` (tables and their logs,
// techno.log*, INI files, korvalen.running) to 0600.
void KeepStationFilesPrivate(const std::string& folder);

// The folder of the sounds and pictures.
QString ProgramDir();
// Tests point the station at a folder of their own; empty restores the default.
void SetProgramDirForTests(const QString& dir);
// `relative` uses '/' ("Sounds/Alarm.wav").
QString ProgramFile(const QString& relative);
// "config.ini" or "user.ini" in the folder of the settings.
QString ConfigFile(const QString& name);

} // namespace kv
