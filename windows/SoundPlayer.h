#pragma once
// One player for the whole station, on the UI thread: a new sound stops the one
// playing; a missing file gives the platform's beep.
#include "codec/Sound.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // `path` is a full file path. UI thread only. A playback that fails, or
    // one that works again, is told through ReportSoundOutput.
    virtual void Play(const QString& path) = 0;
    // Whether there is a sound output to play on, now.
    virtual bool OutputWorks() { return true; }
};

ISoundPlayer& SoundPlayer();
// Installs `player` (nullptr restores the real one). Not owned.
void SetSoundPlayer(ISoundPlayer* player);

// Silence is an alarm: whether the station can be heard. The player reports
// (UI thread); the one listener (the main window's banner) hears of changes
// only, with the reason (station text) when sound stopped working.
void ReportSoundOutput(bool works, const std::string& why = {});
void SetSoundOutputListener(std::function<void(bool works, const std::string& why)> listener);
// Asks the player whether it has an output (at start); the listener hears
// of a missing one whatever was known before.
void CheckSoundOutput();

// Path of a station sound beside the program ("Sounds/Alarm.wav").
QString SoundPath(Sound sound);
// Plays a station sound; safe from any thread (posted to the UI thread, in order).
void PlayStationSound(Sound sound);

// Test double: lists the file names started, in order. With `failing` set
// it has no output: every sound fails, as a PC without a sound device does.
class RecordingSoundPlayer final : public ISoundPlayer {
public:
    void Play(const QString& path) override;
    bool OutputWorks() override { return !failing; }
    std::vector<QString> played;
    bool failing = false;
    int Count(Sound sound) const;
};

} // namespace kv
