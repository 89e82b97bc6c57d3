#include "tests/report/ShiftJournal.h"

#include "codec/Classify.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "modem/EventTexts.h"
#include "modem/Report.h"
#include "timing/DateTime.h"

namespace kv::test {

using namespace kv::literals;

const std::string ShiftJournal::kStore = "+79001000001";
const std::string ShiftJournal::kOffice = "+79001000002";
const std::string ShiftJournal::kDacha = "+79001000003";
const std::string ShiftJournal::kStranger = "+79990000000";
const std::string ShiftJournal::kResponder = "+79110000000";

double ShiftJournal::At(int hour, int minute, int second)
{
    return EncodeDateTime({2026, 3, 2, hour, minute, second, 0});
}

std::string ShiftJournal::ShortName(const std::string& tel)
{
    if (tel == kStore)
        return Str("Склад"_cp);
    if (tel == kOffice)
        return Str("Офис"_cp);
    if (tel == kDacha)
        return Str("Дача"_cp);
    return {};
}

void ShiftJournal::Journal(std::string_view status, const std::string& tel, const std::string& event, double now)
{
    RecordEvent(main, status, tel, event, [this](const std::string& t) { return ShortName(t); }, now);
}

bool ShiftJournal::SendSms(const std::string&, const std::string&, const std::string&, std::function<void(bool)> outcome)
{
    m_outcomes.push_back(std::move(outcome));
    return true;
}

void ShiftJournal::RunTo(int hour, int minute, int second)
{
    const double until = At(hour, minute, second);
    while (m_clock.Now() + 0.5 / 86400 < until) {
        m_clock.Advance(1000);
        m_desk.Tick();
        // The modem reports a send a moment after it was queued.
        for (auto outcomes = std::move(m_outcomes); auto& outcome : outcomes)
            outcome(true);
    }
}

// As the station hands a worker's report over: its row first, then the desk.
void ShiftJournal::Sms(const std::string& tel, const std::string& text)
{
    const Report report = SmsReport(tel, ShortName(tel), text);
    Journal(report.status, tel, report.event, m_clock.Now());
    if (const std::optional<AlarmKind> kind = AlarmOf(report))
        m_desk.Reported(*kind, tel, report.event, report.shortName);
}

void ShiftJournal::Ring(const std::string& tel, const std::string& status, const std::string& event)
{
    RecordEvent(dial, status, tel, event, [this](const std::string& t) { return ShortName(t); }, m_clock.Now());
    if (event == events::kRingRoundFailed)
        m_desk.RingRoundFailed(tel, event);
}

std::uint64_t ShiftJournal::Row(const std::string& tel) const
{
    for (const OpenAlarm& a : m_desk.Rows())
        if (a.tel == tel)
            return a.id;
    return 0;
}

ShiftJournal::ShiftJournal() : m_clock(At(7, 50)), m_desk(*this, m_clock)
{
    DefineJournal(main);
    DefineJournal(dial);
    const std::string alarm = std::string("Вним"_cp) + "a" + Str("ние Т"_cp) + "PEB" + Str("ОГА"_cp) + " 1";
    const std::string ivanov = Str("Иванов"_cp), petrov = Str("Петров"_cp);
    const std::string_view falseAlarm = kHandlingResults[0], team = kHandlingResults[1], checked = kHandlingResults[2],
                           other = kHandlingResults[3];

    // Before the shift: an alarm handled in it (its wait counts, the alarm not).
    Sms(kOffice, alarm);
    RunTo(8, 5);
    m_desk.Handle(Row(kOffice), falseAlarm, {}, ivanov); // 15:00
    Sms(kOffice, Str("Поставлено на охрану"_cp));

    RunTo(8, 10);
    Sms(kStore, alarm);
    RunTo(8, 13, 30);
    m_desk.Handle(Row(kStore), falseAlarm, Str("датчик у окна"_cp), ivanov); // 3:30

    RunTo(9, 0);
    Sms(kOffice, Str("Внимание Пожар! Датчик 2"_cp));
    RunTo(9, 1);
    m_desk.AcknowledgeDevice(Str("Офис"_cp), ivanov);
    RunTo(9, 20);
    m_desk.Handle(Row(kOffice), team, {}, petrov); // 20:00

    // An alarm call nobody takes goes out to the responder after five minutes.
    m_desk.SetEscalation("5", kResponder);
    RunTo(10, 0);
    Journal(status::kAlarm, kStore, std::string(events::kCallAlarm), m_clock.Now());
    m_desk.Reported(AlarmKind::AlarmCall, kStore, std::string(events::kCallAlarm), ShortName(kStore));
    RunTo(10, 40);
    m_desk.Handle(Row(kStore), checked, {}, petrov); // 40:00
    m_desk.SetEscalation("", "");

    // A stranger's second SMS adds no row.
    RunTo(11, 0);
    Sms(kStranger, Str("Привет"_cp));
    RunTo(11, 5);
    Sms(kStranger, Str("Ответьте"_cp));
    RunTo(11, 10);
    m_desk.Handle(Row(kStranger), other, {}, petrov); // 10:00

    // The ring-round: the dacha never answers; its second final failure
    // counts on the open row.
    RunTo(12, 0);
    Ring(kDacha, Str(status::kOffline), Str("Нет ответа, попытка 1 из 2"_cp));
    RunTo(12, 1);
    Ring(kDacha, Str(status::kOffline), std::string(events::kRingRoundFailed));
    RunTo(12, 15);
    Ring(kStore, Str(status::kOnline), std::string(events::kRingRoundAnswered));
    RunTo(12, 30);
    Ring(kOffice, Str(status::kOnline), std::string(events::kRingRoundAnswered));
    RunTo(13, 0);
    Ring(kDacha, Str(status::kOffline), std::string(events::kRingRoundFailed));
    RunTo(13, 10);
    m_desk.Handle(Row(kDacha), team, {}, ivanov); // 69:00
    RunTo(14, 30);
    Ring(kOffice, Str(status::kOnline), std::string(events::kRingRoundAnswered));

    RunTo(15, 0);
    m_desk.DeviceSilent(kDacha, {});
    RunTo(16, 0);
    m_desk.LinkLost();
    RunTo(16, 2);
    m_desk.LinkRestored();
    RunTo(16, 5);
    m_desk.Handle(Row(std::string(events::kModem1Tel)), checked, {}, petrov); // 5:00

    // The shift ends with the dacha's silence open.
    RunTo(19, 59);
    m_desk.LeftOpen(petrov);
    // The next shift's alarm is not this one's.
    RunTo(20, 30);
    Sms(kStore, alarm);
}

} // namespace kv::test
