// The receiver's command line, how a signal ends it, and a centre it cannot reach.
#include "centre/Pg.h"
#include "centre/Settings.h"
#include "core/FolderLock.h"
#include "core/Signals.h"
#include "core/TechnoLog.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "receiver/Receiver.h"
#include "receiver/ReceiverOptions.h"
#include "tests/support/TempDir.h"
#include "timing/EventLoop.h"
#include "timing/UiThread.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

namespace kv::test {
namespace {

using namespace kv::literals;

struct ArgsCase {
    const char* name;
    std::vector<std::string> args;
    std::string data, config;
    bool help;
    std::string errorStart; // empty: understood
};

class ReceiverArgs : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ReceiverArgs, AreUnderstoodOrRefusedWithTheReason)
{
    const ArgsCase& c = GetParam();
    const ReceiverOptions o = ParseReceiverArgs(c.args);
    EXPECT_EQ(o.error.substr(0, c.errorStart.size()), c.errorStart);
    EXPECT_EQ(o.error.empty(), c.errorStart.empty()) << o.error;
    if (!c.errorStart.empty())
        return;
    EXPECT_EQ(o.data, c.data);
    EXPECT_EQ(o.config, c.config);
    EXPECT_EQ(o.help, c.help);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReceiverArgs,
    ::testing::Values(
        ArgsCase{"data", {"--data", "/var/lib/korvalen"}, "/var/lib/korvalen", "", false, ""},
        ArgsCase{"both_any_order", {"--config", "/etc/k.ini", "--data", "d"}, "d", "/etc/k.ini", false, ""},
        ArgsCase{"last_wins", {"--data", "a", "--data", "b"}, "b", "", false, ""},
        ArgsCase{"help_alone", {"--help"}, "", "", true, ""},
        ArgsCase{"help_short", {"-h", "--data", "x"}, "x", "", true, ""},
        ArgsCase{"nothing", {}, "", "", false, Str("Не указана папка данных"_cp)},
        ArgsCase{"config_only", {"--config", "c.ini"}, "", "", false, Str("Не указана папка данных"_cp)},
        ArgsCase{"data_without_path", {"--data"}, "", "", false, Str("После --data нужен путь"_cp)},
        ArgsCase{"empty_path", {"--data", ""}, "", "", false, Str("После --data нужен путь"_cp)},
        ArgsCase{"unknown", {"--data", "d", "--port", "x"}, "", "", false, Str("Неизвестный параметр: --port"_cp)},
        ArgsCase{"bare_word", {"d"}, "", "", false, Str("Неизвестный параметр: d"_cp)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReceiverUsage, NamesBothOptions)
{
    const std::string usage = ReceiverUsage();
    EXPECT_NE(usage.find("--data"), std::string::npos);
    EXPECT_NE(usage.find("--config"), std::string::npos);
}

// A build without the database's client (Windows) takes no centre up: the
// receiver says why and keeps to its files; a connection fails with the reason.
TEST(ReceiverCentre, IsTakenUpOnlyWhereTheBuildHasTheDatabase)
{
    TempDir dir;
    WriteFileBytes("plain.ini", "[MainDevice]\r\nCPort=COM7\r\n");
    WriteFileBytes("config.ini", "[Database]\r\nConnection=host=db1 dbname=korvalen\r\nStation=R1\r\n");
    EXPECT_FALSE(centre::ReadDatabaseSettings(IniFile("plain.ini")));
    EXPECT_FALSE(centre::DatabaseUnsupported(IniFile("plain.ini")));
    const bool supported = pg::Supported();
    EXPECT_EQ(centre::ReadDatabaseSettings(IniFile("config.ini")).has_value(), supported);
    EXPECT_EQ(centre::DatabaseUnsupported(IniFile("config.ini")), !supported);
    if (supported)
        return;
    pg::Connection db("host=db1");
    try {
        db.Connect();
        ADD_FAILURE() << "connected without a client";
    } catch (const pg::Error& e) {
        EXPECT_NE(std::string(e.what()).find("не поддерживается"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.Socket(), -1);

    std::ostringstream err;
    {
        Receiver receiver("config.ini", err);
        EXPECT_EQ(receiver.Core().Centre(), nullptr);
    }
    EXPECT_NE(err.str().find(Cp1251ToUtf8(Str("База данных центра не поддерживается этой сборкой"_cp))),
              std::string::npos)
        << err.str();
}

// The data folder has one holder, and the technological journal is bytes on
// every system (no CR before each LF) and rotates at its limit.
TEST(ReceiverFiles, OneHolderOfTheFolderAndATechnoLogOfWholeLines)
{
    TempDir dir;
    ASSERT_TRUE(LockWorkingFolder());
    EXPECT_FALSE(LockWorkingFolder()) << "a second holder is refused";

    const double when = 46000.5;
    const std::string line = TTechnoLog::LineText(when, "AT+CSQ", kNavy) + "\n";
    TTechnoLog log("techno.log", 3 * line.size(), 1);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(log.Append(when, "AT+CSQ", kNavy), TTechnoLog::Outcome::Written);
    EXPECT_EQ(ReadFileBytes("techno.log.1"), line + line + line);
    EXPECT_EQ(ReadFileBytes("techno.log"), line);
    EXPECT_FALSE(std::filesystem::exists("techno.log.2"));
}

#ifndef _WIN32
// A stop signal reaches the loop as a call on its thread, also while it sleeps
// with no timer at all, and a second one closes once more.
TEST(ReceiverSignals, EndTheLoopFromItsOwnThread)
{
    ResetShutdownForTests();
    EventLoop loop;
    loop.InstallAsUiThread();
    const auto loopThread = std::this_thread::get_id();
    int closes = 0;
    CloseOnSignals([&] {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        ++closes;
        loop.Quit(closes);
    });
    for (const int s : {SIGTERM, SIGINT}) {
        std::thread sender([s] { std::raise(s); });
        EXPECT_EQ(loop.Run(), s == SIGTERM ? 1 : 2);
        sender.join();
    }
    EXPECT_EQ(closes, 2);
}
#endif

} // namespace
} // namespace kv::test
