#pragma once
// The station's sounds, files in "Sounds" beside the executable.
#include <functional>

namespace kv {

// Urgent, Alarm and Trouble sound the open alarms by their priority.
enum class Sound { Alarm, On, Off, SmsInfo, Urgent, Trouble };

inline const char* SoundFileName(Sound s)
{
    switch (s) {
    case Sound::Alarm: return "Alarm.wav";
    case Sound::On: return "on.wav";
    case Sound::Off: return "off.wav";
    case Sound::SmsInfo: return "smsinfo.wav";
    case Sound::Urgent: return "urgent.wav";
    case Sound::Trouble: return "trouble.wav";
    }
    return "Alarm.wav";
}

// Starts a sound asynchronously; a new sound stops the one playing.
using PlaySoundFn = std::function<void(Sound)>;

} // namespace kv
