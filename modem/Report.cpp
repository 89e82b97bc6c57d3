#include "modem/Report.h"

#include "modem/EventTexts.h"

namespace kv {

Report SmsReport(const std::string& sender, const std::string& shortName, std::string_view text,
                 std::string_view note, bool decoded, const PlaySoundFn& play)
{
    Report report;
    report.source = Report::Source::Sms;
    report.tel = sender;
    report.shortName = shortName;
    if (decoded)
        report.guard = ClassifyGuardMessage(text, play);
    report.info = ClassifyInfoMessage(text);
    report.status = std::string(MessageStatus(report.guard, report.info));
    report.event = std::string(events::kNewMessage);
    report.event.append(text).append(note);
    return report;
}

std::optional<AlarmKind> AlarmOf(const Report& report)
{
    switch (report.source) {
    case Report::Source::Call: return AlarmKind::AlarmCall;
    case Report::Source::Unreadable: return std::nullopt;
    case Report::Source::Sms: break;
    }
    // Anyone may text the station's number: whatever a stranger says is shown.
    if (report.shortName.empty())
        return AlarmKind::Stranger;
    if (report.guard == kGuardAlarm)
        return AlarmKind::Intrusion;
    if (report.info == kInfoWarning)
        return AlarmKind::Warning;
    return std::nullopt;
}

} // namespace kv
