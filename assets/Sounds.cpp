#include "assets/Sounds.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <numbers>
#include <stdexcept>

namespace kv::assets::gen {
namespace {

using Signal = std::vector<double>;

constexpr double kTwoPi = 2.0 * std::numbers::pi;

Signal Silence(double seconds)
{
    return Signal(static_cast<std::size_t>(std::lround(seconds * kSampleRate)), 0.0);
}

// Linear ramps at both ends: a sound that starts or stops off zero clicks.
void Fade(Signal& s, double inSeconds, double outSeconds)
{
    const double n = static_cast<double>(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double left = (n - 1.0 - static_cast<double>(i)) / kSampleRate;
        s[i] *= std::min({1.0, t / inSeconds, left / outSeconds});
    }
}

// One struck note: quick attack, exponential decay, short release at its end.
// Harmonics are relative amplitudes of the 2nd, 3rd... partials.
void AddNote(Signal& s, double start, double length, double freq, double amp, double decay,
             std::initializer_list<double> harmonics)
{
    const auto first = static_cast<std::size_t>(std::lround(start * kSampleRate));
    const auto count = static_cast<std::size_t>(std::lround(length * kSampleRate));
    for (std::size_t k = 0; k < count && first + k < s.size(); ++k) {
        const double t = static_cast<double>(k) / kSampleRate;
        const double env = std::min({1.0, t / 0.004, (length - t) / 0.03}) * std::exp(-t / decay);
        double v = std::sin(kTwoPi * freq * t);
        int partial = 2;
        for (double h : harmonics)
            v += h * std::sin(kTwoPi * freq * partial++ * t);
        s[first + k] += amp * env * v;
    }
}

Pcm ToPcm(Signal s, double peak)
{
    double max = 0.0;
    for (double v : s)
        max = std::max(max, std::abs(v));
    if (max <= 0.0)
        throw std::logic_error("silent sound");
    Pcm out;
    out.reserve(s.size());
    for (double v : s)
        out.push_back(static_cast<std::int16_t>(std::lround(v / max * peak * 32767.0)));
    return out;
}

} // namespace

Pcm AlarmSound()
{
    // Four 105 ms halves of a high-low siren; the frequency glides over 4 ms at
    // each change and the phase runs on, so the switch does not click.
    constexpr double kSegment = 0.105;
    constexpr double kGlide = 0.004;
    constexpr double kHigh = 1040.0;
    constexpr double kLow = 780.0;
    Signal s = Silence(4 * kSegment);
    double phase = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const int segment = static_cast<int>(t / kSegment);
        const double into = t - segment * kSegment;
        const double target = segment % 2 == 0 ? kHigh : kLow;
        const double previous = segment % 2 == 0 ? kLow : kHigh;
        const double f = segment > 0 && into < kGlide
                             ? previous + (target - previous) * into / kGlide
                             : target;
        phase += kTwoPi * f / kSampleRate;
        // Odd partials give the hard edge of a siren without aliasing.
        s[i] = std::sin(phase) + 0.28 * std::sin(3 * phase) + 0.1 * std::sin(5 * phase);
    }
    Fade(s, 0.006, 0.025);
    return ToPcm(std::move(s), 0.6);
}

Pcm ArmSound()
{
    Signal s = Silence(0.40);
    AddNote(s, 0.00, 0.22, 659.26, 1.0, 0.16, {0.25, 0.08});
    AddNote(s, 0.15, 0.25, 880.00, 1.0, 0.16, {0.25, 0.08});
    Fade(s, 0.003, 0.02);
    return ToPcm(std::move(s), 0.5);
}

Pcm DisarmSound()
{
    Signal s = Silence(0.40);
    AddNote(s, 0.00, 0.22, 880.00, 1.0, 0.16, {0.25, 0.08});
    AddNote(s, 0.15, 0.25, 659.26, 1.0, 0.16, {0.25, 0.08});
    Fade(s, 0.003, 0.02);
    return ToPcm(std::move(s), 0.5);
}

Pcm SmsInfoSound()
{
    // A soft sine that slides up a little as it starts, like a drop.
    Signal s = Silence(0.25);
    double phase = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double f = 1180.0 + 220.0 * std::min(1.0, t / 0.04);
        phase += kTwoPi * f / kSampleRate;
        s[i] = std::sin(phase) * std::exp(-t / 0.07);
    }
    Fade(s, 0.008, 0.03);
    return ToPcm(std::move(s), 0.4);
}

Pcm UrgentSound()
{
    // Three fast upward whoops, 130 ms each: unmistakably not the intrusion siren.
    constexpr double kWhoop = 0.13;
    Signal s = Silence(3 * kWhoop);
    double phase = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double into = t - static_cast<int>(t / kWhoop) * kWhoop;
        const double f = 700.0 + 900.0 * into / kWhoop;
        phase += kTwoPi * f / kSampleRate;
        // Each whoop swells in and out, so the jump back to 700 Hz is silent.
        const double swell = std::min(1.0, std::min(into, kWhoop - into) / 0.012);
        s[i] = swell * (std::sin(phase) + 0.25 * std::sin(3 * phase));
    }
    Fade(s, 0.006, 0.025);
    return ToPcm(std::move(s), 0.6);
}

Pcm TroubleSound()
{
    // Two square-ish low beeps: a fault to look at, not a break-in.
    Signal s = Silence(0.40);
    AddNote(s, 0.00, 0.15, 440.0, 1.0, 0.5, {0.0, 0.3, 0.0, 0.12});
    AddNote(s, 0.20, 0.15, 440.0, 1.0, 0.5, {0.0, 0.3, 0.0, 0.12});
    Fade(s, 0.003, 0.02);
    return ToPcm(std::move(s), 0.5);
}

std::vector<std::uint8_t> EncodeWav(const Pcm& samples, int sampleRate)
{
    constexpr std::uint32_t kChannels = 1;
    constexpr std::uint32_t kBits = 16;
    constexpr std::size_t kHeader = 44;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    std::vector<std::uint8_t> out(kHeader + dataBytes);
    std::size_t at = 0;
    auto tag = [&](const char (&t)[5]) {
        for (int i = 0; i < 4; ++i)
            out[at++] = static_cast<std::uint8_t>(t[i]);
    };
    // RIFF is little-endian whatever the machine is.
    auto u16 = [&](std::uint32_t v) {
        out[at++] = static_cast<std::uint8_t>(v & 0xFF);
        out[at++] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    tag("RIFF");
    u32(36 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1); // PCM
    u16(kChannels);
    u32(static_cast<std::uint32_t>(sampleRate));
    u32(static_cast<std::uint32_t>(sampleRate) * kChannels * kBits / 8);
    u16(kChannels * kBits / 8);
    u16(kBits);
    tag("data");
    u32(dataBytes);
    for (std::int16_t v : samples)
        u16(static_cast<std::uint16_t>(v));
    return out;
}

} // namespace kv::assets::gen
