#include "data/TileStates.h"

#include "data/AtomicFile.h"
#include "data/FilePlatform.h"
#include "timing/DateTime.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr std::uint8_t kLastGuardCode = 3;
constexpr std::uint8_t kLastInfoCode = 9;
// "KVTP", a version byte, then per tile: name length, name, guard, info.
constexpr char kPagesMagic[] = {'K', 'V', 'T', 'P', 1};

std::uint8_t KnownOr0(std::uint8_t code, std::uint8_t last) { return code <= last ? code : 0; }

} // namespace

TileRestore RestoreTileStates(TileStates& states, const std::string& fileName, double now,
                              const std::function<void(const std::string&)>& warn)
{
    auto tell = [&warn] {
        if (warn)
            warn(std::string(kTileStatesEmpty));
    };
    const int fd = files::Open(fileName, O_RDONLY);
    if (fd < 0) {
        tell();
        return TileRestore::Missing;
    }
    std::time_t written = 0;
    int writtenMs = 0;
    if (files::ModifiedAt(fd, written, writtenMs) && now - LocalDateTimeOf(written, writtenMs) > kTileStatesMaxAgeDays) {
        ::close(fd);
        return TileRestore::Stale;
    }
    std::uint8_t bytes[2 * TileStates::kTiles];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    for (std::size_t i = 0; i < got; ++i) {
        const bool guard = i < TileStates::kTiles;
        const std::uint8_t code = KnownOr0(bytes[i], guard ? kLastGuardCode : kLastInfoCode);
        (guard ? states.GuardStates[i] : states.InfoStates[i - TileStates::kTiles])
            .store(code, std::memory_order_relaxed);
    }
    if (got < sizeof bytes) {
        tell();
        return TileRestore::Short;
    }
    return TileRestore::Restored;
}

TileSave SaveTileStates(const TileStates& states, const std::string& fileName)
{
    std::uint8_t bytes[2 * TileStates::kTiles];
    for (int i = 0; i < TileStates::kTiles; ++i) {
        bytes[i] = states.GuardStates[static_cast<std::size_t>(i)].load(std::memory_order_relaxed);
        bytes[TileStates::kTiles + i] = states.InfoStates[static_cast<std::size_t>(i)].load(std::memory_order_relaxed);
    }
    AtomicFileWriter file(fileName);
    if (!file.Open())
        return TileSave::CannotCreate;
    if (!file.Write(bytes, sizeof bytes) || !file.Commit())
        return TileSave::WriteFailed;
    return TileSave::Saved;
}

std::vector<NamedTileState> RestoreNamedTileStates(const std::string& fileName, double now)
{
    std::vector<NamedTileState> states;
    const int fd = files::Open(fileName, O_RDONLY);
    if (fd < 0)
        return states;
    std::time_t written = 0;
    int writtenMs = 0;
    if (files::ModifiedAt(fd, written, writtenMs) && now - LocalDateTimeOf(written, writtenMs) > kTileStatesMaxAgeDays) {
        ::close(fd);
        return states;
    }
    std::string bytes;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (bytes.compare(0, sizeof kPagesMagic, kPagesMagic, sizeof kPagesMagic) != 0)
        return states;
    std::size_t at = sizeof kPagesMagic;
    while (at < bytes.size()) {
        const std::size_t length = static_cast<std::uint8_t>(bytes[at]);
        if (bytes.size() - at < 1 + length + 2)
            break;
        NamedTileState state;
        state.shortName = bytes.substr(at + 1, length);
        state.guard = KnownOr0(static_cast<std::uint8_t>(bytes[at + 1 + length]), kLastGuardCode);
        state.info = KnownOr0(static_cast<std::uint8_t>(bytes[at + 2 + length]), kLastInfoCode);
        states.push_back(std::move(state));
        at += 1 + length + 2;
    }
    return states;
}

TileSave SaveNamedTileStates(const std::vector<NamedTileState>& states, const std::string& fileName)
{
    std::string bytes(kPagesMagic, sizeof kPagesMagic);
    for (const NamedTileState& s : states) {
        // A name longer than a length byte cannot be a tile's text: left out.
        if (s.shortName.empty() || s.shortName.size() > 255)
            continue;
        bytes += static_cast<char>(s.shortName.size());
        bytes += s.shortName;
        bytes += static_cast<char>(s.guard);
        bytes += static_cast<char>(s.info);
    }
    AtomicFileWriter file(fileName);
    if (!file.Open())
        return TileSave::CannotCreate;
    if (!file.Write(bytes.data(), bytes.size()) || !file.Commit())
        return TileSave::WriteFailed;
    return TileSave::Saved;
}

} // namespace kv
