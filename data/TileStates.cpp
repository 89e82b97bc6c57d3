#include "data/TileStates.h"

#include "data/AtomicFile.h"
#include "data/FilePlatform.h"
#include "timing/DateTime.h"

#include <algorithm>
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

// Up to `limit` bytes of a file written within the age rule; Missing when it
// cannot be opened, Stale when older.
TileRestore ReadFresh(const std::string& fileName, double now, std::size_t limit, std::string& bytes)
{
    const int fd = files::Open(fileName, O_RDONLY);
    if (fd < 0)
        return TileRestore::Missing;
    std::time_t written = 0;
    int writtenMs = 0;
    if (files::ModifiedAt(fd, written, writtenMs) && now - LocalDateTimeOf(written, writtenMs) > kTileStatesMaxAgeDays) {
        ::close(fd);
        return TileRestore::Stale;
    }
    char chunk[8192];
    while (bytes.size() < limit) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return TileRestore::Restored;
}

// Through a temporary file renamed over the old one.
TileSave WriteWhole(const std::string& fileName, const void* bytes, std::size_t size)
{
    AtomicFileWriter file(fileName);
    if (!file.Open())
        return TileSave::CannotCreate;
    if (!file.Write(bytes, size) || !file.Commit())
        return TileSave::WriteFailed;
    return TileSave::Saved;
}

} // namespace

TileRestore RestoreTileStates(TileStates& states, const std::string& fileName, double now,
                              const std::function<void(const std::string&)>& warn)
{
    auto tell = [&warn] {
        if (warn)
            warn(std::string(kTileStatesEmpty));
    };
    std::string bytes;
    switch (ReadFresh(fileName, now, 2 * TileStates::kTiles, bytes)) {
    case TileRestore::Missing: tell(); return TileRestore::Missing;
    case TileRestore::Stale: return TileRestore::Stale;
    default: break;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool guard = i < TileStates::kTiles;
        const std::uint8_t code = KnownOr0(static_cast<std::uint8_t>(bytes[i]), guard ? kLastGuardCode : kLastInfoCode);
        (guard ? states.GuardStates[i] : states.InfoStates[i - TileStates::kTiles])
            .store(code, std::memory_order_relaxed);
    }
    if (bytes.size() < 2 * TileStates::kTiles) {
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
    return WriteWhole(fileName, bytes, sizeof bytes);
}

std::vector<NamedTileState> RestoreNamedTileStates(const std::string& fileName, double now)
{
    std::vector<NamedTileState> states;
    std::string bytes;
    if (ReadFresh(fileName, now, std::string::npos, bytes) != TileRestore::Restored ||
        bytes.compare(0, sizeof kPagesMagic, kPagesMagic, sizeof kPagesMagic) != 0)
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
    return WriteWhole(fileName, bytes.data(), bytes.size());
}

} // namespace kv
