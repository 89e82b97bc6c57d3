#include "AssetFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdlib>
#include <cstring>

namespace kv::test {

QString BinDir()
{
    const char* dir = std::getenv("KORVALEN_BIN_DIR");
    if (dir && *dir)
        return QString::fromLocal8Bit(dir);
    // The test executables are built into the station's folder too.
    return QCoreApplication::applicationDirPath();
}

QString AssetPath(std::string_view name)
{
    return QDir(BinDir()).filePath(QString::fromLatin1(name.data(), name.size()));
}

QImage LoadAsset(std::string_view name)
{
    return QImage(AssetPath(name));
}

namespace {

std::uint32_t Le(const std::string& b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

} // namespace

std::optional<Wav> ParseWav(const std::string& b, std::string& error)
{
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
        error = "no RIFF/WAVE header";
        return std::nullopt;
    }
    if (Le(b, 4, 4) != b.size() - 8) {
        error = "RIFF size " + std::to_string(Le(b, 4, 4)) + " but " + std::to_string(b.size() - 8) +
                " bytes follow";
        return std::nullopt;
    }
    Wav wav;
    bool haveFormat = false;
    bool haveData = false;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id = b.substr(at, 4);
        const std::uint32_t size = Le(b, at + 4, 4);
        at += 8;
        if (size > b.size() - at) {
            error = "chunk '" + id + "' runs past the end of the file";
            return std::nullopt;
        }
        if (id == "fmt ") {
            if (size < 16) {
                error = "short fmt chunk";
                return std::nullopt;
            }
            wav.format = static_cast<std::uint16_t>(Le(b, at, 2));
            wav.channels = static_cast<std::uint16_t>(Le(b, at + 2, 2));
            wav.sampleRate = Le(b, at + 4, 4);
            wav.byteRate = Le(b, at + 8, 4);
            wav.blockAlign = static_cast<std::uint16_t>(Le(b, at + 12, 2));
            wav.bits = static_cast<std::uint16_t>(Le(b, at + 14, 2));
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || wav.bits != 16 || size % 2 != 0) {
                error = "data chunk without a 16-bit format before it";
                return std::nullopt;
            }
            wav.samples.resize(size / 2);
            for (std::size_t i = 0; i < wav.samples.size(); ++i)
                wav.samples[i] = static_cast<std::int16_t>(Le(b, at + 2 * i, 2));
            haveData = true;
        }
        at += size + (size & 1);
    }
    if (at != b.size() || !haveFormat || !haveData) {
        error = "chunks do not add up to the file, or fmt/data missing";
        return std::nullopt;
    }
    return wav;
}

} // namespace kv::test
