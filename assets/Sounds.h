#pragma once
// The station's four sounds, synthesised, and a WAV (RIFF, PCM) encoder.
#include <cstdint>
#include <vector>

namespace kv::assets::gen {

inline constexpr int kSampleRate = 22050;

using Pcm = std::vector<std::int16_t>;

Pcm AlarmSound();   // two-tone siren burst
Pcm ArmSound();     // rising two-note chime
Pcm DisarmSound();  // falling two-note chime
Pcm SmsInfoSound(); // soft notification blip
Pcm UrgentSound();  // fast whooping siren: fire, a case opened
Pcm TroubleSound(); // two low beeps: a fault rather than an intrusion

// A complete 16-bit mono PCM WAV file.
std::vector<std::uint8_t> EncodeWav(const Pcm& samples, int sampleRate = kSampleRate);

} // namespace kv::assets::gen
