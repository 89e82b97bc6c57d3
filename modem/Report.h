#pragma once
// What a modem worker made of one report (an SMS) or one alarm call, typed:
// handed over to the station once, which journals it and feeds the board, the
// alarm desk and the device card from it. Texts are code page 1251 bytes.
#include "codec/Classify.h"
#include "data/Rgb.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

// The alarms the desk keeps open until handled. Stranger: an SMS from a
// number of no device. Silent: a device not heard for longer than its
// supervision time.
enum class AlarmKind { Intrusion, AlarmCall, Warning, RingRoundFailed, LinkLost, Stranger, Silent };

struct Report {
    enum class Source { Sms, Unreadable, Call };
    Source source = Source::Sms;
    std::string tel;       // the row's number: the sender, or modem 1's name for an unreadable SMS
    std::string shortName; // the sender's device; empty when the number is no device's
    std::uint8_t guard = kNoChange;
    std::uint8_t info = kNoChange;
    std::string status; // the journal row's status
    std::string event;  // the journal row's text
    // Technological lines that go with it, written before its row.
    std::vector<std::pair<std::string, Rgb>> techno;
};

// A readable SMS as the worker reports it: its text's guard code (when the
// text could be decoded; `play` sounds what the text announces) and
// notification code, the journal's status, "Новое сообщение:<text><note>".
Report SmsReport(const std::string& sender, const std::string& shortName, std::string_view text,
                 std::string_view note = {}, bool decoded = true, const PlaySoundFn& play = {});

// The alarm a report opens at the desk: an intrusion, a fire or an opened
// case, an alarm call, any SMS of a stranger; nothing for the rest.
std::optional<AlarmKind> AlarmOf(const Report& report);

} // namespace kv
