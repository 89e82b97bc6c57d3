#include "codec/Classify.h"

#include "data/Text.h"

namespace kv {

using namespace kv::literals;

namespace {

bool Contains(std::string_view text, std::string_view marker) { return text.find(marker) != std::string_view::npos; }

struct InfoMarker {
    std::string_view phrase;
    std::uint8_t code;
};

// Order matters: a later marker overrides an earlier one.
const InfoMarker kInfoMarkers[] = {
    {"Сетевое питание отключено, система питается от АКБ"_cp, kInfoMainsOff},
    {"Сетевое питание системы восстановлено"_cp, kInfoMainsOn},
    {"Внимание, аккумулятор разряжен, напряжение на АКБ ниже 10 вольт"_cp, kInfoBatteryLow},
    {"Неверный номер IButton!"_cp, kInfoWrongKey},
    {"Датчик температуры не подключен"_cp, kInfoTemperature},
    {"Температура"_cp, kInfoTemperature},
    {"Вскрыт корпус датчика"_cp, kInfoWarning},
    {"Внимание Пожар!"_cp, kInfoWarning},
    {"Внимание-температура достигла установленного порога"_cp, kInfoTemperature},
};

} // namespace

std::uint8_t ClassifyGuardMessage(std::string_view text, const PlaySoundFn& play)
{
    std::uint8_t code = kNoChange;
    if (Contains(text, "Снято с охраны"_cp)) {
        code = kGuardDisarmed;
        if (play)
            play(Sound::Off);
    }
    if (Contains(text, "Поставлено на охрану"_cp)) {
        code = kGuardArmed;
        if (play)
            play(Sound::On);
    }
    // Alarms sound through the board until acknowledged, not here.
    if (Contains(text, kAlarmMarker) || Contains(text, "Внимание, сработал датчик движения"_cp)
        || Contains(text, "Внимание, сработал дополнительный датчик"_cp))
        code = kGuardAlarm;
    return code;
}

std::uint8_t ClassifyInfoMessage(std::string_view text)
{
    std::uint8_t code = kNoChange;
    for (const InfoMarker& m : kInfoMarkers) {
        // A fire or an opened case is never hidden behind the temperature
        // threshold tested after it: it is what the operator must see.
        if (Contains(text, m.phrase) && code != kInfoWarning)
            code = m.code;
    }
    return code;
}

std::string_view MessageStatus(std::uint8_t guardCode, std::uint8_t infoCode)
{
    switch (guardCode) {
    case kGuardDisarmed: return "Снято с охраны"_cp;
    case kGuardArmed: return "На охране"_cp;
    case kGuardAlarm: return "Тревога"_cp;
    default: break;
    }
    switch (infoCode) {
    case kInfoMainsOff:
    case kInfoMainsOn:
    case kInfoBatteryLow: return "ИнфоСМС"_cp;
    case kInfoWrongKey: return "Чужой ключ"_cp;
    case kInfoTemperature: return "Температурный режим"_cp;
    // A fire or an opened case is no normal state.
    case kInfoWarning: return "Внимание"_cp;
    default: return "Норма"_cp;
    }
}

} // namespace kv
