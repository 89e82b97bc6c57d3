#pragma once
// Which journal rows open an alarm, from the row alone: the shift report and
// the centre both read alarms back from rows the station wrote, so they must
// agree on them with each other and with the desk that opened them live.
// What depends on earlier rows (a stranger's number already open, a failed
// ring-round merged into an open one) is the reader's part, not this one's.
// Texts are code page 1251 bytes, as in the journals.
#include "data/Text.h"
#include "modem/Report.h"

#include <array>
#include <optional>
#include <string_view>

namespace kv {

// Rows the alarm desk writes when it opens the alarm itself.
inline constexpr std::string_view kLinkLostEvent = "Потеряна связь с GSM-модулем"_cp;
inline constexpr std::string_view kSilentEvent = "Нет связи с объектом"_cp;

// The key of each kind in "[Priorities]" and in the centre's alarms, in AlarmKind order.
inline constexpr std::array<std::string_view, 7> kPriorityKeys = {
    "Intrusion", "AlarmCall", "Fire", "RingRoundFailed", "LinkLost", "Stranger", "Silent"};

inline std::string_view AlarmKindKey(AlarmKind kind) { return kPriorityKeys[static_cast<std::size_t>(kind)]; }
// The kind of a key; nothing for a key of no kind.
inline std::optional<AlarmKind> AlarmKindOfKey(std::string_view key)
{
    for (std::size_t k = 0; k < kPriorityKeys.size(); ++k)
        if (kPriorityKeys[k] == key)
            return static_cast<AlarmKind>(k);
    return std::nullopt;
}

// `ringJournal`: the row is the ring-round journal's (t6.bin), else the main
// one's (t3.bin). `shortName` blank: the number is no device's.
std::optional<AlarmKind> AlarmOfRow(bool ringJournal, std::string_view status, std::string_view tel,
                                    std::string_view event, std::string_view shortName);

} // namespace kv
