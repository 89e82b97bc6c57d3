#pragma once
// "config.ini" [Database]: where the centre's database is and what this
// station is called there. Without the section (or with an empty Connection)
// the station keeps to its files and nothing of the centre runs.
#include "data/IniFile.h"

#include <optional>
#include <string>
#include <string_view>

namespace kv::centre {

inline constexpr std::string_view kDatabaseSection = "Database";
inline constexpr std::string_view kConnectionKey = "Connection";
inline constexpr std::string_view kStationKey = "Station";

struct DatabaseSettings {
    std::string connection; // a libpq connection string, UTF-8
    std::string station;    // unique among the centre's stations, UTF-8
};

// The station's name defaults to the host's, which is unique in most centres.
// None in a build without the database's client: the station keeps to its files.
std::optional<DatabaseSettings> ReadDatabaseSettings(const IniFile& ini);
// A centre is named, but this build cannot reach one (the operator is told).
bool DatabaseUnsupported(const IniFile& ini);

std::string HostName();

} // namespace kv::centre
