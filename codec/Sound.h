#pragma once
// The station's four sounds, files in "Sounds" beside the executable.
#include <functional>

namespace kv {

enum class Sound { Alarm, On, Off, SmsInfo };

inline const char* SoundFileName(Sound s)
{
    switch (s) {
    case Sound::Alarm: return "Alarm.wav";
    case Sound::On: return "on.wav";
    case Sound::Off: return "off.wav";
    case Sound::SmsInfo: return "smsinfo.wav";
    }
    return "Alarm.wav";
}

// Starts a sound asynchronously; a new sound stops the one playing.
using PlaySoundFn = std::function<void(Sound)>;

} // namespace kv
