#include "centre/Settings.h"

#include "centre/Utf8.h"
#include "data/Text.h"

#include <unistd.h>

namespace kv::centre {

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

std::optional<DatabaseSettings> ReadDatabaseSettings(const IniFile& ini)
{
    const std::string section(kDatabaseSection);
    const std::optional<std::string> connection = ini.Read(section, std::string(kConnectionKey));
    if (!connection || TrimBlanks(*connection).empty())
        return std::nullopt;
    DatabaseSettings s;
    s.connection = Utf8FromCp1251(TrimBlanks(*connection));
    const std::string station = ini.ReadString(section, std::string(kStationKey), {});
    s.station = TrimBlanks(station).empty() ? HostName() : Utf8FromCp1251(TrimBlanks(station));
    return s;
}

} // namespace kv::centre
