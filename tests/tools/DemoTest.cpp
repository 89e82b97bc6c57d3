// The demo run on virtual time: reports with the devices' marker phrases on modem 1,
// alarm calls, and the ring-round answered on modem 2.
#include "tools/modemsim/Demo.h"
#include "tools/modemsim/DemoDevices.h"

#include <gtest/gtest.h>

#include <set>

using namespace kv::modemsim;

namespace {

int Count(const std::string& haystack, const std::string& needle)
{
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

TEST(Demo, AlarmPhraseCarriesItsLatinLetters)
{
    // Вним a ние Т PEB ОГА, with Latin a, P, E, B.
    EXPECT_EQ(demo_text::kAlarm, "\xD0\x92\xD0\xBD\xD0\xB8\xD0\xBC"
                                 "a"
                                 "\xD0\xBD\xD0\xB8\xD0\xB5 \xD0\xA2"
                                 "PEB"
                                 "\xD0\x9E\xD0\x93\xD0\x90");
}

TEST(Demo, DeviceTableIsConsistent)
{
    std::set<std::string_view> numbers;
    std::set<std::string_view> names;
    int silent = 0;
    for (const DemoDevice& device : kDemoDevices) {
        numbers.insert(device.number);
        names.insert(device.shortName);
        EXPECT_EQ(device.number.size(), 12u) << "the station reads 12 characters of a caller's number";
        silent += device.answers ? 0 : 1;
    }
    EXPECT_EQ(numbers.size(), std::size(kDemoDevices));
    EXPECT_EQ(names.size(), std::size(kDemoDevices));
    EXPECT_EQ(silent, 1);
}

TEST(Demo, DevicesReportAndCallOnModem1AndAnswerTheRingRoundOnModem2)
{
    SimModem reports;
    SimModem ringRound;
    std::vector<std::string> log;
    DemoScript demo(reports, &ringRound, 7, [&log](const std::string& line) { log.push_back(line); });
    Millis now = 0;
    demo.Start(now);

    std::string output;
    std::vector<StoredSms> received;
    for (; now < 3 * 3600 * 1000; now += 1000) {
        demo.Advance(now);
        reports.Advance(now);
        output += reports.TakeOutput(now);
        if (now % 5000 == 0) {
            // The station reads and deletes everything now and then; calls go unanswered.
            for (const StoredSms& sms : reports.Messages())
                received.push_back(sms);
            reports.Receive("AT+CMGD=1,4\r", now);
        }
    }

    ASSERT_GE(received.size(), 150u) << "one report every 20 to 60 s";
    EXPECT_LE(received.size(), 3u * 3600 / 20);
    const std::string_view markers[] = {demo_text::kArmed,          demo_text::kDisarmed,   demo_text::kAlarm,
                                        demo_text::kMotion,         demo_text::kExtraSensor, demo_text::kMainsLost,
                                        demo_text::kMainsRestored,  demo_text::kBatteryLow, demo_text::kTemperature};
    std::set<std::string_view> seen;
    for (const StoredSms& sms : received) {
        bool marked = false;
        for (const std::string_view marker : markers) {
            if (sms.text.find(marker) != std::string::npos) {
                marked = true;
                seen.insert(marker);
            }
        }
        EXPECT_TRUE(marked) << sms.text;
        EXPECT_NE(sms.number, kDemoDevices[5].number) << "the dead device reports nothing";
    }
    EXPECT_GE(seen.size(), 7u);

    const int calls = Count(output, "\r\nNO CARRIER\r\n");
    EXPECT_GE(calls, 1) << "alarm calls now and then";
    EXPECT_GE(Count(output, "\r\nRING\r\n"), calls * 6) << "an unanswered caller keeps ringing for 30 s";

    for (const DemoDevice& device : kDemoDevices) {
        ringRound.Receive("ATD" + std::string(device.number) + ";\r", now);
        std::string heard;
        Millis busyAt = -1;
        for (Millis t = now; t <= now + 25000; t += 10) {
            ringRound.Advance(t);
            heard += ringRound.TakeOutput(t);
            if (busyAt < 0 && heard.find("BUSY") != std::string::npos)
                busyAt = t - now;
        }
        if (device.answers) {
            EXPECT_GE(busyAt, 2000) << device.number;
            EXPECT_LE(busyAt, 4100) << device.number;
        } else {
            EXPECT_EQ(busyAt, -1) << device.number;
            ringRound.Receive("ATH\r", now + 25000);
        }
        now += 30000;
        ringRound.Advance(now);
        ringRound.TakeOutput(now);
    }
}

} // namespace
