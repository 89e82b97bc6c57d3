// The modem workers against the modem simulator, in real time, over real
// pseudo-terminals and the station's own serial port: what the unit tests fake
// (port, clock, replies) is real here. Each case is bounded.
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/Text.h"
#include "modem/CommThread.h"
#include "modem/Commands.h"
#include "modem/DialSchedule.h"
#include "modem/DialThread.h"
#include "modem/EventTexts.h"
#include "modem/Modem.h"
#include "serial/CPort.h"
#include "tests/support/ModemSim.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TempDir.h"
#include "timing/Clock.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "timing/rdtsc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>

namespace {

using namespace kv::literals;
using namespace std::chrono_literals;

// The recording host, plus real journals written on the UI thread as the
// station's hand-overs do.
class JournalHost final : public kv::IModemHost {
public:
    JournalHost()
    {
        kv::DefineJournal(events);
        kv::DefineJournal(dialEvents);
    }
    void WriteEvent(const std::string& s, const std::string& t, const std::string& e) override
    {
        rec.WriteEvent(s, t, e);
        kv::Synchronize([&] { kv::RecordEvent(events, s, t, e, Lookup(), kv::LocalNow()); });
    }
    void WriteDialEvent(const std::string& s, const std::string& t, const std::string& e,
                        kv::RingOutcome outcome = kv::RingOutcome::None) override
    {
        rec.WriteDialEvent(s, t, e, outcome);
        kv::Synchronize([&] {
            kv::RecordEvent(dialEvents, s, t, e, Lookup(), kv::LocalNow());
            if (onDialEvent)
                onDialEvent();
        });
    }
    kv::JournalWrite HandOver(const kv::Report& report, const std::string& tag) override
    {
        rec.HandOver(report, tag);
        kv::Synchronize(
            [&] { kv::RecordEvent(events, report.status, report.tel, report.event, Lookup(), kv::LocalNow()); });
        std::lock_guard lock(tagLock);
        tags.insert(tag);
        return kv::JournalWrite::Durable;
    }
    kv::JournalState JournalStateOf(const std::string& tag) override
    {
        std::lock_guard lock(tagLock);
        return tags.count(tag) ? kv::JournalState::Durable : kv::JournalState::Unknown;
    }
    void ForgetJournalTag(const std::string& tag) override
    {
        std::lock_guard lock(tagLock);
        tags.erase(tag);
    }
    void WriteTechno(const std::string& text, kv::Rgb c) override { rec.WriteTechno(text, c); }
    void ShowSignalLevel(double l) override { rec.ShowSignalLevel(l); }
    void ShowSignalLevel2(double l) override { rec.ShowSignalLevel2(l); }
    std::string FindShortNameByNumber(const std::string& n, const std::string& i) override
    {
        return rec.FindShortNameByNumber(n, i);
    }
    std::string FindNumberByShortName(const std::string& n, const std::string& i) override
    {
        return rec.FindNumberByShortName(n, i);
    }
    void SetCommandButtonsEnabled(bool e) override { rec.SetCommandButtonsEnabled(e); }
    void SetStatusEdit(const std::string& n, const std::string& t) override { rec.SetStatusEdit(n, t); }
    void SetLinkText(const std::string& t) override { rec.SetLinkText(t); }
    void AddBalanceLine(const std::string& t) override { rec.AddBalanceLine(t); }
    std::string BalanceNumber() override { return rec.BalanceNumber(); }
    void SetDialStatus(const std::string& t) override { rec.SetDialStatus(t); }
    void SetDialNumber(const std::string& t) override
    {
        rec.SetDialNumber(t);
        if (onDialNumber)
            onDialNumber(t);
    }
    void ShowLinkLost() override { rec.ShowLinkLost(); }
    void LinkRestored() override { rec.LinkRestored(); }
    void ShowWarning(const std::string& t) override { rec.ShowWarning(t); }
    void PlaySound(kv::Sound s) override { rec.PlaySound(s); }

    std::function<std::string(const std::string&)> Lookup()
    {
        return [this](const std::string& tel) { return rec.FindShortNameByNumber(tel, ""); };
    }

    // Run while the worker waits in its hand-over, so a test can change the
    // schedule or the worker's counters between two of its steps.
    std::function<void()> onDialEvent;
    std::function<void(const std::string&)> onDialNumber;

    kv::test::RecordingHost rec;
    kv::MemTable events{"EventsTable"};
    kv::MemTable dialEvents{"DialEventsTable"};
    std::mutex tagLock;
    std::set<std::string> tags;
};

// A port of the station on one simulated modem, its bytes going to `modem`.
struct StationPort {
    StationPort(const std::string& path, kv::TModem& modem)
    {
        port.SetPort(path);
        port.SetBaudRate(kv::br115200);
        port.SetDiscardNull(true);
        port.SetOnRxChar([&modem](kv::TComPort* sender, int count) {
            try {
                modem.AppendReceived(sender->ReadText(count));
            } catch (...) {
            }
        });
        port.Open();
    }
    ~StationPort() { port.Close(); }
    kv::TComPort port;
};

bool Serve(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return kv::WaitServing(done, limit);
}

TEST(ModemWorkersRealTime, Modem1ReadsAnSmsFromTheSimulatorSimAndJournalsIt)
{
    kv::ResetShutdownForTests();
    kv::test::TempDir dir;
    kv::test::ModemSim sim;
    JournalHost host;
    host.rec.AddDevice("+79111111111", std::string("Склад"_cp));
    kv::TModem modem;
    StationPort station(sim.Path(1), modem);

    // The modem window's start-up of modem 1.
    modem.Running = true;
    station.port.WriteText(std::string(kv::kCmdLinkTest));
    kv::WaitMs(1000);
    kv::TCommThread worker(modem, station.port, host, kv::RealClock::Instance(),
                           [] { return kv::TileSaveResult::Saved; });
    worker.Start();
    kv::EnqueueCommand(modem, std::string(kv::kCmdEchoOn));
    for (auto line : kv::kModem1Setup)
        kv::EnqueueCommand(modem, std::string(line));
    kv::WaitMs(100);
    modem.ClearRx();

    sim.Command("sms 1 +79111111111 Поставлено на охрану. Объект в норме");
    const bool recorded = Serve([&] { return host.events.RecordCount() >= 1; }, 50s);
    // The read message is deleted from the SIM by its own index, its row written.
    EXPECT_TRUE(Serve([&] { return sim.WaitForSent(1, "AT+CMGD=1\\r", 100ms); }, 15s));
    modem.Running = false;
    ASSERT_TRUE(recorded) << "no journal row within 50 s";
    EXPECT_TRUE(Serve([&] { return worker.Finished(); }, 15s));

    const int status = host.events.FindField("Status");
    const int tel = host.events.FindField("tel");
    const int event = host.events.FindField("event");
    const int name = host.events.FindField("simplename");
    EXPECT_EQ(host.events.TextAt(0, status), kv::status::kArmed);
    EXPECT_EQ(host.events.TextAt(0, tel), "+79111111111");
    EXPECT_EQ(host.events.TextAt(0, event), std::string("Новое сообщение:Поставлено на охрану. Объект в норме"_cp));
    EXPECT_EQ(host.events.TextAt(0, name), std::string("Склад"_cp));
    EXPECT_EQ(host.rec.Of("guard"), std::vector<std::string>{std::string("Склад"_cp) + " 2"});
}

TEST(ModemWorkersRealTime, RingRoundJudgesAnAnsweringAndASilentDevice)
{
    kv::ResetShutdownForTests();
    kv::test::TempDir dir;
    kv::test::ModemSim sim;
    JournalHost host;
    host.rec.AddDevice("+79001000001", "A");
    host.rec.AddDevice("+79001000006", "B");
    sim.Command("dial 2 busy 2 +79001000001");
    sim.Command("dial 2 never +79001000006");
    kv::TModem modem2;
    StationPort station(sim.Path(2), modem2);
    for (auto line : {kv::kCmdEchoOn, kv::kCmdTextMode})
        station.port.WriteText(std::string(line));

    kv::DialSchedule schedule;
    kv::DialState state;
    // Interval 0: due at once and again after each call. First only A rings;
    // once its success is journalled, only B, whose first failure is final.
    schedule.Rebuild({{"A", true, "0"}, {"B", false, "0"}}, 5, 7, kv::RealClock::Instance().MonotonicMs());
    host.onDialEvent = [&] {
        if (host.dialEvents.RecordCount() == 1)
            schedule.Rebuild({{"A", false, "0"}, {"B", true, "0"}}, 5, 7, kv::RealClock::Instance().MonotonicMs());
    };
    state.failuresToReport = 1;
    modem2.Running = true;
    kv::TDialThread worker(modem2, station.port, host, kv::RealClock::Instance(), schedule, state);
    worker.Start();
    const bool judged = Serve([&] { return host.dialEvents.RecordCount() >= 2; }, 75s);
    modem2.Running = false;
    ASSERT_TRUE(judged);
    EXPECT_TRUE(Serve([&] { return worker.Finished(); }, 15s));

    const int status = host.dialEvents.FindField("Status");
    const int tel = host.dialEvents.FindField("tel");
    // Newest first: B's failure, then A's success.
    EXPECT_EQ(host.dialEvents.TextAt(1, status), kv::status::kOnline);
    EXPECT_EQ(host.dialEvents.TextAt(1, tel), "+79001000001");
    EXPECT_EQ(host.dialEvents.TextAt(0, status), kv::status::kOffline);
    EXPECT_EQ(host.dialEvents.TextAt(0, tel), "+79001000006");
    EXPECT_EQ(host.rec.Of("info"), std::vector<std::string>{"B 9"});
    EXPECT_TRUE(sim.WaitForSent(2, "ATD+79001000006;\\r", 1s));
    EXPECT_TRUE(sim.WaitForSent(2, "ATH\\r", 5s)) << "the silent call is hung up";
}

// Two devices that reject the call and one whose network says NO CARRIER, on
// short intervals: the silent one is reported after its own third failed call
// while the others keep answering, each call judged at the modem's word.
TEST(ModemWorkersRealTime, RingRoundReportsTheDeadDeviceAmongLiveOnes)
{
    kv::ResetShutdownForTests();
    kv::test::TempDir dir;
    kv::test::ModemSim sim;
    JournalHost host;
    host.rec.AddDevice("+79001000001", "A");
    host.rec.AddDevice("+79001000002", "B");
    host.rec.AddDevice("+79001000006", "Dead");
    sim.Command("dial 2 busy 1 +79001000001");
    sim.Command("dial 2 busy 1 +79001000002");
    sim.Command("dial 2 nocarrier 1 +79001000006");
    kv::TModem modem2;
    StationPort station(sim.Path(2), modem2);
    for (auto line : {kv::kCmdEchoOn, kv::kCmdTextMode})
        station.port.WriteText(std::string(line));

    kv::DialSchedule schedule;
    kv::DialState state;
    state.failuresToReport = 3;
    // The dead device last, on the board's slowest beat: 3 s.
    schedule.Rebuild({{"A", true, "0.02"}, {"B", true, "0.02"}, {"Dead", true, "0.05"}}, 5, 7,
                     kv::RealClock::Instance().MonotonicMs());
    modem2.Running = true;
    kv::TDialThread worker(modem2, station.port, host, kv::RealClock::Instance(), schedule, state);
    worker.Start();
    const int status = host.dialEvents.FindField("Status");
    const int tel = host.dialEvents.FindField("tel");
    const int event = host.dialEvents.FindField("event");
    const auto reported = [&] {
        for (int i = 0; i < host.dialEvents.RecordCount(); ++i)
            if (host.dialEvents.TextAt(i, event) == kv::events::kRingRoundFailed)
                return true;
        return false;
    };
    const bool judged = Serve(reported, 40s);
    modem2.Running = false;
    ASSERT_TRUE(judged) << "the dead device was not reported within 40 s";
    EXPECT_TRUE(Serve([&] { return worker.Finished(); }, 15s));

    std::vector<std::string> dead; // oldest first
    int live = 0;
    for (int i = host.dialEvents.RecordCount() - 1; i >= 0; --i) {
        if (host.dialEvents.TextAt(i, tel) == "+79001000006") {
            EXPECT_EQ(host.dialEvents.TextAt(i, status), kv::status::kOffline);
            dead.push_back(host.dialEvents.TextAt(i, event));
        } else {
            EXPECT_EQ(host.dialEvents.TextAt(i, status), kv::status::kOnline) << host.dialEvents.TextAt(i, tel);
            ++live;
        }
    }
    EXPECT_EQ(dead, (std::vector<std::string>{std::string("Нет ответа, попытка 1 из 3"_cp),
                                              std::string("Нет ответа, попытка 2 из 3"_cp),
                                              std::string(kv::events::kRingRoundFailed)}));
    EXPECT_GE(live, 4) << "the live devices are called in between";
    EXPECT_EQ(host.rec.Of("info"), std::vector<std::string>{"Dead 9"});
}

} // namespace
