#pragma once
// How urgent each kind of alarm is: 1 is the most urgent. A monitoring centre
// handles fire before a break-in, a break-in before a device that went quiet,
// and a device before the station's own modem. The "[Priorities]" section of
// "config.ini" may set any kind to 1..9, by the kind's key.
#include "codec/Sound.h"
#include "modem/AlarmRows.h"
#include "modem/Report.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class IniFile;

inline constexpr std::string_view kPrioritiesSection = "Priorities";
inline constexpr int kLowestPriority = 9;

struct AlarmPriorities {
    // By AlarmKind.
    std::array<int, 7> of = {2, 3, 1, 4, 5, 6, 4};
    int Of(AlarmKind kind) const { return of[static_cast<std::size_t>(kind)]; }
};

// What the file sets; a value that is no whole number from 1 to 9 keeps its
// default and is told in `problems`, one line each.
AlarmPriorities ReadPriorities(const IniFile& ini, std::vector<std::string>& problems);

// The sound of the most urgent open alarm: fire and its like, the alarms of a
// break-in, and faults.
inline Sound PrioritySound(int priority)
{
    return priority <= 1 ? Sound::Urgent : priority <= 3 ? Sound::Alarm : Sound::Trouble;
}

} // namespace kv
