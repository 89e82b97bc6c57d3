// The alarm desk on virtual time: which reports open a row, the handling
// and what it journals, the loss of modem 1, escalation by SMS and the record
// that survives a crash. The station around it is a recorder.
#include "codec/Classify.h"
#include "data/Status.h"
#include "core/AlarmDesk.h"
#include "modem/EventTexts.h"
#include "core/ContactWatch.h"
#include "data/IniFile.h"
#include "tests/support/Cp1251.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

namespace kv::test {
namespace {

using namespace kv::literals;

const std::string kStoreTel = "+79001000001";
const std::string kOfficeTel = "+79001000002";
const std::string kSms = Str("Новое сообщение:"_cp);
const std::string kMarker = std::string("Вним"_cp) + "a" + Str("ние Т"_cp) + "PEB" + Str("ОГА"_cp);

struct JournalRow {
    std::string status, tel, event;
};

class RecordingDeskStation final : public IDeskStation {
public:
    void Journal(std::string_view status, const std::string& tel, const std::string& event, double) override
    {
        rows.push_back({std::string(status), tel, event});
        if (numberRows)
            ++lastSeq;
    }
    void Escalated(const kv::OpenAlarm& a, double) override { told.push_back("escalated " + a.journal + " " + std::to_string(a.seq)); }
    void Handled(const kv::OpenAlarm& a, std::uint64_t rowSeq, std::string_view result, std::string_view comment,
                 const std::string& user, double) override
    {
        told.push_back("handled " + a.journal + " " + std::to_string(a.seq) + " by row " + std::to_string(rowSeq) +
                       ": " + std::string(result) + "|" + std::string(comment) + "|" + user);
    }
    void CentreHandled(const centre::ClosedRow& row) override
    {
        told.push_back("centre row " + std::to_string(row.deskSeq) + ": " + row.tel + " " + row.event);
    }
    void Techno(const std::string& text, Rgb) override { techno.push_back(text); }
    bool SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                 std::function<void(bool)> outcome) override
    {
        if (busy)
            return false;
        sends.push_back({number, text, std::move(outcome), oneSmsText});
        return true;
    }
    bool Modem1Running() override { return running; }
    std::uint64_t LastRowSeq(bool ring) override { return ring ? 0 : lastSeq; }
    bool InCentre(const std::string& journal, std::uint64_t seq) override { return journal == "main" && seq <= forwarded; }
    std::string ShortName(const std::string& tel) override
    {
        return tel == kStoreTel ? Str("Склад"_cp) : tel == kOfficeTel ? Str("Офис"_cp) : std::string();
    }
    std::string ListName(const std::string& tel) override
    {
        return tel == kStoreTel ? Str("Склад на Заводской, 12"_cp) : std::string();
    }
    // The rows with this status.
    std::vector<JournalRow> With(std::string_view status) const
    {
        std::vector<JournalRow> out;
        std::copy_if(rows.begin(), rows.end(), std::back_inserter(out), [&](const JournalRow& r) { return r.status == status; });
        return out;
    }

    struct Send {
        std::string number, text;
        std::function<void(bool)> outcome;
        std::string oneSms;
    };
    std::vector<JournalRow> rows;
    std::vector<std::string> techno;
    std::vector<Send> sends;
    bool running = true;
    bool busy = false;
    std::uint64_t lastSeq = 0;
    bool numberRows = false; // each row journalled here takes the next number
    std::uint64_t forwarded = 0;
    // What the desk told of its own rows' escalation and handling.
    std::vector<std::string> told;
};

class Desk : public ::testing::Test {
protected:
    // A worker's row as the station hands it to the desk: an SMS as a typed
    // report (classified as the worker classifies it), an alarm call, modem 1
    // back; any other row is the journal's alone.
    void Event(const std::string& status, const std::string& tel, const std::string& event)
    {
        Report report;
        report.tel = tel;
        report.status = status;
        report.event = event;
        report.shortName = station.ShortName(tel);
        if (event.rfind(kSms, 0) == 0) {
            const std::string text = event.substr(kSms.size());
            report.guard = ClassifyGuardMessage(text, {});
            report.info = ClassifyInfoMessage(text);
        } else if (event == events::kCallAlarm) {
            report.source = Report::Source::Call;
        } else {
            if (event == events::kLinkRestored)
                desk.LinkRestored();
            return;
        }
        if (const std::optional<AlarmKind> kind = AlarmOf(report))
            desk.Reported(*kind, tel, event, report.shortName);
    }
    void DialEvent(const std::string& status, const std::string& tel, const std::string& event)
    {
        if (status == status::kOffline && event == events::kRingRoundFailed)
            desk.RingRoundFailed(tel, event);
    }
    void Wait(std::uint64_t seconds)
    {
        for (std::uint64_t s = 0; s < seconds; ++s) {
            clock.Advance(1000);
            desk.Tick();
        }
    }
    std::uint64_t OpenAlarm(const std::string& tel = kStoreTel)
    {
        Event(Str(status::kAlarm), tel, kSms + kMarker);
        return desk.Rows().back().id;
    }

    TempDir dir;
    RecordingDeskStation station;
    VirtualClock clock{46000.5}; // 12:00
    AlarmDesk desk{station, clock};
};

// ------------------------------------------------------------------ what opens a row

struct EventCase {
    const char* name;
    bool ringRound; // DialEventsTable
    std::string status, tel, event;
    std::optional<AlarmKind> opens;
    // The row as the station writes it today, so that reading it back finds the same alarm.
    bool currentRow = true;
};

class WhatOpensARow : public Desk, public ::testing::WithParamInterface<EventCase> {};

TEST_P(WhatOpensARow, AlarmsOnlyAndEachOnce)
{
    const EventCase& c = GetParam();
    if (c.ringRound)
        DialEvent(c.status, c.tel, c.event);
    else
        Event(c.status, c.tel, c.event);
    ASSERT_EQ(desk.Rows().size(), c.opens ? 1u : 0u);
    EXPECT_TRUE(station.rows.empty()) << "the worker's row is the alarm's: the desk writes none";
    if (c.currentRow) {
        EXPECT_EQ(AlarmOfRow(c.ringRound, c.status, c.tel, c.event, station.ShortName(c.tel)), c.opens)
            << "the row read back";
    }
    if (!c.opens)
        return;
    const auto& a = desk.Rows()[0];
    EXPECT_EQ(a.kind, *c.opens);
    EXPECT_EQ(a.what, c.event);
    EXPECT_EQ(a.tel, c.tel);
    EXPECT_DOUBLE_EQ(a.openedAt, 46000.5);
}

const std::string kGuard = Str(status::kArmed);
INSTANTIATE_TEST_SUITE_P(
    Events, WhatOpensARow,
    ::testing::Values(
        EventCase{"intrusion_marker", false, Str(status::kAlarm), kStoreTel, kSms + kMarker + " 2", AlarmKind::Intrusion},
        EventCase{"intrusion_motion", false, Str(status::kAlarm), kStoreTel,
                  kSms + Str("Внимание, сработал датчик движения"_cp), AlarmKind::Intrusion},
        EventCase{"fire_journalled_normal", false, Str(status::kNormal), kStoreTel, kSms + Str("Внимание Пожар!"_cp),
                  AlarmKind::Warning, false},
        EventCase{"fire_journalled_attention", false, Str(status::kAttention), kStoreTel,
                  kSms + Str("Внимание Пожар!"_cp), AlarmKind::Warning},
        EventCase{"case_opened", false, Str(status::kNormal), kOfficeTel, kSms + Str("Вскрыт корпус датчика"_cp),
                  AlarmKind::Warning, false},
        EventCase{"armed", false, kGuard, kStoreTel, kSms + Str("Поставлено на охрану"_cp), std::nullopt},
        EventCase{"armed_with_fire", false, kGuard, kStoreTel, kSms + Str("Поставлено на охрану. Внимание Пожар!"_cp),
                  AlarmKind::Warning},
        EventCase{"stranger_any_text", false, Str(status::kNormal), "+79990000000", kSms + Str("Привет"_cp),
                  AlarmKind::Stranger},
        EventCase{"stranger_alarm_text", false, Str(status::kAlarm), "+79990000000", kSms + kMarker,
                  AlarmKind::Stranger},
        EventCase{"mains_off", false, Str(status::kInfoSms), kStoreTel,
                  kSms + Str("Сетевое питание отключено, система питается от АКБ"_cp), std::nullopt},
        EventCase{"alarm_call", false, Str(status::kAlarm), kStoreTel,
                  Str("\"ТРЕВОГА\" - входящий вызов с телефона"_cp), AlarmKind::AlarmCall},
        EventCase{"call_ended_by_network", false, Str(status::kAlarm), Str("GSM-модем №1"_cp), Str("Отбой вызова!"_cp),
                  std::nullopt},
        EventCase{"ring_round_failed", true, Str(status::kOffline), kOfficeTel,
                  Str("Дозвон завершен не успешно"_cp), AlarmKind::RingRoundFailed},
        EventCase{"ring_round_answered", true, Str(status::kOnline), kOfficeTel, Str("Дозвон завершен успешно"_cp),
                  std::nullopt},
        EventCase{"balance_timeout", true, Str(status::kOffline), Str("GSM-модем №2"_cp),
                  Str("Превышен интервал времени ожидания баланса"_cp), std::nullopt},
        EventCase{"sms_sent", false, Str(status::kSmsSent), Str("GSM-модем №1"_cp), Str("Сообщение отправлено"_cp),
                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Desk, ARowNamesItsDeviceAndANumberOfNoDeviceStaysUnnamed)
{
    OpenAlarm();
    OpenAlarm("+79990000000");
    EXPECT_EQ(desk.Rows()[0].shortName, "Склад"_cp);
    EXPECT_EQ(desk.Rows()[0].listName, "Склад на Заводской, 12"_cp);
    EXPECT_EQ(desk.Rows()[1].shortName, "");
    EXPECT_TRUE(desk.AnyOpen());
}

// ------------------------------------------------------------------ modem 1 lost

TEST_F(Desk, ALossOpensOneRowHoweverManyTimeOutsAndItsReturnIsNotedOnTheRow)
{
    for (int i = 0; i < 3; ++i)
        desk.LinkLost();
    ASSERT_EQ(desk.Rows().size(), 1u);
    EXPECT_EQ(desk.Rows()[0].kind, AlarmKind::LinkLost);
    ASSERT_EQ(station.rows.size(), 1u) << "the loss itself is journalled once";
    EXPECT_EQ(station.rows[0].status, status::kOffline);
    EXPECT_EQ(station.rows[0].tel, "GSM-модем №1"_cp);
    EXPECT_EQ(station.rows[0].event, kLinkLostEvent);

    clock.Advance(90000);
    // The row's text may be journalled: the desktop's time format stays out of it.
    kv::SetDateTimeFormatsOf("en_US");
    Event(Str(status::kOnline), Str("GSM-модем №1"_cp), Str("Соединение с GSM-модулем восстановлено"_cp));
    kv::SetDateTimeFormatsOf("");
    ASSERT_EQ(desk.Rows().size(), 1u) << "the operator still has to see that the station was deaf";
    EXPECT_EQ(desk.Rows()[0].what, std::string(kLinkLostEvent) + Str("; связь восстановлена в 12:01:30"_cp));
    EXPECT_FALSE(desk.LinkDown());

    desk.LinkLost();
    EXPECT_EQ(desk.Rows().size(), 2u) << "a new loss is a new row";
    // A return without a loss changes nothing.
    Event(Str(status::kOnline), Str("GSM-модем №1"_cp), Str("Соединение с GSM-модулем восстановлено"_cp));
    Event(Str(status::kOnline), Str("GSM-модем №1"_cp), Str("Соединение с GSM-модулем восстановлено"_cp));
    EXPECT_EQ(desk.Rows()[1].what.find(Str("восстановлена"_cp)), desk.Rows()[1].what.rfind(Str("восстановлена"_cp)));
}

// ------------------------------------------------------------------ handling

TEST_F(Desk, HandlingJournalsResultCommentOperatorAndWaitThenClosesTheRow)
{
    station.lastSeq = 7;
    station.numberRows = true;
    const std::uint64_t id = OpenAlarm();
    OpenAlarm(kOfficeTel);
    clock.Advance(83000);
    ASSERT_TRUE(desk.Handle(id, kHandlingResults[1], "Группа 3\nна месте "_cp, Str("Иванов"_cp)));
    EXPECT_EQ(station.told, (std::vector<std::string>{Str("handled main 7 by row 8: Выезд группы|Группа 3 на месте|Иванов"_cp)}))
        << "the centre closes its copy with the journalled row's result, comment and operator";
    ASSERT_EQ(station.rows.size(), 1u);
    EXPECT_EQ(station.rows[0].status, status::kHandling);
    EXPECT_EQ(station.rows[0].tel, kStoreTel);
    EXPECT_EQ(station.rows[0].event, "Обработано: Выезд группы. Группа 3 на месте (оператор Иванов, ждала 1:23)"_cp);
    ASSERT_EQ(desk.Rows().size(), 1u);
    EXPECT_EQ(desk.Rows()[0].tel, kOfficeTel) << "the other row stays";
    EXPECT_FALSE(desk.Handle(id, kHandlingResults[0], {}, Str("Иванов"_cp))) << "handled once only";
    EXPECT_EQ(station.rows.size(), 1u);
}

TEST_F(Desk, ATileAcknowledgesTheRowsOfItsDeviceOnlyOnceAndTheyStayOpenUntilHandled)
{
    desk.SetEscalation("1", "+79110000001");
    OpenAlarm();
    OpenAlarm(kOfficeTel);
    OpenAlarm();
    station.rows.clear();
    std::vector<std::string> tiles;
    desk.OnAcknowledged = [&](const std::string& name) { tiles.push_back(name); };
    clock.StepWall(60.0); // 12:01 on the wall clock
    EXPECT_EQ(desk.AcknowledgeDevice(Str("Склад"_cp), Str("Петрова"_cp)), 2);
    ASSERT_EQ(station.rows.size(), 2u);
    for (const JournalRow& r : station.rows) {
        EXPECT_EQ(r.status, status::kHandling);
        EXPECT_EQ(r.event, "Обработано: Принята с табло. (оператор Петрова, ждала 0:00)"_cp);
    }
    EXPECT_EQ(tiles, std::vector<std::string>{Str("Склад"_cp)});
    EXPECT_EQ(desk.AcknowledgeDevice(Str("Склад"_cp), Str("Иванов"_cp)), 0) << "acknowledged once";
    EXPECT_EQ(desk.AcknowledgeDevice({}, Str("Петрова"_cp)), 0) << "an empty tile is no device";
    EXPECT_EQ(desk.AcknowledgeDevice("        ", Str("Петрова"_cp)), 0);
    EXPECT_EQ(station.rows.size(), 2u);
    ASSERT_EQ(desk.Rows().size(), 3u) << "acknowledged rows stay until handled";
    EXPECT_EQ(AckText(desk.Rows()[0]), "принята Петрова 12:01"_cp);
    EXPECT_EQ(AckText(desk.Rows()[1]), "") << "the office's row is not";
    EXPECT_TRUE(desk.AnyUnacknowledged());

    // Past the escalation time only the rows nobody acknowledged go out.
    Wait(61);
    std::vector<std::string> escalated;
    for (int i = 0; i < 4 && !station.sends.empty(); ++i) {
        escalated.push_back(station.sends.back().text);
        station.sends.back().outcome(true);
        station.sends.pop_back();
        Wait(1);
    }
    ASSERT_EQ(escalated.size(), 1u);
    EXPECT_NE(escalated[0].find(Str("Офис"_cp)), std::string::npos);

    // Handling them: each with its own result, or all of the device at once.
    const std::uint64_t first = desk.Rows()[0].id;
    ASSERT_TRUE(desk.Handle(first, kHandlingResults[1], {}, Str("Петрова"_cp)));
    EXPECT_EQ(desk.HandleDevice(Str("Склад"_cp), kHandlingResults[0], "x", Str("Петрова"_cp)), 1);
    EXPECT_EQ(desk.HandleDevice(Str("Склад"_cp), kHandlingResults[0], "x", Str("Петрова"_cp)), 0);
    EXPECT_EQ(desk.AcknowledgeDevice(Str("Офис"_cp), Str("Петрова"_cp)), 1);
    ASSERT_EQ(desk.Rows().size(), 1u) << "the office's row stays";
    EXPECT_FALSE(desk.AnyUnacknowledged());
    EXPECT_EQ(tiles.size(), 4u) << "each handling and acknowledgement reaches the board";

    // Handling an acknowledged row leaves a newer one of the device blinking.
    OpenAlarm();
    desk.AcknowledgeDevice(Str("Склад"_cp), Str("Петрова"_cp));
    OpenAlarm();
    ASSERT_TRUE(desk.Handle(desk.Rows()[1].id, kHandlingResults[0], {}, Str("Петрова"_cp)));
    EXPECT_EQ(tiles.size(), 5u);
    EXPECT_TRUE(desk.AnyUnacknowledged());
}

TEST_F(Desk, TheQueueTakesTheMostUrgentFirstTheOldestFirstWithinAndSoundsWhatNobodyAcknowledged)
{
    EXPECT_EQ(desk.SoundingPriority(), 0);
    desk.LinkLost();                                                  // 5
    Event(Str(status::kAlarm), kOfficeTel, kSms + kMarker);           // 2
    desk.DeviceSilent(kStoreTel, "");                                 // 4
    Event(Str(status::kAlarm), kStoreTel, kSms + kMarker);            // 2, newer
    Event(Str(status::kNormal), kStoreTel, kSms + Str("Внимание Пожар!"_cp)); // 1, newest
    const auto order = [&] {
        std::vector<std::string> seen;
        for (const kv::OpenAlarm* a : desk.Queue())
            seen.push_back(std::to_string(a->priority) + " " + (a->shortName.empty() ? a->tel : a->shortName));
        return seen;
    };
    const std::string store = Str("Склад"_cp), office = Str("Офис"_cp);
    EXPECT_EQ(order(), (std::vector<std::string>{"1 " + store, "2 " + office, "2 " + store, "4 " + store,
                                                 "5 " + desk.Rows()[0].tel}));
    EXPECT_EQ(desk.Rows().front().kind, AlarmKind::LinkLost) << "the desk's own list stays oldest first";
    EXPECT_EQ(desk.SoundingPriority(), 1);
    desk.AcknowledgeDevice(store, "A");
    EXPECT_EQ(desk.SoundingPriority(), 2) << "acknowledged rows are silent; the office's alarm still sounds";
    desk.AcknowledgeDevice(office, "A");
    EXPECT_EQ(desk.SoundingPriority(), 5) << "the modem's loss is nobody's tile";

    // Another table re-ranks the rows already open.
    AlarmPriorities p;
    p.of[static_cast<std::size_t>(AlarmKind::LinkLost)] = 1;
    desk.SetPriorities(p);
    EXPECT_EQ(order().front(), "1 " + desk.Rows()[0].tel);
    EXPECT_EQ(order()[1], "1 " + store) << "equal priorities: the older first";
    EXPECT_EQ(desk.SoundingPriority(), 1);
}

struct PriorityText {
    const char* file;
    std::vector<std::pair<AlarmKind, int>> expect;
    std::size_t problems;
};

TEST(Priorities, TheTableKeepsItsDefaultsForWhatIsMissingOrUnusableAndSaysWhy)
{
    TempDir dir;
    const PriorityText cases[] = {
        {"", {{AlarmKind::Warning, 1}, {AlarmKind::Intrusion, 2}, {AlarmKind::AlarmCall, 3}, {AlarmKind::Silent, 4},
              {AlarmKind::RingRoundFailed, 4}, {AlarmKind::LinkLost, 5}, {AlarmKind::Stranger, 6}}, 0},
        {"[Priorities]\r\nFire=3\r\nLinkLost = 1 \r\nstranger=9\r\n",
         {{AlarmKind::Warning, 3}, {AlarmKind::LinkLost, 1}, {AlarmKind::Stranger, 9}, {AlarmKind::Intrusion, 2}}, 0},
        {"[Priorities]\nIntrusion=0\nAlarmCall=10\nSilent=x\nFire=\nLinkLost=-1\nUnknownKind=1\n",
         {{AlarmKind::Intrusion, 2}, {AlarmKind::AlarmCall, 3}, {AlarmKind::Silent, 4}, {AlarmKind::Warning, 1},
          {AlarmKind::LinkLost, 5}}, 5},
        {"\xff\x01garbage\n[Priorities\nFire=9\n", {{AlarmKind::Warning, 1}}, 0},
    };
    for (const PriorityText& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFileBytes("config.ini", c.file);
        std::vector<std::string> problems;
        const AlarmPriorities p = ReadPriorities(IniFile("config.ini"), problems);
        for (const auto& [kind, priority] : c.expect)
            EXPECT_EQ(p.Of(kind), priority) << static_cast<int>(kind);
        EXPECT_EQ(problems.size(), c.problems);
        for (const std::string& problem : problems)
            EXPECT_NE(problem.find(Str("нужно число от 1 до 9"_cp)), std::string::npos) << problem;
    }
    EXPECT_EQ(PrioritySound(1), Sound::Urgent);
    EXPECT_EQ(PrioritySound(3), Sound::Alarm);
    EXPECT_EQ(PrioritySound(4), Sound::Trouble);
}

TEST_F(Desk, LeftOpenAtALogoutEachRowIsJournalledAndStaysForTheNextOperator)
{
    OpenAlarm();
    clock.Advance(5000);
    desk.LinkLost();
    clock.Advance(130000);
    desk.LeftOpen(Str("Иванов"_cp));
    ASSERT_EQ(station.With(status::kUnhandled).size(), 2u);
    EXPECT_TRUE(station.With(status::kHandling).empty()) << "not handled: a status of its own";
    EXPECT_EQ(station.With(status::kUnhandled)[0].event,
              Str("Не обработано: "_cp) + kSms + kMarker + Str(" (оператор Иванов, ждала 2:15)"_cp));
    EXPECT_EQ(station.With(status::kUnhandled)[1].tel, "GSM-модем №1"_cp);
    EXPECT_EQ(desk.Rows().size(), 2u);
    desk.LeftOpen({});
    EXPECT_NE(station.rows.back().event.find(" (без оператора, ждала 2:10)"_cp), std::string::npos);
    desk.Clear();
    EXPECT_FALSE(desk.AnyOpen());
}

// ------------------------------------------------------------------ texts

TEST(DeskTexts, CommentsAreCleanedAndCutAndEveryRowFitsTheJournal)
{
    EXPECT_EQ(WaitText(0), "0:00");
    EXPECT_EQ(WaitText(61), "1:01");
    EXPECT_EQ(WaitText(3600 + 59), "60:59");

    EXPECT_EQ(CleanComment("  ложный\r\nвызов\tсосед\"а\"  "_cp), "ложный  вызов сосед\"а\""_cp);
    const std::string long500(500, 'x');
    EXPECT_EQ(CleanComment(long500), std::string(kCommentLimit, 'x'));

    const std::string user(100, 'u');
    for (const std::string& comment : {long500, std::string("\r\n\r\n"), std::string()}) {
        const std::string event = HandledEvent(kHandlingResults[2], comment, user, 99999);
        EXPECT_LE(event.size(), 200u);
        EXPECT_NE(event.find(Str(", ждала 1666:39)"_cp)), std::string::npos) << "the wait is never cut: " << event;
        EXPECT_EQ(event.find('\r'), std::string::npos);
    }
    EXPECT_EQ(HandledEvent(kHandlingResults[0], "  ", "A", 5), "Обработано: Ложная тревога. (оператор A, ждала 0:05)"_cp);
    const std::string unhandled = UnhandledEvent(std::string(300, 'w'), user, 7);
    EXPECT_EQ(unhandled.size(), 200u);
    EXPECT_NE(unhandled.find(", ждала 0:07)"_cp), std::string::npos);
}

TEST(DeskTexts, TheEscalationSmsFitsOneUcs2MessageCuttingWhatFirst)
{
    OpenAlarm a;
    a.openedAt = EncodeDateTime({2026, 12, 9, 3, 7, 0, 0});
    a.tel = kStoreTel;
    a.shortName = Str("Склад"_cp);
    const std::string what = kMarker + Str(" Сработал датчик зоны 2"_cp);
    a.what = kSms + what;
    EXPECT_EQ(EscalationText(a), Str("Korvalen: тревога Склад 03:07 ("_cp) + kMarker + Str("…) не обработана"_cp))
        << "cut after a whole word";

    a.what = Str("\"ТРЕВОГА\""_cp);
    EXPECT_EQ(EscalationText(a), Str("Korvalen: тревога Склад 03:07 (\"ТРЕВОГА\") не обработана"_cp)) << "short: whole";

    a.shortName = std::string(50, 'N');
    const std::string longName = EscalationText(a);
    EXPECT_LE(longName.size(), kSmsLimit);
    EXPECT_NE(longName.find("(\"" + Str("ТРЕВ"_cp)), std::string::npos) << "a long name leaves room for what: " << longName;

    a.shortName = "        ";
    a.tel = Str("GSM-модем №1"_cp);
    EXPECT_EQ(EscalationText(a).rfind(Str("Korvalen: тревога GSM-модем №1 03:07"_cp), 0), 0u) << "no device: its number";
}

// Every kind's longest text: within one SMS, the name whole, the alarm's own
// text whole words with "…" or left out.
TEST(DeskTexts, EveryKindsEscalationKeepsItsNameAndWholeWords)
{
    const std::string modem1 = Str("GSM-модем №1"_cp);
    struct Kind {
        AlarmKind kind;
        std::string tel, shortName, what;
    };
    const std::string longSms = kSms + Str("Внимание ТРЕВОГА! Сработал датчик движения в зоне 12, шлейф 3, вход со стороны двора"_cp);
    const Kind kinds[] = {
        {AlarmKind::Intrusion, kStoreTel, Str("Котельн "_cp), longSms},
        {AlarmKind::AlarmCall, kStoreTel, Str("Магазин"_cp), Str("\"ТРЕВОГА\" - входящий вызов с телефона"_cp)},
        {AlarmKind::Warning, kOfficeTel, Str("Офис"_cp), kSms + Str("Внимание Пожар! Сработал пожарный шлейф 1, помещение склада"_cp)},
        {AlarmKind::RingRoundFailed, kOfficeTel, Str("Котельня"_cp), Str("Дозвон завершен не успешно"_cp)},
        {AlarmKind::LinkLost, modem1, "", std::string(kLinkLostEvent)},
        {AlarmKind::LinkLost, modem1, "", std::string(kLinkLostEvent) + Str("; связь восстановлена в 12:01:30"_cp)},
        {AlarmKind::Stranger, "+79990000000123", "", longSms},
        {AlarmKind::Silent, kStoreTel, Str("Склад"_cp),
         std::string(kSilentEvent) + Str("; последняя связь 09.12.2026 22:40:11 (обзвон), контроль 2 ч"_cp)},
        {AlarmKind::Silent, kStoreTel, Str("Склад"_cp), std::string(kSilentEvent)},
    };
    for (const Kind& k : kinds) {
        OpenAlarm a;
        a.kind = k.kind;
        a.openedAt = EncodeDateTime({2026, 12, 9, 23, 59, 0, 0});
        a.tel = k.tel;
        a.shortName = k.shortName;
        a.what = k.what;
        const std::string text = EscalationText(a);
        const std::string name = k.shortName.empty() ? k.tel : std::string(TrimBlanks(k.shortName));
        SCOPED_TRACE(test::Cp1251ToUtf8(text));
        EXPECT_LE(text.size(), kSmsLimit);
        ASSERT_EQ(text.rfind(Str("Korvalen: тревога "_cp) + name + " 23:59", 0), 0u) << "the name whole";
        ASSERT_TRUE(text.ends_with(Str(" не обработана"_cp)));
        const std::size_t open = text.find(" (");
        if (open == std::string::npos)
            continue;
        std::string said = text.substr(open + 2, text.size() - open - 2 - Str(") не обработана"_cp).size());
        std::string what = k.what.starts_with(kSms) ? k.what.substr(kSms.size()) : k.what;
        if (said.ends_with("…"_cp)) {
            said.resize(said.size() - 1);
            ASSERT_EQ(what.rfind(said, 0), 0u) << "a start of the alarm's text";
            EXPECT_TRUE(what[said.size()] == ' ' || what[said.size()] == ',') << "cut after a whole word";
            EXPECT_GT(said.size() - said.rfind(' '), 3u) << "not ending on a word of two letters";
        } else if (said != what) {
            // The station's own texts have a short form that keeps their sense.
            const std::map<AlarmKind, std::string> shortForms = {{AlarmKind::AlarmCall, Str("Тревожный вызов"_cp)},
                                                                 {AlarmKind::RingRoundFailed, Str("Дозвон не удался"_cp)},
                                                                 {AlarmKind::LinkLost, Str("Потеряна связь"_cp)},
                                                                 {AlarmKind::Silent, std::string(kSilentEvent)}};
            EXPECT_EQ(said, shortForms.count(k.kind) ? shortForms.at(k.kind) : what);
        }
    }
    OpenAlarm link;
    link.kind = AlarmKind::LinkLost;
    link.tel = modem1;
    link.what = std::string(kLinkLostEvent);
    EXPECT_EQ(EscalationText(link), Str("Korvalen: тревога GSM-модем №1 00:00 (Потеряна связь) не обработана"_cp));
    link.kind = AlarmKind::Intrusion;
    link.what = kSms + Str("Сетевое питание не восстановлено, работа от АКБ"_cp);
    EXPECT_EQ(EscalationText(link), Str("Korvalen: тревога GSM-модем №1 00:00 (Сетевое питание…) не обработана"_cp))
        << "never \"питание не…\"";
}

struct SettingsCase {
    const char* name;
    std::string minutes, numbers;
    double expectMinutes;
    std::vector<std::string> expectNumbers;
    std::size_t problems;
};

class EscalationSettingsText : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(EscalationSettingsText, KeepsWhatIsUsableAndTellsTheRest)
{
    std::vector<std::string> problems;
    const EscalationSettings s = ParseEscalation(GetParam().minutes, GetParam().numbers, problems);
    EXPECT_DOUBLE_EQ(s.minutes, GetParam().expectMinutes);
    EXPECT_EQ(s.numbers, GetParam().expectNumbers);
    EXPECT_EQ(problems.size(), GetParam().problems);
}

INSTANTIATE_TEST_SUITE_P(
    Config, EscalationSettingsText,
    ::testing::Values(SettingsCase{"off_by_default", "", "", 0, {}, 0}, SettingsCase{"zero", "0", "+7911", 0, {"+7911"}, 0},
                      SettingsCase{"plain", "5", "+79111111111,89122222222", 5, {"+79111111111", "89122222222"}, 0},
                      SettingsCase{"blanks_dropped", " 2.5 ", " +7 911 111 11 11 , 8912 ", 2.5,
                                   {"+79111111111", "8912"}, 0},
                      SettingsCase{"empty_entries_skipped", "1", "+7911,, ,+7912,", 1, {"+7911", "+7912"}, 3},
                      SettingsCase{"letters_skipped", "1", "+7911,abc,+79x1,8-912", 1, {"+7911"}, 3},
                      SettingsCase{"repeats_once", "1", "+7911,+7911", 1, {"+7911"}, 0},
                      SettingsCase{"negative_is_off", "-5", "+7911", 0, {"+7911"}, 1},
                      SettingsCase{"text_is_off", "пять", "+7911", 0, {"+7911"}, 1},
                      SettingsCase{"number_then_text_is_off", "5min", "+7911", 0, {"+7911"}, 1},
                      SettingsCase{"infinite_is_off", "inf", "+7911", 0, {"+7911"}, 1},
                      SettingsCase{"beyond_a_year_is_off", "1e300", "+7911", 0, {"+7911"}, 1},
                      SettingsCase{"a_year_is_kept", "527040", "+7911", 527040, {"+7911"}, 0},
                      SettingsCase{"time_without_numbers", "3", " , ", 3, {}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Desk, SettingsProblemsAreToldOncePerChange)
{
    desk.SetEscalation("-1", "+7911,x");
    desk.SetEscalation("-1", "+7911,x");
    EXPECT_EQ(station.techno.size(), 2u);
    desk.SetEscalation("1", "+7911");
    EXPECT_EQ(station.techno.size(), 2u);
    EXPECT_DOUBLE_EQ(desk.Escalation().minutes, 1);
}

// ------------------------------------------------------------------ escalation

TEST_F(Desk, ALongAlarmTextIsGivenWholeWithItsOneSmsForm)
{
    desk.SetEscalation("1", "+79110000001");
    const std::string what = kMarker + Str(" Сработал датчик зоны 2, открыта дверь склада, нет связи с охраной"_cp);
    Event(Str(status::kAlarm), kStoreTel, kSms + what);
    Wait(61);
    ASSERT_EQ(station.sends.size(), 1u);
    const auto& send = station.sends[0];
    EXPECT_EQ(send.text, Str("Korvalen: тревога Склад 12:00 ("_cp) + what + Str(") не обработана"_cp));
    EXPECT_LE(send.oneSms.size(), kSmsLimit);
    EXPECT_EQ(send.oneSms, EscalationText(desk.Rows().back()));
    EXPECT_NE(send.oneSms, send.text);
    send.outcome(true);
    ASSERT_EQ(station.With(status::kSmsSent).size(), 1u);
}

TEST_F(Desk, AfterTheTimeEachNumberGetsOneSmsAndEachOutcomeIsJournalled)
{
    desk.SetEscalation("1", "+79110000001, +79110000002");
    const std::uint64_t id = OpenAlarm();
    Wait(59);
    EXPECT_TRUE(station.sends.empty()) << "not before the minute";
    Wait(2);
    ASSERT_EQ(station.sends.size(), 1u);
    EXPECT_EQ(station.sends[0].number, "+79110000001");
    EXPECT_EQ(station.sends[0].text, Str("Korvalen: тревога Склад 12:00 ("_cp) + kMarker + Str(") не обработана"_cp));
    Wait(5);
    EXPECT_EQ(station.sends.size(), 1u) << "one send at a time";
    station.sends[0].outcome(true);
    ASSERT_EQ(station.With(status::kSmsSent).size(), 1u);
    EXPECT_EQ(station.With(status::kSmsSent)[0].tel, "+79110000001");
    EXPECT_EQ(station.With(status::kSmsSent)[0].event, Str("Эскалация: "_cp) + station.sends[0].text);

    EXPECT_EQ(station.sends[0].oneSms, station.sends[0].text) << "a short text is its own one-SMS form";

    // The second number: busy at first, then refused, tried again a minute later.
    station.busy = true;
    Wait(3);
    EXPECT_EQ(station.sends.size(), 1u);
    station.busy = false;
    Wait(1);
    ASSERT_EQ(station.sends.size(), 2u);
    EXPECT_EQ(station.sends[1].number, "+79110000002");
    station.sends[1].outcome(false);
    ASSERT_EQ(station.With(status::kSmsFailed).size(), 1u);
    EXPECT_EQ(station.With(status::kSmsFailed)[0].event, Str("Эскалация не отправлена: "_cp) + station.sends[1].text);
    Wait(59);
    EXPECT_EQ(station.sends.size(), 2u);
    Wait(2);
    ASSERT_EQ(station.sends.size(), 3u);
    EXPECT_EQ(station.sends[2].number, "+79110000002");
    station.sends[2].outcome(true);
    Wait(600);
    EXPECT_EQ(station.sends.size(), 3u) << "once per number";
    EXPECT_EQ(station.With(status::kSmsSent).size(), 2u);

    // An outcome that comes after the row was handled is still on record.
    const std::uint64_t later = OpenAlarm(kOfficeTel);
    Wait(61);
    ASSERT_EQ(station.sends.size(), 4u);
    ASSERT_TRUE(desk.Handle(later, kHandlingResults[0], {}, "A"));
    station.sends[3].outcome(true);
    EXPECT_EQ(station.With(status::kSmsSent).size(), 3u);
    EXPECT_TRUE(desk.Handle(id, kHandlingResults[0], {}, "A"));
}

TEST_F(Desk, AnAlarmTheCentreGaveThisReceiverGoesToEachNumberOnceUnshownAndIsDoneWith)
{
    desk.SetEscalation("5", "+79110000001, +79110000002");
    // The station crashed now and started again from its record: the numbers
    // its escalations of centre alarms go on to (the centre leaves those to it).
    const auto resumed = [&](int shown) {
        VirtualClock later(46000.6);
        RecordingDeskStation next;
        next.forwarded = station.forwarded;
        next.lastSeq = station.lastSeq;
        AlarmDesk restarted(next, later);
        restarted.SetEscalation("5", "+79110000001, +79110000002");
        EXPECT_EQ(restarted.Restore(desk.RecordText()), shown) << "not shown: the desks' queue shows them";
        std::vector<std::string> sent;
        for (int i = 0; i < 3; ++i) {
            restarted.Tick();
            for (; sent.size() < next.sends.size(); next.sends[sent.size() - 1].outcome(true))
                sent.push_back(next.sends[sent.size()].number + " " + next.sends[sent.size()].text);
        }
        return sent;
    };
    centre::CentreAlarm far;
    far.id = 77;
    far.station = "south";
    far.shortName = Str("Гараж"_cp);
    far.tel = "+79990000000";
    far.kind = "Fire";
    far.event = kSms + kMarker;
    far.openedAt = 46000.49;
    far.state = "open";
    desk.EscalateClaimed({far});
    EXPECT_TRUE(desk.Rows().empty()) << "escalated from here, shown by the desks' queue";
    ASSERT_EQ(station.sends.size(), 1u) << "claimed once its time was up: at once";
    EXPECT_EQ(station.sends[0].text, Str("Korvalen: тревога Гараж 11:45 ("_cp) + kMarker + Str(") не обработана"_cp));
    // A send under way is sent again, as for a row of its own: an SMS too many
    // rather than none.
    EXPECT_EQ(resumed(0), (std::vector<std::string>{"+79110000001 " + station.sends[0].text,
                                                    "+79110000002 " + station.sends[0].text}));
    station.sends[0].outcome(true);
    EXPECT_EQ(resumed(0), std::vector<std::string>{"+79110000002 " + station.sends[0].text});
    Wait(1);
    ASSERT_EQ(station.sends.size(), 2u);
    EXPECT_EQ(station.sends[1].number, "+79110000002");
    station.sends[1].outcome(false);
    for (int i = 0; i < 2; ++i) {
        Wait(61);
        ASSERT_EQ(station.sends.size(), 3u + i) << "a refusal is tried again";
        station.sends.back().outcome(false);
    }
    Wait(600);
    EXPECT_EQ(station.sends.size(), 4u) << "given up after three refusals, and never sent again";
    EXPECT_EQ(station.With(status::kSmsSent).size(), 1u);
    EXPECT_EQ(resumed(0), std::vector<std::string>{}) << "done with: not in the record";

    // A row of this station's own in the centre is left to the centre's choice of receiver.
    station.lastSeq = 12;
    OpenAlarm();
    station.forwarded = 12;
    station.lastSeq = 13;
    OpenAlarm(kOfficeTel);
    Wait(301);
    ASSERT_EQ(station.sends.size(), 5u) << "only the row the centre has not got yet";
    EXPECT_NE(station.sends[4].text.find(Str("Офис"_cp)), std::string::npos);
    station.sends[4].outcome(true);
    EXPECT_EQ(station.told, (std::vector<std::string>{"escalated main 13"})) << "its own row, not the claimed one";
    // Its row reaches the centre, marked escalated, and the centre's copy
    // stands in for it: this desk finishes what it began.
    station.forwarded = 13;
    centre::CentreAlarm copy = far;
    copy.id = 90;
    copy.station = "north";
    copy.seq = 13;
    copy.tel = kOfficeTel;
    copy.escalated = true;
    desk.SetCentreAlarms({copy}, "north");
    const auto standIn = std::find_if(desk.Rows().begin(), desk.Rows().end(),
                                      [](const kv::OpenAlarm& a) { return a.centreId == 90; });
    ASSERT_NE(standIn, desk.Rows().end());
    EXPECT_EQ(standIn->escalatedTo, std::vector<std::string>{"+79110000001"});
    const std::vector<std::string> afterCrash = resumed(1);
    ASSERT_EQ(afterCrash.size(), 1u) << "the stand-in goes on to the number it has not reached";
    Wait(1);
    ASSERT_EQ(station.sends.size(), 6u);
    EXPECT_EQ(station.sends[5].number, "+79110000002");
    EXPECT_EQ(afterCrash[0], "+79110000002 " + station.sends[5].text) << "the SMS it would have sent";
    station.sends.back().outcome(true);
    EXPECT_EQ(station.told.size(), 1u) << "told once, at the first number reached";

    // Without modem 1 it waits, told once, as a row of its own would.
    const std::size_t sent = station.sends.size();
    station.running = false;
    far.id = 78;
    desk.EscalateClaimed({far});
    Wait(3);
    EXPECT_EQ(station.sends.size(), sent);
    station.running = true;
    Wait(1);
    EXPECT_EQ(station.sends.size(), sent + 1);
}

TEST_F(Desk, RefusedThreeTimesANumberIsGivenUp)
{
    desk.SetEscalation("1", "+79110000001");
    OpenAlarm();
    for (int i = 0; i < 5; ++i) {
        Wait(61);
        if (station.sends.size() > static_cast<std::size_t>(i))
            station.sends.back().outcome(false);
    }
    EXPECT_EQ(station.sends.size(), static_cast<std::size_t>(AlarmDesk::kEscalationTries));
}

TEST_F(Desk, WithoutModem1TheWaitIsJournalledOnceAndTheSmsGoesWhenItRuns)
{
    desk.SetEscalation("1", "+79110000001");
    station.running = false;
    OpenAlarm();
    Wait(120);
    EXPECT_TRUE(station.sends.empty());
    ASSERT_EQ(station.With(status::kSmsFailed).size(), 1u);
    EXPECT_EQ(station.With(status::kSmsFailed)[0].event,
              "Эскалация отложена: GSM-модем №1 не запущен. Тревога Склад 12:00"_cp);
    station.running = true;
    desk.LinkLost();
    Wait(5);
    EXPECT_TRUE(station.sends.empty()) << "a silent modem sends nothing";
    EXPECT_EQ(station.With(status::kSmsFailed).size(), 1u) << "a row says why it waits once";
    Event(Str(status::kOnline), Str("GSM-модем №1"_cp), Str("Соединение с GSM-модулем восстановлено"_cp));
    Wait(1);
    ASSERT_EQ(station.sends.size(), 1u);
}

TEST_F(Desk, AnOutcomeThatNeverComesIsGivenUpAndOneAfterTheDeskIsHarmless)
{
    desk.SetEscalation("1", "+79110000001,+79110000002");
    OpenAlarm();
    Wait(61);
    ASSERT_EQ(station.sends.size(), 1u);
    Wait(AlarmDesk::kSendGiveUpMs / 1000 + 1);
    ASSERT_EQ(station.sends.size(), 2u) << "the next number is not held up for good";
    EXPECT_EQ(station.sends[1].number, "+79110000002");
    EXPECT_EQ(station.With(status::kSmsFailed).size(), 1u) << "the send without an answer counts as failed";
    station.sends[0].outcome(true); // too late: not the send under way
    EXPECT_TRUE(station.With(status::kSmsSent).empty());
    station.sends[1].outcome(true);
    EXPECT_EQ(station.With(status::kSmsSent).size(), 1u);
    auto late = std::make_unique<AlarmDesk>(station, clock);
    late->SetEscalation("1", "+79110000003");
    late->Reported(AlarmKind::Intrusion, kStoreTel, kSms + kMarker, Str("Склад"_cp));
    clock.Advance(61000);
    late->Tick();
    ASSERT_EQ(station.sends.size(), 3u);
    late.reset();
    station.sends[2].outcome(true); // no desk any more
    EXPECT_EQ(station.With(status::kSmsSent).size(), 1u);
}

// The operator or the network sets the wall clock: the waits and the
// escalation go by the monotonic clock, and each step over a minute is told once.
TEST_F(Desk, AWallClockStepMovesNoWaitNorEscalationAndIsToldOnce)
{
    desk.SetEscalation("2", "+79110000001");
    const std::uint64_t id = OpenAlarm();
    Wait(30);
    clock.StepWall(-3600);
    Wait(1);
    EXPECT_EQ(station.techno, std::vector<std::string>{Str("Системное время изменено: было 12:00:31, стало 11:00:31"_cp)});
    clock.StepWall(30);
    Wait(60);
    EXPECT_EQ(station.techno.size(), 1u) << "half a minute is no step";
    EXPECT_EQ(desk.WaitedSeconds(*desk.Find(id)), 91u);
    clock.StepWall(-13 * 3600); // across midnight: the dates tell the day
    Wait(1);
    ASSERT_EQ(station.techno.size(), 2u);
    EXPECT_EQ(station.techno[1], Str("Системное время изменено: было 09.12.2025 11:02:02, стало 08.12.2025 22:02:02"_cp));
    clock.StepWall(14 * 3600);
    Wait(27);
    EXPECT_TRUE(station.sends.empty()) << "not before two minutes of waiting";
    Wait(1);
    ASSERT_EQ(station.sends.size(), 1u);
    EXPECT_EQ(desk.WaitedSeconds(*desk.Find(id)), 120u);
    EXPECT_EQ(station.sends[0].text, Str("Korvalen: тревога Склад 12:00 ("_cp) + kMarker + Str(") не обработана"_cp))
        << "the row keeps the time it came";
    EXPECT_EQ(station.techno.size(), 3u);
}

// ------------------------------------------------------------------ strangers

TEST_F(Desk, AStrangerIsOneRowPerNumberUntilHandledAndNeverReachesTheResponders)
{
    desk.SetEscalation("1", "+79110000001,+79110000002");
    std::vector<std::string> strangers;
    for (int i = 0; i < 10; ++i) {
        strangers.push_back("+7999000000" + std::to_string(i));
        Event(Str(status::kAlarm), strangers.back(), kSms + kMarker);
    }
    // The same number again, with an alarm or anything else: no new row.
    Event(Str(status::kAlarm), strangers[3], kSms + kMarker);
    Event(Str(status::kNormal), strangers[3], kSms + Str("Привет"_cp));
    // A text that opens nothing from a device still opens the stranger's row.
    Event(Str(status::kNormal), "+79990000777", kSms + Str("Баланс 100 р."_cp));
    ASSERT_EQ(desk.Rows().size(), 11u);
    for (std::size_t i = 0; i < 10; ++i) {
        const auto& a = desk.Rows()[i];
        EXPECT_EQ(a.kind, AlarmKind::Stranger);
        EXPECT_EQ(a.tel, strangers[i]);
        EXPECT_EQ(a.listName, kStrangerName);
        EXPECT_EQ(a.what, kSms + kMarker) << "the first text stays";
    }
    Wait(3600);
    EXPECT_TRUE(station.sends.empty()) << "a stranger's text never leaves the station";
    EXPECT_TRUE(station.rows.empty()) << "the worker journals the SMS; the desk adds nothing";

    EXPECT_EQ(desk.AcknowledgeDevice(std::string(8, ' '), "A"), 0) << "no tile takes it";
    ASSERT_TRUE(desk.Handle(desk.Rows()[3].id, kHandlingResults[0], Str("спам"_cp), "A"));
    ASSERT_EQ(station.rows.size(), 1u);
    EXPECT_EQ(station.rows[0].tel, strangers[3]);
    EXPECT_EQ(station.rows[0].event, "Обработано: Ложная тревога. спам (оператор A, ждала 60:00)"_cp);
    Event(Str(status::kAlarm), strangers[3], kSms + kMarker);
    EXPECT_EQ(desk.Rows().back().tel, strangers[3]) << "handled, the number may show again";
    EXPECT_EQ(desk.Rows().size(), 11u);

    // The crash record keeps it; a kind this code does not know is skipped.
    const std::string record = desk.RecordText();
    EXPECT_NE(record.find("stranger\t"), std::string::npos);
    RecordingDeskStation next;
    AlarmDesk restarted(next, clock);
    EXPECT_EQ(restarted.Restore(record + "pager\t46000.5\t+7\t\t\tx\t\n"), 11);
    EXPECT_EQ(restarted.Rows()[0].kind, AlarmKind::Stranger);
    EXPECT_EQ(restarted.Rows()[0].listName, kStrangerName);
}

TEST_F(Desk, NoNumberGetsMoreThanTenEscalationsInAnHourTheRestWaitWithTheirRows)
{
    desk.SetEscalation("1", "+79110000001,+79110000002");
    // Twelve alarms, one every four minutes; every SMS goes at once.
    std::vector<std::uint64_t> sentAt;
    auto run = [&](std::uint64_t seconds) {
        for (std::uint64_t s = 0; s < seconds; ++s) {
            clock.Advance(1000);
            desk.Tick();
            while (sentAt.size() < station.sends.size()) {
                sentAt.push_back(clock.ElapsedMs(0));
                station.sends[sentAt.size() - 1].outcome(true);
            }
        }
    };
    for (int i = 0; i < 12; ++i) {
        OpenAlarm(i % 2 ? kOfficeTel : kStoreTel);
        run(240);
    }
    const auto to = [&](const std::string& number) {
        std::vector<std::uint64_t> times;
        for (std::size_t i = 0; i < station.sends.size(); ++i)
            if (station.sends[i].number == number)
                times.push_back(sentAt[i]);
        return times;
    };
    EXPECT_EQ(to("+79110000001").size(), 10u);
    EXPECT_EQ(to("+79110000002").size(), 10u);
    const auto held = station.With(status::kAttention);
    ASSERT_EQ(held.size(), 4u) << "two rows held, told once per row and number";
    EXPECT_EQ(held[0].tel, "+79110000001");
    EXPECT_EQ(held[0].event,
              "Эскалация задержана: превышен предел 10 SMS в час на номер +79110000001. Тревога Склад 12:40"_cp);
    EXPECT_EQ(held[1].tel, "+79110000002");

    // The hour slides past the first sends: the held rows go, each once.
    run(3600);
    for (const std::string number : {"+79110000001", "+79110000002"}) {
        const auto times = to(number);
        ASSERT_EQ(times.size(), 12u) << number;
        for (std::size_t i = 10; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 10], AlarmDesk::kHourMs) << "ten in any hour at most";
    }
    std::vector<std::string> texts;
    for (const auto& send : station.sends)
        texts.push_back(send.number + send.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << "one SMS per row and number";
    EXPECT_EQ(station.With(status::kAttention).size(), 4u);
}

TEST_F(Desk, ARefusedEscalationDoesNotCountAgainstTheHour)
{
    desk.SetEscalation("1", "+79110000001");
    std::size_t answered = 0;
    auto run = [&](std::uint64_t seconds) {
        for (std::uint64_t s = 0; s < seconds; ++s) {
            clock.Advance(1000);
            desk.Tick();
            for (; answered < station.sends.size(); ++answered)
                station.sends[answered].outcome(answered != 0); // the first refused by the modem
        }
    };
    for (int i = 0; i < 11; ++i) {
        OpenAlarm();
        run(61);
    }
    run(600);
    EXPECT_EQ(station.With(status::kSmsSent).size(), 10u) << "ten went although eleven were tried";
    EXPECT_EQ(station.sends.size(), 11u);
    EXPECT_EQ(station.With(status::kAttention).size(), 1u) << "the eleventh row waits";
}

// ------------------------------------------------------------------ the record

TEST_F(Desk, TheRecordBringsTheOpenRowsBackWithTheirWaitsAndGoesWithTheCleanClose)
{
    desk.SetEscalation("1", "+79110000001");
    OpenAlarm();
    Event(Str(status::kNormal), kOfficeTel, kSms + Str("Внимание Пожар!\tкухня\r\nэтаж 2\\"_cp));
    EXPECT_FALSE(std::filesystem::exists(AlarmDesk::kRecordFile)) << "written once modem 1 is watched";
    desk.StartRecord();
    Wait(61);
    station.sends[0].outcome(true);
    const std::string record = ReadFileBytes(AlarmDesk::kRecordFile);
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record, desk.RecordText()) << "kept up to date";
    EXPECT_EQ(std::filesystem::status(AlarmDesk::kRecordFile).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "the open alarms are nobody else's business";

    // The next start, ten minutes later: same rows, their waits go on.
    VirtualClock later(46000.5 + 600.0 / 86400.0 + 61.0 / 86400.0);
    RecordingDeskStation next;
    AlarmDesk restarted(next, later);
    restarted.SetEscalation("1", "+79110000001");
    EXPECT_EQ(restarted.Resume(record + "garbage\tline\nintrusion\tnot-a-time\t\t\t\t\t\n"), 2);
    ASSERT_EQ(next.rows.size(), 1u);
    EXPECT_EQ(next.rows[0].status, status::kAttention);
    EXPECT_EQ(next.rows[0].event, kResumeEvent);
    ASSERT_EQ(restarted.Rows().size(), 2u);
    EXPECT_EQ(restarted.Rows()[1].what, kSms + Str("Внимание Пожар!\tкухня\r\nэтаж 2\\"_cp));
    EXPECT_EQ(restarted.Rows()[0].shortName, "Склад"_cp);
    EXPECT_EQ(restarted.Rows()[0].kind, AlarmKind::Intrusion);
    EXPECT_EQ(restarted.WaitedSeconds(restarted.Rows()[0]), 661u);
    restarted.Tick();
    ASSERT_EQ(next.sends.size(), 1u) << "the office's row escalates; the store's was sent before the crash";
    EXPECT_NE(next.sends[0].text.find(Str("Офис"_cp)), std::string::npos);

    EXPECT_EQ(restarted.Resume("not a record"), 0);
    desk.EndRecord();
    EXPECT_FALSE(std::filesystem::exists(AlarmDesk::kRecordFile));
}

TEST_F(Desk, TheRecordKeepsWhoAcknowledgedOnALineOfItsOwn)
{
    OpenAlarm();
    OpenAlarm(kOfficeTel);
    desk.AcknowledgeDevice(Str("Склад"_cp), Str("Петрова"_cp));
    const std::string record = desk.RecordText();
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> out;
        std::istringstream in(record);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2].rfind(Str("ack\tПетрова\t"_cp), 0), 0u) << "right after its row: " << lines[2];
    EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), '\t'), 6) << "the row itself as before";

    VirtualClock later(46000.6);
    RecordingDeskStation next;
    AlarmDesk restarted(next, later);
    // An acknowledgement with no row before it belongs to nothing.
    ASSERT_EQ(restarted.Restore(lines[0] + "\n" + lines[2] + "\n" + record.substr(lines[0].size() + 1)), 2);
    EXPECT_EQ(AckText(restarted.Rows()[0]), "принята Петрова 12:00"_cp);
    EXPECT_FALSE(restarted.Rows()[1].acked);

    // A record of the station before acknowledgements: every row unacknowledged.
    AlarmDesk older(next, later);
    ASSERT_EQ(older.Restore(lines[0] + "\n" + lines[1] + "\n" + lines[3] + "\n"), 2);
    EXPECT_FALSE(older.Rows()[0].acked);
    EXPECT_TRUE(older.AnyUnacknowledged());
}

// ------------------------------------------------------------------ the centre's queue

TEST_F(Desk, TheCentresQueueStandsInForThisStationsRowsAndTellsWhoHoldsAndWhatWasClosedElsewhere)
{
    station.lastSeq = 41;
    const std::uint64_t own = OpenAlarm();
    desk.AcknowledgeDevice(Str("Склад"_cp), Str("Петрова"_cp));
    station.lastSeq = 42;
    OpenAlarm(kOfficeTel); // not forwarded yet: the desk's own row
    {
        const std::string record = desk.RecordText();
        EXPECT_NE(record.find("\nrow\tmain\t41\n"), std::string::npos) << record;
        VirtualClock later(46000.6);
        RecordingDeskStation next;
        AlarmDesk restarted(next, later);
        ASSERT_EQ(restarted.Restore(record), 2);
        EXPECT_EQ(restarted.Rows()[0].seq, 41u);
        EXPECT_TRUE(restarted.Rows()[0].acked) << "the acknowledgement follows its number";
    }
    std::vector<bool> opened;
    desk.OnChanged = [&](bool o) { opened.push_back(o); };
    std::vector<std::string> calmed;
    desk.OnAcknowledged = [&](const std::string& name) { calmed.push_back(name); };

    centre::CentreAlarm mine;
    mine.id = 7;
    mine.station = "north";
    mine.seq = 41;
    mine.shortName = Str("Склад"_cp);
    mine.tel = kStoreTel;
    mine.kind = "Intrusion";
    mine.event = kSms + kMarker;
    mine.openedAt = 46000.5;
    mine.state = "open";
    centre::CentreAlarm theirs = mine;
    theirs.id = 8;
    theirs.station = "south";
    theirs.shortName = Str("Гараж"_cp);
    theirs.tel = "+79990000000";
    theirs.kind = "Fire";
    theirs.openedAt = 46000.49;
    theirs.state = "taken";
    theirs.takenBy = Str("Иванов"_cp);
    centre::CentreAlarm ring = mine; // the same number in the ring journal is another row
    ring.id = 9;
    ring.journal = "ring";
    ring.kind = "RingRoundFailed";
    desk.SetCentreAlarms({mine, theirs, ring}, "north");

    ASSERT_EQ(desk.Rows().size(), 4u) << "this station's row is not shown twice";
    const kv::OpenAlarm* m = desk.Find(own);
    ASSERT_NE(m, nullptr) << "the row keeps its place in the window";
    EXPECT_EQ(m->centreId, 7);
    EXPECT_TRUE(m->acked);
    EXPECT_EQ(desk.Queue().front()->centreId, 8) << "fire first";
    EXPECT_EQ(AckText(*desk.Queue().front()), "Принята оператором Иванов"_cp);
    EXPECT_EQ(desk.WaitedSeconds(*desk.Queue().front()), 864u) << "it waited at the receiver before";
    EXPECT_EQ(desk.Queue().front()->listName, "south") << "a device this desk does not know is named by its receiver";
    EXPECT_EQ(opened, std::vector<bool>{true});
    EXPECT_FALSE(desk.Handle(m->id, kHandlingResults[0], "", Str("Петрова"_cp))) << "handled through the queue only";
    const std::size_t rows = station.rows.size();
    desk.LeftOpen(Str("Петрова"_cp));
    EXPECT_EQ(station.rows.size(), rows + 1) << "only the desk's own row is left unhandled here";
    const std::string record = desk.RecordText();
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 3) << record;

    desk.SetCentreAlarms({mine, theirs, ring}, "north");
    EXPECT_EQ(opened.size(), 1u) << "the same queue again changes nothing";

    // Closed at another desk: gone here, and its tile calms down.
    desk.SetCentreAlarms({theirs}, "north");
    EXPECT_EQ(desk.Find(own), nullptr);
    EXPECT_EQ(calmed, std::vector<std::string>{Str("Склад"_cp)});
    ASSERT_EQ(desk.Rows().size(), 2u);
    const std::size_t told = station.told.size();
    const centre::ClosedRow handledHere{3, 46000.7, "+79990000000", Str("Обработано: Ложная тревога"_cp)};
    desk.CentreRowClosed(8, &handledHere);
    ASSERT_EQ(desk.Rows().size(), 1u);
    EXPECT_EQ(desk.Rows()[0].centreId, 0);
    EXPECT_EQ(calmed.back(), Str("Гараж"_cp));
    // Closed here: its row goes to this journal too, also when the feed took
    // the alarm away first; a close told without its row journals nothing.
    desk.CentreRowClosed(9);
    desk.CentreRowClosed(8, &handledHere);
    EXPECT_EQ(std::vector<std::string>(station.told.begin() + static_cast<std::ptrdiff_t>(told), station.told.end()),
              std::vector<std::string>(2, "centre row 3: +79990000000 " + handledHere.event));
}

// ------------------------------------------------------------------ a silent device

TEST_F(Desk, ASilenceIsOneJournalledRowUntilHeardAgainAndEscalatesAsAnyAlarm)
{
    desk.SetEscalation("1", "+79110000001");
    const std::string detail = Str("последняя связь 09.12.2026 10:00:00 (обзвон), контроль 2 ч"_cp);
    EXPECT_TRUE(desk.DeviceSilent(kStoreTel, detail));
    EXPECT_FALSE(desk.DeviceSilent(kStoreTel, detail)) << "still silent: no second row";
    ASSERT_EQ(desk.Rows().size(), 1u);
    const kv::OpenAlarm& row = desk.Rows()[0];
    EXPECT_EQ(row.kind, AlarmKind::Silent);
    EXPECT_EQ(row.shortName, "Склад"_cp);
    EXPECT_EQ(row.what, std::string(kSilentEvent) + "; " + detail);
    ASSERT_EQ(station.rows.size(), 1u) << "the desk journals the silence itself";
    EXPECT_EQ(station.rows[0].status, status::kOffline);
    EXPECT_EQ(station.rows[0].tel, kStoreTel);
    EXPECT_EQ(station.rows[0].event, row.what);

    Wait(61);
    ASSERT_EQ(station.sends.size(), 1u);
    EXPECT_NE(station.sends[0].text.find(kSilentEvent), std::string::npos) << station.sends[0].text;

    desk.DeviceHeard(kStoreTel);
    desk.DeviceHeard(kStoreTel);
    EXPECT_EQ(desk.Rows()[0].what, std::string(kSilentEvent) + "; " + detail + Str("; связь восстановлена в 12:01:01"_cp))
        << "the row stays for the operator, told once that the device is back";
    EXPECT_FALSE(desk.DeviceSilent(kStoreTel, detail));
    EXPECT_EQ(desk.Rows()[0].what, std::string(kSilentEvent) + "; " + detail) << "silent again: no longer back";
    desk.DeviceHeard(kOfficeTel);
    EXPECT_EQ(desk.Rows().size(), 1u);

    // The record keeps the kind; an older station skips the line.
    VirtualClock later(46000.6);
    RecordingDeskStation next;
    AlarmDesk restarted(next, later);
    ASSERT_EQ(restarted.Restore(desk.RecordText()), 1);
    EXPECT_EQ(restarted.Rows()[0].kind, AlarmKind::Silent);
    EXPECT_FALSE(restarted.DeviceSilent(kStoreTel, detail)) << "the row put back is the silence's";

    ASSERT_TRUE(desk.Handle(desk.Rows()[0].id, kHandlingResults[2], {}, "A"));
    EXPECT_TRUE(desk.DeviceSilent(kStoreTel, {})) << "handled, and silent once more: a new row";
    EXPECT_EQ(desk.Rows()[0].what, kSilentEvent);
}

TEST_F(Desk, AFailedRingRoundOfADeviceAlreadyOpenGoesIntoItsRowCountingOn)
{
    const std::string failed = Str("Дозвон завершен не успешно"_cp);
    DialEvent(Str(status::kOffline), kOfficeTel, failed);
    clock.Advance(60000);
    DialEvent(Str(status::kOffline), kOfficeTel, failed);
    clock.Advance(60000);
    DialEvent(Str(status::kOffline), kOfficeTel, failed);
    ASSERT_EQ(desk.Rows().size(), 1u) << "not a row a minute";
    EXPECT_EQ(desk.Rows()[0].what, failed + Str("; ещё неудачных: 2, последний 12:02:00"_cp));

    // Put back after a restart, it counts on from its text.
    VirtualClock later(46000.6);
    RecordingDeskStation next;
    AlarmDesk restarted(next, later);
    ASSERT_EQ(restarted.Restore(desk.RecordText()), 1);
    restarted.RingRoundFailed(kOfficeTel, failed);
    EXPECT_EQ(restarted.Rows()[0].what, failed + Str("; ещё неудачных: 3, последний 14:24:00"_cp));

    // A silence open for the store takes its failures; another device's opens its own row.
    EXPECT_TRUE(desk.DeviceSilent(kStoreTel, {}));
    DialEvent(Str(status::kOffline), kStoreTel, failed);
    ASSERT_EQ(desk.Rows().size(), 2u);
    EXPECT_EQ(desk.Rows()[1].kind, AlarmKind::Silent);
    EXPECT_EQ(desk.Rows()[1].what, std::string(kSilentEvent) + Str("; ещё неудачных: 1, последний 12:02:00"_cp));
    EXPECT_TRUE(desk.Rows()[1].what.size() <= 200);

    ASSERT_TRUE(desk.Handle(desk.Rows()[0].id, kHandlingResults[2], {}, "A"));
    DialEvent(Str(status::kOffline), kOfficeTel, failed);
    ASSERT_EQ(desk.Rows().size(), 2u);
    EXPECT_EQ(desk.Rows()[1].what, failed) << "handled: the next failure is a new row";
}

class Contacts : public ::testing::Test {
protected:
    static ContactWatch::Device Ringed(const std::string& tel, double minutes)
    {
        return {tel, tel == kStoreTel ? Str("Склад"_cp) : Str("Офис"_cp), true, minutes};
    }
    // Seconds of the monotonic clock, checking each second as the desk's tick does.
    std::vector<std::string> Run(std::uint64_t seconds)
    {
        std::vector<std::string> silent;
        for (std::uint64_t s = 0; s < seconds; ++s) {
            clock.Advance(1000);
            for (const std::string& tel : watch.Check())
                silent.push_back(tel);
        }
        return silent;
    }

    TempDir dir;
    VirtualClock clock{46000.5};
    ContactWatch watch{clock};
};

struct RuleCase {
    const char* name;
    bool ringRound;
    double interval;
    bool modem1, modem2;
    double silentHours;
    std::uint64_t expectMs;
};

class SupervisionRule : public Contacts, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(SupervisionRule, TwiceTheIntervalWhileRungElseTheStationsTimeWhileReportsCome)
{
    const RuleCase& c = GetParam();
    watch.SetDevices({{kStoreTel, "S", c.ringRound, c.interval}});
    watch.SetRunning(c.modem1, c.modem2);
    watch.SetSilentHours(c.silentHours);
    EXPECT_EQ(watch.SupervisionMs(kStoreTel), c.expectMs);
    EXPECT_EQ(watch.SupervisionMs(kOfficeTel), 0u) << "no device of the register";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SupervisionRule,
    ::testing::Values(RuleCase{"ring_round_doubles_the_interval", true, 60, true, true, 5, 7200000},
                      RuleCase{"ring_round_alone_suffices", true, 4.5, false, true, 0, 540000},
                      RuleCase{"never_under_five_minutes", true, 1.5, true, true, 0, 300000},
                      RuleCase{"nor_a_set_time", false, 1.5, true, true, 0.01, 300000},
                      RuleCase{"ring_round_stopped_takes_the_hours", true, 60, true, false, 5, 18000000},
                      RuleCase{"not_rung_takes_the_hours", false, 60, true, true, 0.5, 1800000},
                      RuleCase{"hours_off", false, 60, true, true, 0, 0},
                      RuleCase{"nothing_runs", true, 60, false, false, 5, 0},
                      RuleCase{"negative_hours_are_off", false, 60, true, true, -3, 0},
                      RuleCase{"beyond_a_year_is_off", false, 60, true, true, 1e9, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Contacts, SilentOnceAfterTheFullTimeNeverBeforeAndAgainOnlyAfterBeingHeard)
{
    watch.SetDevices({Ringed(kStoreTel, 1), Ringed(kOfficeTel, 1)});
    watch.SetRunning(true, true);
    EXPECT_TRUE(Run(299).empty()) << "five minutes at least, from the watch's start";
    watch.Heard(kOfficeTel, ContactKind::Report);
    EXPECT_EQ(Run(1), std::vector<std::string>{kStoreTel}) << "never heard: silent from the start";
    // The office was heard 299 s in: silent five minutes later, the store not again.
    EXPECT_TRUE(Run(298).empty());
    EXPECT_EQ(Run(600), std::vector<std::string>{kOfficeTel}) << "one silence, one report of it";
    EXPECT_TRUE(watch.Silent(kStoreTel));
    EXPECT_EQ(watch.SilentNames(), (std::vector<std::string>{Str("Склад"_cp), Str("Офис"_cp)}));

    watch.SetDevices({Ringed(kStoreTel, 1), Ringed(kOfficeTel, 1)});
    EXPECT_TRUE(watch.Silent(kStoreTel)) << "a rebuilt board keeps the silence";

    EXPECT_TRUE(watch.Heard(kStoreTel, ContactKind::RingRound)) << "it had been silent";
    EXPECT_FALSE(watch.Heard(kStoreTel, ContactKind::RingRound));
    EXPECT_FALSE(watch.Silent(kStoreTel));
    const std::optional<LastContact> c = watch.Of(kStoreTel);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, ContactKind::RingRound);
    EXPECT_DOUBLE_EQ(c->at, clock.Now());
    EXPECT_TRUE(Run(299).empty());
    EXPECT_EQ(Run(1), std::vector<std::string>{kStoreTel});
    EXPECT_FALSE(watch.Heard("+70000000000", ContactKind::Report)) << "a number of no device";
    EXPECT_FALSE(watch.Of("+70000000000"));
}

TEST_F(Contacts, AChangedRuleOrAStartWaitsAFullTimeAndTheWallClockMovesNothing)
{
    watch.SetDevices({Ringed(kStoreTel, 1)});
    watch.SetRunning(true, false); // ring-round stopped, no hours: unwatched
    EXPECT_TRUE(Run(3600).empty());
    watch.SetRunning(true, true);
    clock.StepWall(-86400); // a day back on the wall clock
    EXPECT_TRUE(Run(299).empty()) << "the ring-round's time counts from its start";
    EXPECT_EQ(Run(1).size(), 1u);

    ContactWatch other(clock);
    other.SetDevices({Ringed(kOfficeTel, 60)});
    other.SetRunning(true, true);
    other.Heard(kOfficeTel, ContactKind::Report);
    clock.Advance(3600000);
    other.SetDevices({Ringed(kOfficeTel, 1)}); // the interval shortened
    clock.Advance(299000);
    EXPECT_TRUE(other.Check().empty());
    clock.Advance(1000);
    EXPECT_EQ(other.Check().size(), 1u);
}

TEST_F(Contacts, TheFileIsWrittenAFewSecondsAfterAChangeAndSurvivesARestartSilenceIncluded)
{
    const std::string odd = "+7 911=1;2%[x]";
    watch.Load(kLastContactFile, [](const std::string& p) { ADD_FAILURE() << "no file is no problem: " << p; });
    watch.SetDevices({Ringed(kStoreTel, 1), Ringed(kOfficeTel, 60), Ringed(odd, 60)});
    watch.SetRunning(true, true);
    watch.Heard(kOfficeTel, ContactKind::Report);
    watch.SaveIfDue();
    const std::string first = ReadFileBytes(kLastContactFile);
    EXPECT_NE(first.find(kOfficeTel + "=09.12.2025 12:00:00;report"), std::string::npos) << first;
    clock.Advance(1000);
    watch.Heard(odd, ContactKind::Call);
    watch.SaveIfDue();
    EXPECT_EQ(ReadFileBytes(kLastContactFile), first) << "batched, not written on every report";
    clock.Advance(ContactWatch::kSaveEveryMs);
    watch.SaveIfDue();
    EXPECT_FALSE(watch.Dirty());
    EXPECT_NE(ReadFileBytes(kLastContactFile), first) << "written within the batch time";
    EXPECT_EQ(std::filesystem::status(kLastContactFile).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    Run(300);
    ASSERT_TRUE(watch.Silent(kStoreTel));
    ASSERT_FALSE(watch.Silent(kOfficeTel));
    EXPECT_TRUE(watch.Flush());

    VirtualClock later(46001.5);
    ContactWatch next(later);
    next.Load(kLastContactFile, [](const std::string& p) { ADD_FAILURE() << p; });
    next.SetDevices({Ringed(kStoreTel, 1), Ringed(kOfficeTel, 1), Ringed(odd, 1)});
    next.SetRunning(true, true);
    ASSERT_TRUE(next.Of(odd));
    EXPECT_EQ(next.Of(odd)->kind, ContactKind::Call);
    EXPECT_EQ(LastContactText(*next.Of(kOfficeTel)), Str("09.12.2025 12:00:00, сообщение"_cp));
    EXPECT_TRUE(next.Silent(kStoreTel)) << "still silent after the restart";
    later.Advance(300000);
    const std::vector<std::string> silent = next.Check();
    EXPECT_EQ(std::count(silent.begin(), silent.end(), kStoreTel), 0) << "its silence was reported before the restart";
    EXPECT_EQ(silent.size(), 2u);
}

TEST_F(Contacts, AFileThatCannotBeWrittenIsToldOncePerFailingStreakAndTriedAgain)
{
    std::vector<std::string> told;
    watch.OnSaveFailed = [&](const std::string& t) { told.push_back(t); };
    watch.Load(kLastContactFile, {});
    watch.SetDevices({Ringed(kStoreTel, 1)});
    watch.Heard(kStoreTel, ContactKind::Report);
    // A folder where the file should be: the rename over it fails.
    std::filesystem::create_directory(kLastContactFile);
    EXPECT_FALSE(watch.Flush());
    clock.Advance(ContactWatch::kSaveEveryMs);
    watch.SaveIfDue();
    EXPECT_TRUE(watch.Dirty()) << "kept for the next try";
    ASSERT_EQ(told.size(), 1u) << "once, not every five seconds";
    EXPECT_NE(told[0].find(kLastContactFile), std::string::npos);
    std::filesystem::remove(kLastContactFile);
    clock.Advance(ContactWatch::kSaveEveryMs);
    watch.SaveIfDue();
    EXPECT_FALSE(watch.Dirty());
    EXPECT_EQ(ParseLastContacts(ReadFileBytes(kLastContactFile)).contacts.size(), 1u);
    std::filesystem::remove(kLastContactFile);
    std::filesystem::create_directory(kLastContactFile);
    watch.Heard(kStoreTel, ContactKind::Call);
    clock.Advance(ContactWatch::kSaveEveryMs);
    watch.SaveIfDue();
    EXPECT_EQ(told.size(), 2u) << "a new streak is told again";

    // Found as a folder at the start: told, nothing read, nothing moved.
    ContactWatch other(clock);
    std::vector<std::string> problems;
    other.Load(kLastContactFile, [&](const std::string& p) { problems.push_back(p); });
    EXPECT_EQ(problems.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(kLastContactFile));
}

struct DamageCase {
    const char* name;
    std::string text;
    std::size_t kept; // devices read back
    bool told;
};

class DamagedContacts : public Contacts, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedContacts, NeverCrashKeepWhatReadsAndSetTheFileAside)
{
    const DamageCase& c = GetParam();
    WriteFileBytes(kLastContactFile, c.text);
    std::vector<std::string> told;
    watch.Load(kLastContactFile, [&](const std::string& p) { told.push_back(p); });
    watch.SetDevices({Ringed(kStoreTel, 1), Ringed(kOfficeTel, 1)});
    EXPECT_EQ(static_cast<std::size_t>(watch.Of(kStoreTel).has_value() + watch.Of(kOfficeTel).has_value()), c.kept);
    EXPECT_EQ(told.size(), c.told ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(std::string(kLastContactFile) + ".damaged"), c.told && !c.text.empty())
        << "what it held is kept aside";
    if (c.told) {
        EXPECT_NE(told[0].find(Str("повреждён"_cp)), std::string::npos) << told[0];
        EXPECT_TRUE(watch.Flush());
        EXPECT_EQ(ParseLastContacts(ReadFileBytes(kLastContactFile)).damaged, 0) << "written back clean";
    }
}

const std::string kGood = "[LastContact]\r\n+79001000001=09.12.2026 22:40:11;ring\r\n";
INSTANTIATE_TEST_SUITE_P(
    Files, DamagedContacts,
    ::testing::Values(DamageCase{"good", kGood + "+79001000002=01.01.2026 00:00:00;report;silent\r\n", 2, false},
                      DamageCase{"empty", "", 0, true},
                      DamageCase{"binary", std::string("\0\xff\x01[LastC\0ntact]\n=;;\n", 20), 0, true},
                      DamageCase{"other_section", "[Other]\n+79001000001=09.12.2026 22:40:11;ring\n", 0, true},
                      DamageCase{"cut_short", kGood + "+79001000002=01.01.20", 1, true},
                      DamageCase{"no_such_day", kGood + "+79001000002=31.02.2026 10:00:00;report\n", 1, true},
                      DamageCase{"unknown_kind", kGood + "+79001000002=01.01.2026 10:00:00;fax\n", 1, true},
                      DamageCase{"bad_escape", kGood + "+7900%G1=01.01.2026 10:00:00;report\n", 1, true},
                      DamageCase{"never_heard_not_silent", kGood + "+79001000002=;\n", 1, true},
                      DamageCase{"hour_25", kGood + "+79001000002=01.01.2026 25:00:00;report\n", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContactTexts, SupervisionInHoursAndMinutes)
{
    EXPECT_EQ(SupervisionText(0), "выключен"_cp);
    EXPECT_EQ(SupervisionText(7200000), "2 ч"_cp);
    EXPECT_EQ(SupervisionText(9000000), "2 ч 30 мин"_cp);
    EXPECT_EQ(SupervisionText(180000), "3 мин"_cp);
    EXPECT_EQ(SupervisionText(1), "1 мин"_cp) << "rounded up: never shorter than it is";
}

} // namespace
} // namespace kv::test
