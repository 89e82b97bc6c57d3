#pragma once
// Where the generated assets are, and readers the asset tests share.
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::test {

// The station's folder: KORVALEN_BIN_DIR when set, else this executable's folder.
QString BinDir();
QString AssetPath(std::string_view name);
QImage LoadAsset(std::string_view name);

struct Wav {
    std::uint16_t format = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
    std::vector<std::int16_t> samples;

    double Milliseconds() const { return samples.size() * 1000.0 / sampleRate; }
};

// Parses a 16-bit PCM WAV file, checking every size field against the bytes
// present; on failure returns nothing and says why in error.
std::optional<Wav> ParseWav(const std::string& bytes, std::string& error);

} // namespace kv::test
