#pragma once
// What "config.ini" holds for the station's core: the two modems' ports and
// speeds, the balance request, escalation, supervision, the ring-round's
// failures before an alarm and the wait for a long report's parts. The modem
// window edits the same keys. Texts are code page 1251 bytes.
#include "data/IniFile.h"

#include <optional>
#include <string>
#include <string_view>

namespace kv::settings {

inline constexpr std::string_view kMainDevice = "MainDevice";
inline constexpr std::string_view kSecondDevice = "SecondDevice";
inline constexpr std::string_view kPhoneNumber = "PhoneNumber";
inline constexpr std::string_view kCPort = "CPort";
inline constexpr std::string_view kCPortBaudRate = "CPortBaudRate";
inline constexpr std::string_view kEscalation = "Escalation";
inline constexpr std::string_view kMinutes = "Minutes";
inline constexpr std::string_view kNumbers = "Numbers";
inline constexpr std::string_view kRing = "Ring";
inline constexpr std::string_view kFailuresToReport = "FailuresToReport";
inline constexpr std::string_view kSupervision = "Supervision";
inline constexpr std::string_view kSilentHours = "SilentHours";
inline constexpr std::string_view kMessages = "Messages";
inline constexpr std::string_view kMultipartWaitSeconds = "MultipartWaitSeconds";
inline constexpr std::string_view kReceiver = "Receiver";
inline constexpr std::string_view kBalanceHours = "BalanceHours";
// Not a speed of the list: a missing key gives 9600 baud.
inline constexpr std::string_view kDefaultBaudRate = "9200";
inline constexpr int kMaxFailuresToReport = 99;

} // namespace kv::settings

namespace kv {

struct StationSettings {
    std::string port1 = "Com1", speed1 = std::string(settings::kDefaultBaudRate);
    std::string port2 = "Com2", speed2 = std::string(settings::kDefaultBaudRate);
    std::string balanceNumber; // the USSD request
    std::string escalationMinutes = "0", escalationNumbers;
    std::string silentHours = "0";
    int failuresToReport; // kDefaultFailuresToReport
    int multipartWaitSeconds;
    // The receiver asks both modems' balance at its start and then every so
    // many hours; 0: never.
    double balanceHours = 24;
    StationSettings();
};

// A count of failed calls as typed: 1 to 99, or nothing.
std::optional<int> FailuresToReport(const std::string& text);
// What the file holds; what is missing or unreadable keeps its default.
StationSettings ReadStationSettings(const IniFile& ini);

} // namespace kv
