#pragma once
// One player for the whole station, on the UI thread: a new sound stops the one
// playing; a missing file gives the platform's beep.
#include "codec/Sound.h"

#include <QString>

#include <memory>
#include <vector>

namespace kv {

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // `path` is a full file path. UI thread only.
    virtual void Play(const QString& path) = 0;
};

ISoundPlayer& SoundPlayer();
// Installs `player` (nullptr restores the real one). Not owned.
void SetSoundPlayer(ISoundPlayer* player);

// Path of a station sound beside the program ("Sounds/Alarm.wav").
QString SoundPath(Sound sound);
// Plays a station sound; safe from any thread (posted to the UI thread, in order).
void PlayStationSound(Sound sound);

// Test double: lists the file names started, in order.
class RecordingSoundPlayer final : public ISoundPlayer {
public:
    void Play(const QString& path) override { played.push_back(path); }
    std::vector<QString> played;
    int Count(Sound sound) const;
};

} // namespace kv
