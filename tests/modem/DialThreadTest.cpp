// The ring-round worker driven pass by pass on virtual time.
#include "data/Text.h"
#include "modem/DialThread.h"
#include "tests/support/CallLog.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

#include <memory>

namespace kv::test {
namespace {

using namespace kv::literals;

std::string S(std::string_view s) { return std::string(s); }

const std::string kNum1 = "+79110000001";
const std::string kNum2 = "+79110000002";
const std::string kNum3 = "+79110000003";
const std::string kSignal = "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n";

class DialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        modem.Running = true;
        port.DeliverTo([this](const std::string& bytes) { modem.AppendReceived(bytes); });
        host.AddDevice(kNum1, "Obj1");
        host.AddDevice(kNum2, "Obj2");
        host.AddDevice(kNum3, "Obj3");
    }
    void Start(const std::vector<DialDevice>& devices)
    {
        // Last, so that a test's own signal answers come first.
        port.Always("AT+CSQ\r", kSignal);
        schedule.Rebuild(devices, 5, 7, clock.MonotonicMs());
        worker = std::make_unique<TDialThread>(modem, port, host, clock, schedule, state);
    }
    // The device rejects every call 3 s after dialling.
    void Busy(const std::string& number)
    {
        port.Always(DialCommand(number), std::vector<FakePort::Piece>{{0, DialCommand(number) + "\r\n"},
                                                                       {3000, "\r\nBUSY\r\n"}});
    }
    void Silent(const std::string& number) { port.Always(DialCommand(number), DialCommand(number) + "\r\n"); }
    // The device's row in the journal for its failed call `attempt` of `of`.
    static EventRow NoAnswer(const std::string& number, int attempt, int of = 7)
    {
        return EventRow{S("Нет связи"_cp), number,
                        S("Нет ответа, попытка "_cp) + std::to_string(attempt) + S(" из "_cp) + std::to_string(of)};
    }
    static EventRow Final(const std::string& number)
    {
        return EventRow{S("Нет связи"_cp), number, S("Дозвон завершен не успешно"_cp)};
    }
    std::vector<EventRow> DialEventsOf(const std::string& number) const
    {
        std::vector<EventRow> out;
        for (const EventRow& row : host.DialEvents())
            if (row.tel == number)
                out.push_back(row);
        return out;
    }
    void RunUntil(std::uint64_t ms)
    {
        while (clock.NowMs() < ms)
            worker->Pass();
    }
    std::vector<std::uint64_t> TimesOf(const std::string& text) const
    {
        std::vector<std::uint64_t> out;
        for (const LogEntry& e : log.Entries())
            if (e.text == text)
                out.push_back(e.ms);
        return out;
    }
    static std::string Dialled(const std::string& number) { return "sent " + DialCommand(number); }
    static std::string DialCommand(const std::string& number) { return "ATD" + number + ";\r"; }
    static std::string Success(const std::string& number, int attempt)
    {
        return "techno green " + S("Дозвон завершен УСПЕШНО. Телефон:"_cp) + number + S(". Попытка: "_cp)
               + std::to_string(attempt);
    }
    static std::string Failure(const std::string& number, int attempt)
    {
        return "techno red " + S("Дозвон завершен НЕ УДАЧНО. Телефон:"_cp) + number + S(". Попытка: "_cp)
               + std::to_string(attempt);
    }
    ::testing::AssertionResult InOrder(const std::vector<std::string>& expected) const
    {
        const std::vector<std::string> all = log.Texts();
        std::size_t at = 0;
        for (const std::string& want : expected) {
            while (at < all.size() && all[at] != want)
                ++at;
            if (at == all.size())
                return ::testing::AssertionFailure() << "missing, or out of order: " << want;
            ++at;
        }
        return ::testing::AssertionSuccess();
    }

    TestClock clock;
    CallLog log{&clock};
    FakePort port{&clock, &log};
    RecordingHost host{&log};
    TModem modem;
    DialSchedule schedule;
    DialState state;
    std::unique_ptr<TDialThread> worker;
};

TEST_F(DialTest, OneMinuteDeviceIsCalledOnceAMinuteFromOneMinuteAfterTheStart)
{
    Busy(kNum1);
    Start({{"Obj1", true, "1"}});
    RunUntil(210000);
    const std::vector<std::uint64_t> calls = TimesOf(Dialled(kNum1));
    ASSERT_EQ(calls.size(), 3u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_GE(calls[i], 60000 * (i + 1));
        EXPECT_LE(calls[i], 60000 * (i + 1) + 1500) << "a signal poll may come first";
    }
    EXPECT_EQ(host.DialEvents(),
              std::vector<EventRow>(3, EventRow{S("На связи"_cp), kNum1, S("Дозвон завершен успешно"_cp)}));
    EXPECT_EQ(log.Count(Success(kNum1, 1)), 3u);
    EXPECT_TRUE(InOrder({"dialstatus " + S("Статус дозвона: идет дозвон"_cp), "dialnumber " + S("Дозвон: "_cp) + kNum1,
                         Dialled(kNum1), "dialstatus " + S("Статус дозвона: дозвон завершен успешно"_cp)}));
    EXPECT_EQ(log.Count("sent ATH\r"), 0u) << "the device's rejection ended the call";
}

// The call ends as soon as the modem says how it ended; the 25 s deadline
// only when it says nothing (or only half a line).
struct CallEnding {
    const char* name;
    std::vector<FakePort::Piece> reply; // to the dial command
    bool success;
    std::uint64_t verdictAfterMs;
    friend void PrintTo(const CallEnding& c, std::ostream* os) { *os << c.name; }
};

class DialCallEnd : public DialTest, public ::testing::WithParamInterface<CallEnding> {};

TEST_P(DialCallEnd, CallIsJudgedWhenItsEndComes)
{
    port.Always(DialCommand(kNum1), GetParam().reply);
    Start({{"Obj1", true, "1"}});
    RunUntil(100000);
    const std::uint64_t dialled = TimesOf(Dialled(kNum1)).at(0);
    const std::string verdict = GetParam().success ? Success(kNum1, 1)
                                                   : "dialevent " + S("Нет связи | "_cp) + kNum1 + " | "
                                                         + S("Нет ответа, попытка 1 из 7"_cp);
    const std::vector<std::uint64_t> verdicts = TimesOf(verdict);
    ASSERT_FALSE(verdicts.empty()) << verdict;
    EXPECT_GE(verdicts[0], dialled + GetParam().verdictAfterMs);
    EXPECT_LE(verdicts[0], dialled + GetParam().verdictAfterMs + 500);
    EXPECT_EQ(log.Count("sent ATH\r") > 0, !GetParam().success) << "a failed call is hung up";
    // Nothing else goes to the modem during the call, not even the signal poll.
    for (const LogEntry& e : log.Entries()) {
        if (e.ms > dialled && e.ms < verdicts[0]) {
            EXPECT_FALSE(e.text.starts_with("sent ")) << e.text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DialCallEnd,
    ::testing::Values(
        CallEnding{"BusyAfterThreeSeconds", {{0, "ATD+79110000001;\r\r\n"}, {3000, "\r\nBUSY\r\n"}}, true, 3000},
        CallEnding{"BusyAfterOkAndRingTone", {{0, "ATD+79110000001;\r\r\nOK\r\n"}, {8000, "\r\n BUSY \r\n"}}, true, 8000},
        CallEnding{"NoCarrier", {{0, "ATD+79110000001;\r\r\n"}, {4000, "\r\nNO CARRIER\r\n"}}, false, 4000},
        CallEnding{"NoAnswer", {{0, "ATD+79110000001;\r\r\n"}, {20000, "\r\nNO ANSWER\r\n"}}, false, 20000},
        CallEnding{"RefusedAtOnce", {{0, "ATD+79110000001;\r\r\n+CME ERROR: 30\r\n"}}, false, 0},
        CallEnding{"NoDialTone", {{0, "ATD+79110000001;\r\r\n"}, {1000, "NO DIALTONE\r\n"}}, false, 1000},
        CallEnding{"NothingAtAll", {{0, "ATD+79110000001;\r\r\n"}}, false, 25000},
        CallEnding{"HalfALineIsNoVerdict", {{0, "ATD+79110000001;\r\r\n"}, {3000, "\r\nNO CARR"}}, false, 25000},
        CallEnding{"LineSplitOverTwoReads",
                   {{0, "ATD+79110000001;\r\r\n"}, {3000, "\r\nBU"}, {4000, "SY\r\n"}},
                   true,
                   4000},
        CallEnding{"WordsInsideOtherLinesAreNoVerdict",
                   {{0, "ATD+79110000001;\r\r\n"}, {2000, "\r\n+CLCC: 1,0,3,0,0,\"BUSY\",145\r\n"}},
                   false,
                   25000},
        // Other modem families.
        CallEnding{"EchoOff", {{3000, "\r\nBUSY\r\n"}}, true, 3000},
        CallEnding{"EchoTwice",
                   {{0, "ATD+79110000001;\r\r\nATD+79110000001;\r\r\n"}, {3000, "\r\nBUSY\r\n"}},
                   true,
                   3000},
        CallEnding{"EchoSplitOverTwoReads",
                   {{0, "ATD+7911"}, {600, "0000001;\r\r\n"}, {3000, "\r\nBUSY\r\n"}},
                   true,
                   3000},
        CallEnding{"DoubleCarriageReturns",
                   {{0, "ATD+79110000001;\r\r\r\nOK\r\r\n"}, {5000, "\r\r\nNO CARRIER\r\r\n"}},
                   false,
                   5000},
        CallEnding{"VerboseRefusal", {{0, "ATD+79110000001;\r\r\n+CME ERROR: no network service\r\n"}}, false, 0},
        CallEnding{"NoDialToneWithABlank", {{0, "ATD+79110000001;\r\r\n"}, {1000, "\r\nNO DIAL TONE\r\n"}}, false,
                   1000},
        CallEnding{"OkThenNothingWaitsForTheDeadline", {{0, "ATD+79110000001;\r\r\nOK\r\n"}}, false, 25000},
        CallEnding{"LateSignalReplyBeforeTheEcho",
                   {{0, "\r\n+CSQ: 17,0\r\n\r\nOK\r\nATD+79110000001;\r\r\n"}, {3000, "\r\nBUSY\r\n"}},
                   true,
                   3000},
        CallEnding{"BalanceAnswerIsNoVerdict",
                   {{0, "ATD+79110000001;\r\r\n"},
                    {1000, "\r\n+CUSD: 0,\"Balance 5\",15\r\n"},
                    {1500, "\r\n+CUSD: 4\r\n"},
                    {3000, "\r\nBUSY\r\n"}},
                   true,
                   3000},
        CallEnding{"BusyInTheSameReadAsABalanceAnswer",
                   {{0, "ATD+79110000001;\r\r\nOK\r\n"}, {3000, "\r\n+CUSD: 2\r\n\r\nBUSY\r\n"}},
                   true,
                   3000},
        CallEnding{"RingAndNetworkReportsAreNoVerdict",
                   {{0, "ATD+79110000001;\r\r\n"},
                    {1000, "\r\nRING\r\n\r\n+CREG: 1\r\n\r\n+CIEV: 2,3\r\n"},
                    {3000, "\r\nBUSY\r\n"}},
                   true,
                   3000}),
    [](const auto& info) { return std::string(info.param.name); });

// The wall clock set by the operator or the network, between passes or while a
// call is under way: calls keep their intervals and each is judged at its BUSY.
struct WallSteps {
    const char* name;
    std::vector<std::pair<std::uint64_t, double>> steps; // at virtual ms, seconds
    friend void PrintTo(const WallSteps& w, std::ostream* os) { *os << w.name; }
};

class DialWallClock : public DialTest, public ::testing::WithParamInterface<WallSteps> {};

TEST_P(DialWallClock, RingRoundKeepsItsIntervalsAndJudgesTheCallInFlight)
{
    Busy(kNum1);
    Start({{"Obj1", true, "1"}});
    for (const auto& [at, seconds] : GetParam().steps)
        clock.At(at, [this, seconds] { clock.StepWall(seconds); });
    RunUntil(270000);
    const std::vector<std::uint64_t> calls = TimesOf(Dialled(kNum1));
    const std::vector<std::uint64_t> verdicts = TimesOf(Success(kNum1, 1));
    ASSERT_EQ(calls.size(), 4u);
    ASSERT_EQ(verdicts.size(), 4u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_GE(calls[i], 60000 * (i + 1)) << i;
        EXPECT_LE(calls[i], 60000 * (i + 1) + 1500) << i;
        EXPECT_GE(verdicts[i], calls[i] + 3000) << i;
        EXPECT_LE(verdicts[i], calls[i] + 3500) << i;
    }
    const std::vector<std::uint64_t> polls = TimesOf("sent AT+CSQ\r");
    ASSERT_FALSE(polls.empty());
    EXPECT_GE(polls.back(), 230000u) << "the signal polls go on between the calls";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DialWallClock,
    ::testing::Values(WallSteps{"BackAnHourBetweenPasses", {{30000, -3600}}},
                      WallSteps{"BackAnHourDuringACall", {{62000, -3600}}},
                      WallSteps{"ForwardAnHourDuringACall", {{62000, 3600}}},
                      WallSteps{"BackAndForthAndADayBack", {{30000, -3600}, {130000, 3600}, {190000, -86400}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialTest, SeventhFailedCallIsFinalAndEachRetryComesOneMinuteAfterTheLastDueTime)
{
    Silent(kNum1);
    Start({{"Obj1", true, "5"}});
    RunUntil(720000);
    const std::vector<std::uint64_t> calls = TimesOf(Dialled(kNum1));
    ASSERT_EQ(calls.size(), 7u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_GE(calls[i], 300000 + 60000 * i) << i;
        EXPECT_LE(calls[i], 300000 + 60000 * i + 1500) << i;
    }
    EXPECT_EQ(host.DialEvents(), (std::vector<EventRow>{NoAnswer(kNum1, 1), NoAnswer(kNum1, 2), NoAnswer(kNum1, 3),
                                                        NoAnswer(kNum1, 4), NoAnswer(kNum1, 5), NoAnswer(kNum1, 6),
                                                        Final(kNum1)}));
    EXPECT_TRUE(InOrder({Dialled(kNum1), "sent ATH\r", "dialstatus " + S("Статус дозвона: дозвон завершен не успешно"_cp),
                         "findname " + kNum1, "info Obj1 9", Failure(kNum1, 7), "sound Alarm", "sent ATH\r"}));
    EXPECT_EQ(log.Count(Failure(kNum1, 7)), 1u);
    EXPECT_EQ(log.Count("sent ATH\r"), 7u);
    EXPECT_EQ(schedule.At(0, 0).failures, 6) << "left as it was: the next failure is final at once";
    // After the final failure the regular interval counts again from the last due time.
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, 16 * 60000);
    const std::uint64_t hangUp = TimesOf("sent ATH\r").back();
    EXPECT_EQ(hangUp - TimesOf(Failure(kNum1, 7)).at(0), 2000u);
}

TEST_F(DialTest, AnotherDevicesFinalFailureCountsNothingForTheNext)
{
    Silent(kNum1);
    Silent(kNum2);
    Start({{"Obj1", true, "5"}, {"Obj2", true, "12"}});
    RunUntil(760000);
    ASSERT_EQ(TimesOf(Dialled(kNum2)).size(), 1u);
    EXPECT_EQ(log.Count(Failure(kNum1, 7)), 1u);
    EXPECT_EQ(DialEventsOf(kNum2), std::vector<EventRow>{NoAnswer(kNum2, 1)});
    EXPECT_EQ(host.Of("info"), std::vector<std::string>{"Obj1 9"});
}

// Five devices that answer and a dead one placed last, all on one-minute
// intervals: the dead one is reported after its own seven failed calls, whatever
// the others do, and nobody waits for long.
TEST_F(DialTest, DeadDeviceAmongLiveOnesIsReportedAndNoneStarves)
{
    const std::vector<std::string> live = {"+79110000011", "+79110000012", "+79110000013", "+79110000014",
                                           "+79110000015"};
    const std::string dead = "+79110000016";
    std::vector<DialDevice> devices;
    for (std::size_t i = 0; i < live.size(); ++i) {
        host.AddDevice(live[i], "Live" + std::to_string(i));
        Busy(live[i]);
        devices.push_back({"Live" + std::to_string(i), true, "1"});
    }
    host.AddDevice(dead, "Dead");
    Silent(dead);
    devices.push_back({"Dead", true, "1"});
    Start(devices);
    RunUntil(12 * 60000);

    // Six rows of the attempts, then the final one with its alarm, by the eighth minute.
    ASSERT_EQ(DialEventsOf(dead), (std::vector<EventRow>{NoAnswer(dead, 1), NoAnswer(dead, 2), NoAnswer(dead, 3),
                                                         NoAnswer(dead, 4), NoAnswer(dead, 5), NoAnswer(dead, 6),
                                                         Final(dead), Final(dead), Final(dead), Final(dead),
                                                         Final(dead)}));
    const std::vector<std::uint64_t> finals = TimesOf(Failure(dead, 7));
    ASSERT_FALSE(finals.empty());
    EXPECT_LT(finals[0], 8 * 60000u);
    EXPECT_EQ(host.Of("info"), std::vector<std::string>(finals.size(), "Dead 9"));
    // Every call comes within its interval plus the calls due before it (five
    // rejections of about 4 s and one silent call of 26 s).
    for (const std::string& number : live) {
        EXPECT_EQ(DialEventsOf(number).size(), 11u) << number;
        for (const EventRow& row : DialEventsOf(number))
            EXPECT_EQ(row.status, S("На связи"_cp)) << number;
        const std::vector<std::uint64_t> calls = TimesOf(Dialled(number));
        ASSERT_EQ(calls.size(), 11u) << number;
        for (std::size_t i = 0; i < calls.size(); ++i)
            EXPECT_LE(calls[i], 60000 * (i + 1) + 5 * 4000 + 26000) << number << " call " << i;
    }
    const std::vector<std::uint64_t> deadCalls = TimesOf(Dialled(dead));
    ASSERT_EQ(deadCalls.size(), 11u);
    for (std::size_t i = 0; i < deadCalls.size(); ++i)
        EXPECT_LE(deadCalls[i], 60000 * (i + 1) + 5 * 4000 + 26000) << "dead call " << i;
}

// A device's count outlives a rebuild of the board (a register edit): the
// dead device is still reported at its seventh failed call.
TEST_F(DialTest, FailuresCountOnAcrossARebuildAndTheSettingIsReadAtEachVerdict)
{
    Silent(kNum1);
    Busy(kNum2);
    Start({{"Obj1", true, "1"}, {"Obj2", true, "1"}});
    clock.At(200000, [this] { schedule.Rebuild({{"Obj2", true, "1"}, {"Obj1", true, "1"}}, 5, 7, clock.MonotonicMs()); });
    clock.At(230000, [this] { state.failuresToReport = 4; });
    RunUntil(340000);
    // The third failure was judged after the rebuild, on the device's new tile.
    EXPECT_EQ(DialEventsOf(kNum1), (std::vector<EventRow>{NoAnswer(kNum1, 1), NoAnswer(kNum1, 2),
                                                          NoAnswer(kNum1, 3), Final(kNum1)}));
    EXPECT_EQ(schedule.At(0, 1).failures, 3);
}

TEST_F(DialTest, SuccessResetsTheCountAndReportsTheCallsItTook)
{
    port.On(DialCommand(kNum1), DialCommand(kNum1) + "\r\n");
    port.On(DialCommand(kNum1), DialCommand(kNum1) + "\r\n");
    Busy(kNum1);
    Start({{"Obj1", true, "5"}});
    RunUntil(750000);
    EXPECT_TRUE(InOrder({Success(kNum1, 3), Success(kNum1, 1)}));
    EXPECT_EQ(host.DialEvents().size(), 4u) << "each failed call has its row";
    EXPECT_EQ(host.DialEvents()[1], NoAnswer(kNum1, 2));
    EXPECT_EQ(schedule.At(0, 0).failures, 0);
    const std::vector<std::uint64_t> calls = TimesOf(Dialled(kNum1));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_NEAR(static_cast<double>(calls[2]), 420000, 1500);
    EXPECT_NEAR(static_cast<double>(calls[3]), 720000, 1500) << "a full interval after the successful call's due time";
}

TEST_F(DialTest, IntervalZeroIsCalledAgainAndAgainButStarvesNoLaterTile)
{
    Busy(kNum1);
    Busy(kNum2);
    Start({{"Obj1", true, "0"}, {"Obj2", true, "1"}});
    RunUntil(150000);
    EXPECT_EQ(TimesOf(Dialled(kNum1)).at(0), 500u) << "due at once";
    EXPECT_GE(TimesOf(Dialled(kNum1)).size(), 20u);
    const std::vector<std::uint64_t> later = TimesOf(Dialled(kNum2));
    ASSERT_EQ(later.size(), 2u);
    // After at most the calls of the other that fell due before it (about 4 s each).
    EXPECT_LE(later[0], 60000u + 10000);
    EXPECT_LE(later[1], 120000u + 10000);
}

TEST_F(DialTest, BalanceRequestedDuringACallIsSentAfterTheVerdict)
{
    Busy(kNum1);
    const std::string request = "AT+CUSD=1,\"002A0031003000300023\",15\r";
    port.On(request, std::vector<FakePort::Piece>{
                         {0, request + "\r\nOK\r\n"}, {2000, "\r\n+CUSD: 0,\"04110430043B0430043D0441003A00200035\",72\r\n"}});
    Start({{"Obj1", true, "1"}});
    clock.At(65000, [this] { state.balanceRequest = true; });
    RunUntil(100000);
    EXPECT_TRUE(InOrder({Dialled(kNum1), Success(kNum1, 1), "balancenumber", "sent " + request,
                         "balance " + S("Модем 2(обзвон):Баланс: 5"_cp),
                         "dialevent " + S("Баланс | GSM-модем №2 | Баланс: 5"_cp)}));
    EXPECT_FALSE(state.balanceWait);
    EXPECT_FALSE(state.balanceRequest);
}

TEST_F(DialTest, BalanceWrittenWithBlanksAfterTheCommasIsReadToo)
{
    // The form modem 1's handler recognises; one make of modem serves both ports.
    port.On("AT+CUSD=*", "\r\n+CUSD: 0, \"04110430043B0430043D0441003A00200035\", 72\r\n");
    Start({});
    state.balanceRequest = true;
    RunUntil(5000);
    EXPECT_EQ(host.Of("balance"), std::vector<std::string>{S("Модем 2(обзвон):Баланс: 5"_cp)});
    EXPECT_EQ(log.Count("dialevent " + S("Баланс | GSM-модем №2 | Баланс: 5"_cp)), 1u);
    EXPECT_FALSE(state.balanceWait);
}

TEST_F(DialTest, BalanceThatNeverComesIsJournalledAfterTenSeconds)
{
    Start({});
    state.balanceRequest = true;
    RunUntil(20000);
    const std::string timeout = "dialevent " + S("Нет связи | GSM-модем №2 | Превышен интервал времени ожидания баланса"_cp);
    ASSERT_EQ(TimesOf(timeout).size(), 1u);
    EXPECT_NEAR(static_cast<double>(TimesOf(timeout)[0]) - TimesOf("sent AT+CUSD=1,\"002A0031003000300023\",15\r").at(0),
                10000, 600);
    EXPECT_FALSE(state.balanceWait);
}

// Modem 2's balance in the forms modems give it: the whole text or a clear
// refusal, never a lost answer.
struct BalanceForm {
    const char* name;
    std::vector<FakePort::Piece> answer; // to the request as the worker writes it first
    std::string plainAnswer;             // to the plain code, when the worker falls back to it
    std::string row;                     // the "Баланс" row's text
};

class DialBalance : public DialTest, public ::testing::WithParamInterface<BalanceForm> {};

TEST_P(DialBalance, RowHoldsTheWholeTextOrTheRefusal)
{
    port.On("AT+CUSD=1,\"002A0031003000300023\",15\r", GetParam().answer);
    port.On("AT+CUSD=1,\"*100#\",15\r", GetParam().plainAnswer);
    Start({});
    state.balanceRequest = true;
    RunUntil(15000);
    const std::string& row = GetParam().row;
    EXPECT_EQ(host.Of("balance"), std::vector<std::string>{S("Модем 2(обзвон):"_cp) + row});
    EXPECT_EQ(log.Count("dialevent " + S("Баланс | GSM-модем №2 | "_cp) + row), 1u);
    EXPECT_EQ(log.Count("dialevent " + S("Нет связи | GSM-модем №2 | Превышен интервал времени ожидания баланса"_cp)),
              0u);
    EXPECT_FALSE(state.balanceWait);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DialBalance,
    ::testing::Values(
        BalanceForm{"NotValidForItsCodingShownAsItCame", {{0, "\r\n+CUSD: 0,\"12 34\",72\r\n"}}, "", "12 34"},
        BalanceForm{"SplitOverTwoReads",
                    {{0, "\r\nOK\r\n\r\n+CUSD: 0, \"04110430043B04"}, {700, "30043D0441003A00200035\", 72\r\n"}},
                    "", S("Баланс: 5"_cp)},
        BalanceForm{"SessionEndedBeforeTheAnswer",
                    {{0, "\r\nOK\r\n\r\n+CUSD: 2\r\n"}, {900, "\r\n+CUSD: 0,\"Balance 5\",15\r\n"}}, "", "Balance 5"},
        BalanceForm{"RefusedByTheNetwork", {{0, "\r\nOK\r\n"}, {600, "\r\n+CUSD: 4\r\n"}}, "",
                    S("Запрос баланса отклонен сетью"_cp)},
        BalanceForm{"HexCodeRefusedPlainTaken", {{0, "\r\nERROR\r\n"}},
                    "\r\nOK\r\n\r\n+CUSD: 0,\"0414043E043B04330020003000200440\",72\r\n", S("Долг 0 р"_cp)},
        BalanceForm{"RefusedInEveryForm", {{0, "\r\n+CME ERROR: 132\r\n"}}, "\r\n+CME ERROR: 132\r\n",
                    S("Запрос баланса отклонен модемом (ошибка 132)"_cp)},
        // Other modem families.
        BalanceForm{"EchoOnAnswerBeforeOk",
                    {{0, "AT+CUSD=1,\"002A0031003000300023\",15\r\r\n+CUSD: 0,\"04110430043B0430043D0441003A00200035\",72"
                         "\r\n\r\nOK\r\n"}},
                    "", S("Баланс: 5"_cp)},
        BalanceForm{"SevenBitPackedUnquoted", {{0, "\r\nOK\r\n"}, {800, "\r\n+CUSD: 0, E8329BFD06, 15\r\n"}}, "",
                    "hello"},
        BalanceForm{"CodesBeforeTheAnswer",
                    {{0, "\r\nOK\r\n"}, {500, "\r\nRING\r\n\r\n+CSQ: 15,0\r\n\r\nNO CARRIER\r\n"},
                     {900, "\r\n+CUSD: 0,\"Balance 5\",15\r\n"}},
                    "", "Balance 5"},
        BalanceForm{"RefusedAfterItsOk", {{0, "\r\nOK\r\n"}, {800, "\r\n+CME ERROR: 132\r\n"}},
                    "\r\nOK\r\n\r\n+CUSD: 0,\"Balance 5\",15\r\n", "Balance 5"},
        BalanceForm{"RefusalGluedToItsOk", {{0, "\r\nOK\r\n\r\n+CME ERROR: 132\r\n"}},
                    "\r\nOK\r\n\r\n+CUSD: 0,\"Balance 5\",15\r\n", "Balance 5"},
        BalanceForm{"RefusedVerbosely", {{0, "\r\n+CME ERROR: unknown\r\n"}}, "\r\n+CME ERROR: unknown\r\n",
                    S("Запрос баланса отклонен модемом (ошибка unknown)"_cp)},
        BalanceForm{"NetworkDidNotAnswer", {{0, "\r\nOK\r\n\r\n+CUSD: 5\r\n"}}, "",
                    S("Сеть не ответила на запрос баланса"_cp)}),
    [](const auto& info) { return std::string(info.param.name); });

// A balance answer that comes after its wait ran out, while a call is under
// way: the call is judged at its own BUSY, and the answer goes to the
// technological journal only, its time-out row being written already.
TEST_F(DialTest, LateBalanceAnswerDuringACallLeavesTheCallAlone)
{
    const std::string answer = "\r\n+CUSD: 0,\"Balance 5\",15\r\n";
    port.Always(DialCommand(kNum1),
                std::vector<FakePort::Piece>{{0, DialCommand(kNum1) + "\r\n"}, {1000, answer}, {3000, "\r\nBUSY\r\n"}});
    Start({{"Obj1", true, "1"}});
    state.balanceRequest = true;
    RunUntil(70000);
    const std::string timeout = "dialevent " + S("Нет связи | GSM-модем №2 | Превышен интервал времени ожидания баланса"_cp);
    EXPECT_TRUE(InOrder({timeout, Dialled(kNum1), "techno blue " + answer, Success(kNum1, 1)}));
    EXPECT_EQ(log.Count(timeout), 1u);
    EXPECT_TRUE(host.Of("balance").empty());
    EXPECT_EQ(log.Count("sent ATH\r"), 0u);
}

// A worker started while its predecessor's balance request was still
// unanswered takes the answer that comes.
TEST_F(DialTest, NewWorkerTakesTheAnswerToTheBalanceItsPredecessorAskedFor)
{
    state.balanceWait = true;
    state.balanceDeadlineMs = clock.MonotonicMs() + 10000;
    Start({});
    clock.At(2000, [this] { modem.AppendReceived("\r\nOK\r\n\r\n+CUSD: 0,\"Balance 5\",15\r\n"); });
    RunUntil(15000);
    EXPECT_EQ(host.Of("balance"), std::vector<std::string>{S("Модем 2(обзвон):Balance 5"_cp)});
    EXPECT_FALSE(state.balanceWait);
    EXPECT_EQ(log.Count("dialevent " + S("Нет связи | GSM-модем №2 | Превышен интервал времени ожидания баланса"_cp)),
              0u);
}

TEST_F(DialTest, RebuildPostponesEveryCall)
{
    Busy(kNum1);
    Start({{"Obj1", true, "1"}});
    clock.At(50000, [this] { schedule.Rebuild({{"Obj1", true, "1"}}, 5, 7, clock.MonotonicMs()); });
    RunUntil(130000);
    const std::vector<std::uint64_t> calls = TimesOf(Dialled(kNum1));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_GE(calls[0], 110000u);
}

TEST_F(DialTest, EmptyTileIsNeverCalledAfterTheRegisterShrank)
{
    Busy(kNum1);
    Busy(kNum2);
    Start({{"Obj1", true, "1"}, {"Obj2", true, "1"}});
    schedule.Rebuild({{"Obj1", true, "1"}}, 5, 7, clock.MonotonicMs());
    RunUntil(200000);
    EXPECT_FALSE(TimesOf(Dialled(kNum1)).empty());
    EXPECT_TRUE(TimesOf(Dialled(kNum2)).empty());
}

TEST_F(DialTest, TileWithoutANumberIsSkippedWithARedLine)
{
    Start({{"Ghost", true, "1"}});
    RunUntil(130000);
    EXPECT_EQ(log.Count("techno red " + S("Дозвон пропущен: не найден номер телефона объекта Ghost"_cp)), 2u)
        << "once per interval: the entry moved on";
    for (const std::string& w : port.Writes())
        EXPECT_FALSE(w.starts_with("ATD"));
    EXPECT_TRUE(host.DialEvents().empty());
}

TEST_F(DialTest, SignalLevelsAndUnreadableReplies)
{
    port.On("AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 99,99\r\n\r\nOK\r\n");
    port.On("AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 0,0\r\n\r\nOK\r\n");
    port.On("AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 21\r\n\r\nOK\r\n");
    Start({});
    RunUntil(23000);
    EXPECT_TRUE(InOrder({"techno orange AT+CSQ\r\r\n+CSQ: 99,99\r\n\r\nOK\r\n", "signal2 99", "signal2 0",
                         "techno orange AT+CSQ\r\r\n+CSQ: 21\r\n\r\nOK\r\n",
                         "techno red " + S("Ошибка при определении уровня сигнала модема 2"_cp), "signal2 21"}));
    EXPECT_EQ(host.Of("signal2").size(), 3u);
    EXPECT_NEAR(static_cast<double>(TimesOf("sent AT+CSQ\r").at(0)), 5500, 1);
}

// Modem 2's signal poll answered in the forms modem families give it: the
// level shown, or a red line when none can be read.
struct SignalForm {
    const char* name;
    std::vector<FakePort::Piece> reply; // to the first "AT+CSQ"
    std::string level;                  // as shown, empty: the red line
    friend void PrintTo(const SignalForm& f, std::ostream* os) { *os << f.name; }
};

class DialSignal : public DialTest, public ::testing::WithParamInterface<SignalForm> {};

TEST_P(DialSignal, LevelIsShownOrTheFailureSaid)
{
    port.On("AT+CSQ\r", GetParam().reply);
    Start({});
    RunUntil(9000);
    const std::string unreadable = "techno red " + S("Ошибка при определении уровня сигнала модема 2"_cp);
    if (GetParam().level.empty()) {
        EXPECT_TRUE(host.Of("signal2").empty());
        EXPECT_EQ(log.Count(unreadable), 1u);
    } else {
        EXPECT_EQ(host.Of("signal2"), std::vector<std::string>{GetParam().level});
        EXPECT_EQ(log.Count(unreadable), 0u);
    }
    EXPECT_FALSE(state.signalWait) << "the reply ended the wait";
    EXPECT_EQ(TimesOf("sent AT+CSQ\r").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DialSignal,
    ::testing::Values(
        SignalForm{"EchoOff", {{0, "\r\n+CSQ: 17,99\r\n\r\nOK\r\n"}}, "17"},
        SignalForm{"DoubleCarriageReturns", {{0, "AT+CSQ\r\r\r\n+CSQ: 17,99\r\r\n\r\r\nOK\r\r\n"}}, "17"},
        SignalForm{"BlankAfterTheComma", {{0, "AT+CSQ\r\r\n+CSQ: 17, 99\r\n\r\nOK\r\n"}}, "17"},
        SignalForm{"SplitInsideTheLevel", {{0, "AT+CSQ\r\r\n+CSQ: 1"}, {700, "7,99\r\n\r\nOK\r\n"}}, "17"},
        SignalForm{"OkStillToCome", {{0, "AT+CSQ\r\r\n+CSQ: 17,99\r\n"}, {700, "\r\nOK\r\n"}}, "17"},
        SignalForm{"CodesAroundTheReply",
                   {{0, "\r\nRING\r\nAT+CSQ\r\r\n+CREG: 1\r\n+CSQ: 17,99\r\n\r\nOK\r\n\r\n+CUSD: 2\r\n"}},
                   "17"},
        SignalForm{"NotDetectable", {{0, "AT+CSQ\r\r\n+CSQ: 99,99\r\n\r\nOK\r\n"}}, "99"},
        SignalForm{"OneFieldOnly", {{0, "AT+CSQ\r\r\n+CSQ: 21\r\n\r\nOK\r\n"}}, ""},
        SignalForm{"LevelNoNumber", {{0, "AT+CSQ\r\r\n+CSQ: ,99\r\n\r\nOK\r\n"}}, ""},
        SignalForm{"Refused", {{0, "AT+CSQ\r\r\nERROR\r\n"}}, ""},
        SignalForm{"RefusedVerbosely", {{0, "AT+CSQ\r\r\n+CME ERROR: SIM not inserted\r\n"}}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialTest, UnansweredSignalPollIsForgottenAfterFiveSeconds)
{
    port.On("AT+CSQ\r", "");
    Start({});
    RunUntil(18000);
    const std::vector<std::uint64_t> polls = TimesOf("sent AT+CSQ\r");
    ASSERT_GE(polls.size(), 2u);
    EXPECT_EQ(polls[0], 5500u);
    // 5 s wait, then the next poll 5 s later (within a pass).
    EXPECT_GE(polls[1], 16000u);
    EXPECT_LE(polls[1], 16500u);
    EXPECT_EQ(host.Of("signal2").size(), 1u);
}

TEST_F(DialTest, LoopEndSetsTheWaitingStatusAndLeavesTheCallAlone)
{
    Busy(kNum1);
    Start({{"Obj1", true, "1"}});
    RunUntil(61000);
    ASSERT_TRUE(state.dialling);
    worker->RequestStop();
    worker->RunLoop();
    EXPECT_EQ(host.Of("dialstatus").back(), S("Статус дозвона: ожидание"_cp));
    EXPECT_TRUE(state.dialling) << "a call in progress is not hung up";
    EXPECT_EQ(log.Count("sent ATH\r"), 0u);
}

TEST_F(DialTest, NewWorkerDropsAnInheritedCallWithoutTouchingTheSchedule)
{
    Busy(kNum1);
    schedule.Rebuild({{"Obj1", true, "1"}}, 5, 7, clock.MonotonicMs());
    const DialSchedule::Entry before = schedule.At(0, 0);
    state.dialling = true;
    state.dialDeadlineMs = clock.MonotonicMs() + 10000;
    worker = std::make_unique<TDialThread>(modem, port, host, clock, schedule, state);
    RunUntil(12000);
    EXPECT_FALSE(state.dialling);
    EXPECT_EQ(log.Count("sent ATH\r"), 1u) << "no BUSY came: the old call is hung up";
    EXPECT_TRUE(host.DialEvents().empty());
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, before.nextDueMs);
    for (const std::string& w : port.Writes())
        EXPECT_FALSE(w.starts_with("ATD"));
}

TEST_F(DialTest, PortThatCannotWriteLosesTheCallButTheLoopGoesOn)
{
    port.FailWrites(true);
    Start({{"Obj1", true, "1"}});
    const auto start = static_cast<std::int64_t>(clock.MonotonicMs());
    RunUntil(70000);
    EXPECT_FALSE(state.dialling);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, start + 2 * 60000) << "advanced before the write failed";
    EXPECT_GT(port.FailedWrites(), 2);
    EXPECT_TRUE(host.DialEvents().empty());
}

} // namespace
} // namespace kv::test
