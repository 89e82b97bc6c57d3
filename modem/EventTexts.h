#pragma once
// Event texts the modem workers write into the journals, shared with the
// station parts that react to them (the alarm desk), so that the two never drift.
#include "data/Text.h"

#include <string_view>

namespace kv::events {

using namespace kv::literals;

inline constexpr std::string_view kModem1Tel = "GSM-модем №1"_cp;
inline constexpr std::string_view kModem2Tel = "GSM-модем №2"_cp;
// Technological lines both parts of modem 1's worker write.
inline constexpr std::string_view kLinePassFailed = "Ошибка E001 - обработка данных модема..."_cp;
inline constexpr std::string_view kLineAtError = "Ошибка AT - команды"_cp;
// A received SMS: this prefix, then the message text.
inline constexpr std::string_view kNewMessage = "Новое сообщение:"_cp;
inline constexpr std::string_view kCallAlarm = "\"ТРЕВОГА\" - входящий вызов с телефона"_cp;
inline constexpr std::string_view kLinkRestored = "Соединение с GSM-модулем восстановлено"_cp;
inline constexpr std::string_view kRingRoundFailed = "Дозвон завершен не успешно"_cp;
inline constexpr std::string_view kRingRoundAnswered = "Дозвон завершен успешно"_cp;

} // namespace kv::events
