#include "modem/AlarmRows.h"

#include "codec/Classify.h"
#include "data/Status.h"
#include "modem/EventTexts.h"

namespace kv {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

} // namespace

std::optional<AlarmKind> AlarmOfRow(bool ringJournal, std::string_view status, std::string_view tel,
                                    std::string_view event, std::string_view shortName)
{
    // The ring-round journal's status is the call's; only its last word counts.
    if (ringJournal) {
        if (event == events::kRingRoundFailed)
            return AlarmKind::RingRoundFailed;
        return std::nullopt;
    }
    if (status == status::kHandling || status == status::kUnhandled)
        return std::nullopt;
    if (StartsWith(event, events::kNewMessage)) {
        if (tel == events::kModem1Tel)
            return std::nullopt; // an SMS that could not be read
        if (TrimBlanks(shortName).empty())
            return AlarmKind::Stranger; // whatever it says
        if (status == status::kAlarm)
            return AlarmKind::Intrusion;
        if (status == status::kAttention)
            return AlarmKind::Warning;
        // A guard report that also tells a fire or an opened case shows the
        // guard state, and is an alarm all the same.
        if ((status == status::kArmed || status == status::kDisarmed) &&
            ClassifyInfoMessage(event.substr(events::kNewMessage.size())) == kInfoWarning)
            return AlarmKind::Warning;
        return std::nullopt;
    }
    if (status == status::kAlarm && event == events::kCallAlarm)
        return AlarmKind::AlarmCall;
    if (status == status::kOffline) {
        if (StartsWith(event, kSilentEvent))
            return AlarmKind::Silent;
        if (event == kLinkLostEvent && tel == events::kModem1Tel)
            return AlarmKind::LinkLost;
    }
    return std::nullopt;
}

} // namespace kv
