#include "data/TileStates.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

using kv::TileRestore;
using kv::TileStates;

std::string FileOfCodes(std::uint8_t guard, std::uint8_t info)
{
    return std::string(900, static_cast<char>(guard)) + std::string(900, static_cast<char>(info));
}

// Sets the file's modification time `minutes` before now and returns now as
// the station's local date-time.
double AgeFile(const char* name, int minutes)
{
    const double now = kv::LocalNow();
    std::filesystem::last_write_time(
        name, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(minutes));
    return now;
}

TEST(TileStates, RestoredOnlyWhenWrittenWithinFifteenMinutes)
{
    kv::test::TempDir dir;
    kv::test::WriteFileBytes("t5.bin", FileOfCodes(2, 7));
    std::vector<std::string> warnings;
    auto warn = [&](const std::string& w) { warnings.push_back(w); };

    TileStates stale;
    EXPECT_EQ(kv::RestoreTileStates(stale, "t5.bin", AgeFile("t5.bin", 16), warn), TileRestore::Stale);
    EXPECT_EQ(stale.GuardStates[0].load(), 0);
    EXPECT_TRUE(warnings.empty());

    TileStates fresh;
    EXPECT_EQ(kv::RestoreTileStates(fresh, "t5.bin", AgeFile("t5.bin", 14), warn), TileRestore::Restored);
    EXPECT_EQ(fresh.GuardStates[TileStates::Index(29, 29)].load(), 2);
    EXPECT_EQ(fresh.InfoStates[TileStates::Index(0, 0)].load(), 7);
    EXPECT_EQ(fresh.AlarmMarks[0].load(), 0);
    EXPECT_TRUE(warnings.empty());
}

TEST(TileStates, MissingOrShortFileWarnsAndKeepsWhatWasRead)
{
    kv::test::TempDir dir;
    std::vector<std::string> warnings;
    auto warn = [&](const std::string& w) { warnings.push_back(w); };
    TileStates s;
    EXPECT_EQ(kv::RestoreTileStates(s, "t5.bin", kv::LocalNow(), warn), TileRestore::Missing);
    EXPECT_EQ(warnings, std::vector<std::string>{std::string(kv::kTileStatesEmpty)});

    // 900 guard codes and 100 info codes, one of them no known code.
    std::string part = FileOfCodes(1, 5).substr(0, 1000);
    part[950] = static_cast<char>(238);
    kv::test::WriteFileBytes("t5.bin", part);
    EXPECT_EQ(kv::RestoreTileStates(s, "t5.bin", kv::LocalNow(), warn), TileRestore::Short);
    EXPECT_EQ(warnings.size(), 2u);
    EXPECT_EQ(s.GuardStates[899].load(), 1);
    EXPECT_EQ(s.InfoStates[99].load(), 5);
    EXPECT_EQ(s.InfoStates[50].load(), 0);
    EXPECT_EQ(s.InfoStates[100].load(), 0);
}

TEST(TileStates, SaveWritesBothArraysAndAFailedSaveKeepsTheOldFile)
{
    kv::test::TempDir dir;
    TileStates s;
    s.GuardStates[TileStates::Index(3, 4)] = 3;
    s.InfoStates[TileStates::Index(0, 1)] = 9;
    s.AlarmMarks[5] = 1;
    ASSERT_EQ(kv::SaveTileStates(s, "t5.bin"), kv::TileSave::Saved);
    std::string want(1800, '\0');
    want[3 * 30 + 4] = 3;
    want[900 + 1] = 9;
    EXPECT_EQ(kv::test::ReadFileBytes("t5.bin"), want);

    TileStates back;
    EXPECT_EQ(kv::RestoreTileStates(back, "t5.bin", kv::LocalNow(), nullptr), TileRestore::Restored);
    EXPECT_EQ(back.GuardStates[TileStates::Index(3, 4)].load(), 3);

    EXPECT_EQ(kv::SaveTileStates(s, "no/such/dir/t5.bin"), kv::TileSave::CannotCreate);

#ifndef _WIN32
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old;
    limit.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    s.GuardStates[0] = 1;
    const kv::TileSave result = kv::SaveTileStates(s, "t5.bin");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, kv::TileSave::WriteFailed);
    EXPECT_EQ(kv::test::ReadFileBytes("t5.bin"), want);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 1);
#endif
}

} // namespace

namespace {

TEST(TileStates, PagesPastTheFirstComeBackByNameAndADamagedFileGivesWhatItHeldWhole)
{
    kv::test::TempDir dir;
    const std::vector<kv::NamedTileState> saved = {
        {"Sklad", 3, 9}, {"Ofis", 2, 0}, {std::string(255, 'x'), 1, 4}, {"", 2, 2}, {std::string(256, 'y'), 2, 2}};
    ASSERT_EQ(kv::SaveNamedTileStates(saved, kv::kTilePagesFile), kv::TileSave::Saved);
    const std::string bytes = kv::test::ReadFileBytes(kv::kTilePagesFile);
    // The nameless and the over-long are not kept.
    const std::vector<kv::NamedTileState> kept(saved.begin(), saved.begin() + 3);
    EXPECT_EQ(kv::RestoreNamedTileStates(kv::kTilePagesFile, kv::LocalNow()), kept);
    EXPECT_TRUE(kv::RestoreNamedTileStates(kv::kTilePagesFile, AgeFile(kv::kTilePagesFile, 16)).empty()) << "stale";
    EXPECT_TRUE(kv::RestoreNamedTileStates("missing.bin", kv::LocalNow()).empty());

    struct Case {
        const char* what;
        std::string bytes;
        std::vector<kv::NamedTileState> expected;
    };
    const std::string head = bytes.substr(0, 5);
    const Case cases[] = {
        {"cut inside the second tile", bytes.substr(0, 5 + 8 + 3), {saved[0]}},
        {"cut before the first tile's codes", bytes.substr(0, 5 + 6), {}},
        {"no known codes read as nothing", head + "\x01" "A" "\x07\x0A", {{"A", 0, 0}}},
        {"another file's bytes", "KVTX\x01\x01" "A\x01\x01", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        kv::test::WriteFileBytes(kv::kTilePagesFile, c.bytes);
        EXPECT_EQ(kv::RestoreNamedTileStates(kv::kTilePagesFile, kv::LocalNow()), c.expected) << c.what;
    }
}

} // namespace
