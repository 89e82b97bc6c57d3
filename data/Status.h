#pragma once
// The texts of the journals' Status field, each with its icon in the main
// window's image list and the text colour of its journal rows. Looked up byte
// for byte: no trimming, case-sensitive.
#include "data/Rgb.h"
#include "data/Text.h"

#include <span>
#include <string_view>

namespace kv {

namespace status {
inline constexpr std::string_view kAlarm = "Тревога"_cp;
inline constexpr std::string_view kArmed = "На охране"_cp;
inline constexpr std::string_view kDisarmed = "Снято с охраны"_cp;
inline constexpr std::string_view kInfoSms = "ИнфоСМС"_cp;
inline constexpr std::string_view kForeignKey = "Чужой ключ"_cp;
inline constexpr std::string_view kTemperature = "Температурный режим"_cp;
inline constexpr std::string_view kNormal = "Норма"_cp;
inline constexpr std::string_view kAttention = "Внимание"_cp;
inline constexpr std::string_view kOnline = "На связи"_cp;
inline constexpr std::string_view kOffline = "Нет связи"_cp;
inline constexpr std::string_view kBalance = "Баланс"_cp;
inline constexpr std::string_view kSmsSent = "Сообщение отправлено"_cp;
inline constexpr std::string_view kLogin = "Логин"_cp;
inline constexpr std::string_view kSmsFailed = "Неудачная отправка СМС"_cp;
// An alarm of the open-alarms list handled by an operator, or left unhandled.
inline constexpr std::string_view kHandling = "Обработка"_cp;
// An alarm still open when its operator left (a logout, the station's end).
inline constexpr std::string_view kUnhandled = "Не обработано"_cp;
} // namespace status

// A row's text colour: its own, or whatever base colour the grid draws with.
struct RowColour {
    bool isBase = true;
    Rgb rgb{};
    static constexpr RowColour Base() { return {}; }
    static constexpr RowColour Of(Rgb c) { return {false, c}; }
    friend constexpr bool operator==(RowColour, RowColour) = default;
};

struct StatusEntry {
    std::string_view text;
    int icon;            // index into the 20 x 20 image list; -1: no icon
    RowColour colour;
};

std::span<const StatusEntry> StatusVocabulary();
// nullptr for any text outside the vocabulary (the empty text included).
const StatusEntry* FindStatus(std::string_view text);
int StatusIcon(std::string_view text);
RowColour StatusRowColour(std::string_view text);

} // namespace kv
