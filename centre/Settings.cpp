#include "centre/Settings.h"

#include "centre/Pg.h"
#include "centre/Utf8.h"
#include "data/Text.h"

namespace kv::centre {

namespace {

std::optional<std::string> ConnectionOf(const IniFile& ini)
{
    std::optional<std::string> connection = ini.Read(std::string(kDatabaseSection), std::string(kConnectionKey));
    if (!connection || TrimBlanks(*connection).empty())
        return std::nullopt;
    return connection;
}

} // namespace

std::optional<DatabaseSettings> ReadDatabaseSettings(const IniFile& ini)
{
    const std::string section(kDatabaseSection);
    const std::optional<std::string> connection = ConnectionOf(ini);
    if (!connection || !pg::Supported())
        return std::nullopt;
    DatabaseSettings s;
    s.connection = Utf8FromCp1251(TrimBlanks(*connection));
    const std::string station = ini.ReadString(section, std::string(kStationKey), {});
    s.station = TrimBlanks(station).empty() ? HostName() : Utf8FromCp1251(TrimBlanks(station));
    return s;
}

bool DatabaseUnsupported(const IniFile& ini) { return !pg::Supported() && ConnectionOf(ini); }

} // namespace kv::centre
