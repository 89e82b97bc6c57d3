#include "tools/modemsim/Family.h"

namespace kv::modemsim {
namespace {

constexpr StorageName kSim800Storages[] = {{"SM_P", Medium::Sim}, {"SM", Medium::Sim}};
constexpr StorageName kSimOnly[] = {{"SM", Medium::Sim}};
constexpr StorageName kSimAndPhone[] = {{"SM", Medium::Sim}, {"ME", Medium::Phone}};

constexpr std::string_view kSim800Noise[] = {"+CREG: 1", "Call Ready", "SMS Ready", "+CTZV: +12,0"};
constexpr std::string_view kHuaweiNoise[] = {"^RSSI: 14", "^RSSI: 19", "+CREG: 1"};
constexpr std::string_view kIndicatorNoise[] = {"+CIEV: 1,3", "+CIEV: 1,4", "+CREG: 1"};
constexpr std::string_view kRegistrationNoise[] = {"+CREG: 1", "+CTZV: +12,0", "+CIEV: 2,3"};

constexpr Family kFamilies[] = {
    {
        .name = "sim800",
        .storages = kSim800Storages, .mem1 = "SM_P", .mem2 = "SM_P", .mem3 = "SM_P", .simSize = 40, .phoneSize = 0,
        .emptyRead = EmptyRead::BareOk, .earlyReadMs = 0,
        .blanks = false, .emptyAlpha = EmptyAlpha::Quoted, .numberHex = true, .zoneUnpadded = false,
        .longYear = false, .listStatusHex = false,
        .cnmiTest = "(0-3),(0-3),(0,2),(0,1),(0,1)", .urcTiming = UrcTiming::AnyTime,
        .doubleEcho = false, .lineEnd = "\r\n", .bodyPadding = 0,
        .clccAlpha = false, .clccType161 = false, .clccNumberHex = false,
        .ussdBeforeOk = false, .ussdBlanks = true, .ussdDcs = 72, .ussdEndFirst = false, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Ucs2Hex,
        .dialOkWhenUp = false, .noAnswer = true,
        .noise = kSim800Noise,
        .dropsPartHeader = false,
    },
    {
        .name = "huawei",
        .storages = kSimAndPhone, .mem1 = "SM", .mem2 = "SM", .mem3 = "SM", .simSize = 10, .phoneSize = 20,
        .emptyRead = EmptyRead::Cms500, .earlyReadMs = 0,
        .blanks = false, .emptyAlpha = EmptyAlpha::Nothing, .numberHex = true, .zoneUnpadded = false,
        .longYear = false, .listStatusHex = false,
        .cnmiTest = "(0-2),(0-3),(0,2),(0-2),(0,1)", .urcTiming = UrcTiming::BeforeEcho,
        .doubleEcho = false, .lineEnd = "\r\n", .bodyPadding = 0,
        .clccAlpha = true, .clccType161 = false, .clccNumberHex = false,
        .ussdBeforeOk = false, .ussdBlanks = false, .ussdDcs = 72, .ussdEndFirst = false, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Plain,
        .dialOkWhenUp = false, .noAnswer = false,
        .noise = kHuaweiNoise,
        .dropsPartHeader = false,
    },
    {
        .name = "siemens",
        .storages = kSimOnly, .mem1 = "SM", .mem2 = "SM", .mem3 = "SM", .simSize = 50, .phoneSize = 0,
        .emptyRead = EmptyRead::ZeroHeader, .earlyReadMs = 150,
        .blanks = false, .emptyAlpha = EmptyAlpha::Nothing, .numberHex = false, .zoneUnpadded = true,
        .longYear = false, .listStatusHex = false,
        .cnmiTest = "(0-3),(0,1),(0,2,3),(0,2),(1)", .urcTiming = UrcTiming::AfterFinal,
        .doubleEcho = true, .lineEnd = "\r\n", .bodyPadding = 0,
        .clccAlpha = true, .clccType161 = false, .clccNumberHex = false,
        .ussdBeforeOk = false, .ussdBlanks = false, .ussdDcs = 72, .ussdEndFirst = true, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Either,
        .dialOkWhenUp = true, .noAnswer = true,
        .noise = kIndicatorNoise,
        .dropsPartHeader = false,
    },
    {
        .name = "quectel",
        .storages = kSimAndPhone, .mem1 = "SM", .mem2 = "SM", .mem3 = "SM", .simSize = 30, .phoneSize = 50,
        .emptyRead = EmptyRead::BareOk, .earlyReadMs = 0,
        .blanks = false, .emptyAlpha = EmptyAlpha::Quoted, .numberHex = true, .zoneUnpadded = false,
        .longYear = false, .listStatusHex = true,
        .cnmiTest = "(0-2),(0-3),(0,2),(0-2),(0,1)", .urcTiming = UrcTiming::AfterFinal,
        .doubleEcho = false, .lineEnd = "\r\n", .bodyPadding = 4,
        .clccAlpha = true, .clccType161 = false, .clccNumberHex = true,
        .ussdBeforeOk = true, .ussdBlanks = false, .ussdDcs = 15, .ussdEndFirst = false, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Either,
        .dialOkWhenUp = false, .noAnswer = true,
        .noise = kRegistrationNoise,
        .dropsPartHeader = false,
    },
    {
        .name = "wavecom",
        .storages = kSimOnly, .mem1 = "SM", .mem2 = "SM", .mem3 = "SM", .simSize = 20, .phoneSize = 0,
        .emptyRead = EmptyRead::Cms321, .earlyReadMs = 0,
        .blanks = true, .emptyAlpha = EmptyAlpha::Omitted, .numberHex = false, .zoneUnpadded = false,
        .longYear = true, .listStatusHex = false,
        .cnmiTest = "(0-3),(0-3),(0-3),(0-2),(0,1)", .urcTiming = UrcTiming::AnyTime,
        .doubleEcho = false, .lineEnd = "\r\r\n", .bodyPadding = 0,
        .clccAlpha = true, .clccType161 = true, .clccNumberHex = false,
        .ussdBeforeOk = true, .ussdBlanks = true, .ussdDcs = 72, .ussdEndFirst = false, .ussdBareLf = true,
        .ussdRequest = UssdRequest::Either,
        .dialOkWhenUp = false, .noAnswer = true,
        .noise = kRegistrationNoise,
        .dropsPartHeader = false,
    },
    {
        .name = "cinterion",
        .storages = kSimAndPhone, .mem1 = "ME", .mem2 = "ME", .mem3 = "SM", .simSize = 20, .phoneSize = 25,
        .emptyRead = EmptyRead::ZeroHeader, .earlyReadMs = 0,
        .blanks = false, .emptyAlpha = EmptyAlpha::Nothing, .numberHex = true, .zoneUnpadded = false,
        .longYear = false, .listStatusHex = false,
        .cnmiTest = "(0-3),(0,1),(0,2,3),(0,2),(1)", .urcTiming = UrcTiming::AfterFinal,
        .doubleEcho = false, .lineEnd = "\r\n", .bodyPadding = 0,
        .clccAlpha = true, .clccType161 = false, .clccNumberHex = true,
        .ussdBeforeOk = false, .ussdBlanks = false, .ussdDcs = 72, .ussdEndFirst = false, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Either,
        .dialOkWhenUp = true, .noAnswer = true,
        .noise = kIndicatorNoise,
        .dropsPartHeader = false,
    },
    {
        .name = "telit",
        .storages = kSimOnly, .mem1 = "SM", .mem2 = "SM", .mem3 = "SM", .simSize = 30, .phoneSize = 0,
        .emptyRead = EmptyRead::PlainError, .earlyReadMs = 0,
        .blanks = false, .emptyAlpha = EmptyAlpha::Quoted, .numberHex = true, .zoneUnpadded = false,
        .longYear = false, .listStatusHex = false,
        .cnmiTest = "(0-3),(0-3),(0,2),(0-2),(0,1)", .urcTiming = UrcTiming::AnyTime,
        .doubleEcho = false, .lineEnd = "\r\n", .bodyPadding = 0,
        .clccAlpha = true, .clccType161 = true, .clccNumberHex = false,
        .ussdBeforeOk = false, .ussdBlanks = false, .ussdDcs = 17, .ussdEndFirst = false, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Either,
        .dialOkWhenUp = false, .noAnswer = false,
        .noise = kRegistrationNoise,
        .dropsPartHeader = false,
    },
    {
        // An LTE module: bare OK for an empty index, indications at any time, and
        // the parts of a long message in text mode without their header.
        .name = "lte",
        .storages = kSimOnly, .mem1 = "SM", .mem2 = "SM", .mem3 = "SM", .simSize = 30, .phoneSize = 0,
        .emptyRead = EmptyRead::BareOk, .earlyReadMs = 0,
        .blanks = false, .emptyAlpha = EmptyAlpha::Quoted, .numberHex = true, .zoneUnpadded = false,
        .longYear = false, .listStatusHex = false,
        .cnmiTest = "(0-3),(0-3),(0-2),(0-2),(0,1)", .urcTiming = UrcTiming::AnyTime,
        .doubleEcho = false, .lineEnd = "\r\n", .bodyPadding = 0,
        .clccAlpha = true, .clccType161 = false, .clccNumberHex = false,
        .ussdBeforeOk = false, .ussdBlanks = true, .ussdDcs = 72, .ussdEndFirst = false, .ussdBareLf = false,
        .ussdRequest = UssdRequest::Either,
        .dialOkWhenUp = false, .noAnswer = true,
        .noise = kRegistrationNoise,
        .dropsPartHeader = true,
    },
};

} // namespace

std::span<const Family> Families() { return kFamilies; }

const Family& DefaultFamily() { return kFamilies[0]; }

const Family* FindFamily(std::string_view name)
{
    for (const Family& f : kFamilies)
        if (f.name == name)
            return &f;
    return nullptr;
}

std::string FamilyNames()
{
    std::string names;
    for (const Family& f : kFamilies)
        names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

} // namespace kv::modemsim
