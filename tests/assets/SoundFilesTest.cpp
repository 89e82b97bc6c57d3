// The station's sounds, as the build left them beside the executable.
#include "AssetFiles.h"
#include "assets/AssetNames.h"
#include "codec/Sound.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kv::assets;
using kv::test::Wav;

Wav LoadWav(std::string_view name)
{
    const std::string bytes = kv::test::ReadFileBytes(kv::test::AssetPath(name).toStdString());
    std::string error;
    const auto wav = kv::test::ParseWav(bytes, error);
    EXPECT_TRUE(wav.has_value()) << name << ": " << (bytes.empty() ? "missing or empty" : error);
    return wav.value_or(Wav{});
}

// Mean frequency of samples [from, to) counted from zero crossings: enough to
// tell a higher note from a lower one.
double Frequency(const Wav& w, double fromMs, double toMs)
{
    const auto a = static_cast<std::size_t>(fromMs * w.sampleRate / 1000);
    const auto b = std::min(w.samples.size(), static_cast<std::size_t>(toMs * w.sampleRate / 1000));
    int crossings = 0;
    for (std::size_t i = a + 1; i < b; ++i)
        if ((w.samples[i - 1] < 0) != (w.samples[i] < 0))
            ++crossings;
    return crossings / 2.0 / ((b - a) / static_cast<double>(w.sampleRate));
}

int Peak(const Wav& w)
{
    int peak = 0;
    for (std::int16_t s : w.samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

TEST(SoundFiles, EveryStationSoundIsMono16BitPcmWithConsistentHeader)
{
    for (std::string_view name : kSounds) {
        SCOPED_TRACE(std::string(name));
        const Wav w = LoadWav(name);
        EXPECT_EQ(w.format, 1);
        EXPECT_EQ(w.channels, 1);
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.sampleRate, 22050u);
        EXPECT_EQ(w.byteRate, w.sampleRate * w.channels * w.bits / 8);
        EXPECT_EQ(w.blockAlign, w.channels * w.bits / 8);
    }
}

TEST(SoundFiles, LengthsSuitTheirUse)
{
    struct Expect {
        std::string_view name;
        double minMs;
        double maxMs;
    };
    // The board restarts the alarm every 500 ms: a longer one would be cut off
    // audibly at every restart.
    const Expect expected[] = {{kSoundAlarm, 300, 450},
                               {kSoundOn, 300, 500},
                               {kSoundOff, 300, 500},
                               {kSoundSmsInfo, 150, 350},
                               {kSoundUrgent, 300, 450},
                               {kSoundTrouble, 300, 450}};
    for (const Expect& e : expected) {
        SCOPED_TRACE(std::string(e.name));
        const double ms = LoadWav(e.name).Milliseconds();
        EXPECT_GE(ms, e.minMs);
        EXPECT_LE(ms, e.maxMs);
    }
}

TEST(SoundFiles, LevelsAreModerateAndEndsFadeWithoutAClick)
{
    for (std::string_view name : kSounds) {
        SCOPED_TRACE(std::string(name));
        const Wav w = LoadWav(name);
        ASSERT_GT(w.samples.size(), 100u);
        const int peak = Peak(w);
        EXPECT_LT(peak, 32767 * 9 / 10) << "too loud or clipped";
        EXPECT_GT(peak, 32767 / 8) << "silent or too quiet";
        EXPECT_LT(std::abs(w.samples.front()), 330) << "starts with a click";
        EXPECT_LT(std::abs(w.samples.back()), 330) << "ends with a click";
        double energy = 0;
        for (std::int16_t s : w.samples)
            energy += double(s) * s;
        const double rms = std::sqrt(energy / w.samples.size());
        EXPECT_GT(rms, 32767 / 40.0) << "mostly silence";
    }
}

TEST(SoundFiles, ArmingChimeRisesAndDisarmingChimeFalls)
{
    const Wav on = LoadWav(kSoundOn);
    const Wav off = LoadWav(kSoundOff);
    ASSERT_GE(on.Milliseconds(), 300);
    ASSERT_GE(off.Milliseconds(), 300);
    const double onFirst = Frequency(on, 10, 110);
    const double onLast = Frequency(on, on.Milliseconds() - 110, on.Milliseconds() - 10);
    const double offFirst = Frequency(off, 10, 110);
    const double offLast = Frequency(off, off.Milliseconds() - 110, off.Milliseconds() - 10);
    EXPECT_GT(onLast, onFirst * 1.2) << onFirst << " Hz then " << onLast << " Hz";
    EXPECT_LT(offLast, offFirst / 1.2) << offFirst << " Hz then " << offLast << " Hz";
}

TEST(SoundFiles, AlarmSwitchesBetweenTwoTonesSeveralTimes)
{
    const Wav w = LoadWav(kSoundAlarm);
    ASSERT_GE(w.Milliseconds(), 300);
    std::vector<double> f;
    for (double t = 10; t + 40 <= w.Milliseconds() - 10; t += 40)
        f.push_back(Frequency(w, t, t + 40));
    const auto [lo, hi] = std::minmax_element(f.begin(), f.end());
    ASSERT_GT(*hi, *lo * 1.15) << "a single tone, not a siren";
    const double middle = (*hi + *lo) / 2;
    int changes = 0;
    for (std::size_t i = 1; i < f.size(); ++i)
        if ((f[i - 1] > middle) != (f[i] > middle))
            ++changes;
    EXPECT_GE(changes, 2);
}

TEST(SoundFiles, ThePlayersFileNamesAreTheGeneratedOnes)
{
    for (kv::Sound s : {kv::Sound::Alarm, kv::Sound::On, kv::Sound::Off, kv::Sound::SmsInfo}) {
        const std::string path = std::string(kSoundsFolder) + "/" + kv::SoundFileName(s);
        EXPECT_NE(std::find(kSounds.begin(), kSounds.end(), path), kSounds.end()) << path;
    }
}

TEST(SoundFiles, WavReaderRejectsDamagedFiles)
{
    // The checks above are only as good as the reader: it must see through
    // a file whose header lies.
    const std::string good = kv::test::ReadFileBytes(kv::test::AssetPath(kSoundOn).toStdString());
    ASSERT_GT(good.size(), 44u);
    std::string error;
    ASSERT_TRUE(kv::test::ParseWav(good, error).has_value()) << error;
    EXPECT_FALSE(kv::test::ParseWav(good.substr(0, good.size() - 2), error).has_value());
    std::string wrongData = good;
    wrongData[40] = static_cast<char>(wrongData[40] + 4);
    EXPECT_FALSE(kv::test::ParseWav(wrongData, error).has_value());
    EXPECT_FALSE(kv::test::ParseWav("RIFF", error).has_value());
}

} // namespace
