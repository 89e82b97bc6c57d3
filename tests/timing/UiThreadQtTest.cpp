// The UI thread behind Qt: its event loop serves the hand-overs, and the
// windows' date and time formats follow Qt's locale data.
#include "timing/DateTime.h"
#include "timing/UiThread.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(HandOver, QueuedCallsRunFromTheEventLoop)
{
    kv::ResetShutdownForTests();
    std::atomic<int> count{0};
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i)
            kv::PostToUi([&] { ++count; });
    });
    worker.join();
    const auto start = std::chrono::steady_clock::now();
    while (count < 10 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(count.load(), 10);
}

// The windows follow the desktop's locale; files never do.
TEST(DateTime, WindowsShowTheLocalesShortDateAndLongTimeWithoutTheZone)
{
    struct Case {
        const char* locale;
        const char* dateTime;
        const char* time;
    };
    const Case cases[] = {
        {"ru_RU", "07.12.2026 14:05:09", "14:05:09"},
        {"en_US", "12/7/26 2:05:09 PM", "2:05:09 PM"},
        {"de_DE", "07.12.26 14:05:09", "14:05:09"},
        {"C", "07.12.2026 14:05:09", "14:05:09"},
        {"", "07.12.2026 14:05:09", "14:05:09"},
    };
    const double value = kv::EncodeDateTime({2026, 12, 7, 14, 5, 9, 0});
    for (const Case& c : cases) {
        kv::SetDateTimeFormatsOf(c.locale);
        EXPECT_EQ(kv::FormatDateTime(value), c.dateTime) << c.locale;
        EXPECT_EQ(kv::FormatTime(value), c.time) << c.locale;
        EXPECT_EQ(kv::FixedDateTimeText(value), "07.12.2026 14:05:09") << c.locale;
        EXPECT_EQ(kv::FixedTimeText(value), "14:05:09") << c.locale;
    }
    kv::SetDateTimeFormatsOf("");
}

} // namespace
