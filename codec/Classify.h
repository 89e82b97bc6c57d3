#pragma once
// What a device's SMS report means: marker phrases found anywhere in the decoded
// text give a guard code and an information code for the device's tile, and from
// both the status of the journal row.
#include "codec/Sound.h"

#include <cstdint>
#include <string_view>

namespace kv {

// Tile codes. kNoChange leaves a tile as it is.
inline constexpr std::uint8_t kGuardDisarmed = 1;
inline constexpr std::uint8_t kGuardArmed = 2;
inline constexpr std::uint8_t kGuardAlarm = 3;
inline constexpr std::uint8_t kInfoMainsOff = 4;
inline constexpr std::uint8_t kInfoMainsOn = 5;
inline constexpr std::uint8_t kInfoBatteryLow = 6;
inline constexpr std::uint8_t kInfoWrongKey = 7;
inline constexpr std::uint8_t kInfoTemperature = 8;
inline constexpr std::uint8_t kInfoWarning = 9; // case opened, fire, ring-round failed
inline constexpr std::uint8_t kNoChange = 238;

// The alarm phrase exactly as the devices send it: Latin a, P, E, B inside the
// Cyrillic words. The all-Cyrillic spelling is a different phrase.
inline constexpr std::string_view kAlarmMarker{"\xC2\xED\xE8\xEC\x61\xED\xE8\xE5\x20\xD2\x50\x45\x42\xCE\xC3\xC0", 16};

// 1, 2, 3 or kNoChange; the last marker found wins. Starts the disarm and arm
// sounds of the markers it finds, in that order (the later one cuts the earlier).
std::uint8_t ClassifyGuardMessage(std::string_view text, const PlaySoundFn& play);
// 4 to 9 or kNoChange; the last marker found wins, except that nothing wins
// over a fire or an opened case (9).
std::uint8_t ClassifyInfoMessage(std::string_view text);
// The journal status: the guard code decides when there is one.
std::string_view MessageStatus(std::uint8_t guardCode, std::uint8_t infoCode);

} // namespace kv
