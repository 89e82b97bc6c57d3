#include "core/Settings.h"

#include "codec/Number.h"
#include "data/Text.h"
#include "modem/DialThread.h"
#include "modem/SmsInbox.h"

namespace kv {

using namespace settings;

namespace {

std::string S(std::string_view v) { return std::string(v); }

} // namespace

StationSettings::StationSettings()
    : failuresToReport(kDefaultFailuresToReport),
      multipartWaitSeconds(static_cast<int>(SmsInbox::kDefaultMultipartWait.count()))
{
}

std::optional<int> FailuresToReport(const std::string& text)
{
    const std::optional<std::int64_t> n = TextToInt(text);
    if (!n || *n < 1 || *n > kMaxFailuresToReport)
        return std::nullopt;
    return static_cast<int>(*n);
}

StationSettings ReadStationSettings(const IniFile& ini)
{
    StationSettings s;
    if (!ini.Readable())
        return s;
    s.balanceNumber = ini.ReadString(S(kMainDevice), S(kPhoneNumber), {});
    s.port1 = ini.ReadString(S(kMainDevice), S(kCPort), s.port1);
    s.speed1 = ini.ReadString(S(kMainDevice), S(kCPortBaudRate), s.speed1);
    s.port2 = ini.ReadString(S(kSecondDevice), S(kCPort), s.port2);
    s.speed2 = ini.ReadString(S(kSecondDevice), S(kCPortBaudRate), s.speed2);
    s.escalationMinutes = ini.ReadString(S(kEscalation), S(kMinutes), s.escalationMinutes);
    s.escalationNumbers = ini.ReadString(S(kEscalation), S(kNumbers), {});
    s.silentHours = ini.ReadString(S(kSupervision), S(kSilentHours), s.silentHours);
    s.failuresToReport =
        FailuresToReport(ini.ReadString(S(kRing), S(kFailuresToReport), {})).value_or(kDefaultFailuresToReport);
    const std::optional<double> hours = TextToFloat(ini.ReadString(S(kReceiver), S(kBalanceHours), "24"));
    // 24 days at most: beyond that a slip, and the timer's milliseconds would overflow.
    s.balanceHours = hours && *hours >= 0 && *hours <= 24 * 24 ? *hours : 24;
    s.multipartWaitSeconds =
        static_cast<int>(MultipartWaitFrom(ini.ReadString(S(kMessages), S(kMultipartWaitSeconds), {})).count());
    return s;
}

} // namespace kv
