// The receiver's command line and how a signal ends it.
#include "core/Signals.h"
#include "data/Text.h"
#include "receiver/ReceiverOptions.h"
#include "timing/EventLoop.h"
#include "timing/UiThread.h"

#include <gtest/gtest.h>

#include <csignal>
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
