// The receiver's command line.
#include "data/Text.h"
#include "receiver/ReceiverOptions.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace kv::test
