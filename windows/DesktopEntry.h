#pragma once
// The station starting with the desktop: an XDG autostart entry for the
// current user, "$XDG_CONFIG_HOME/autostart/korvalen.desktop".
#include <QString>

#include <string>

namespace kv {

QString AutostartEntryPath();
// The entry exists and is not switched off (Hidden=true).
bool AutostartEnabled();
// Writes the entry for this program, started in the current folder (where
// its tables are), or removes it. False, with the reason as station text.
bool SetAutostart(bool enabled, std::string& error);

// The entry's text for `program` started in `workingDir`.
QString AutostartEntryText(const QString& program, const QString& workingDir);

} // namespace kv
