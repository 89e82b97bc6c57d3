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
        const std::uint8_t code = bytes[i] <= (guard ? kLastGuardCode : kLastInfoCode) ? bytes[i] : 0;
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

} // namespace kv
