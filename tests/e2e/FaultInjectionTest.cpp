// Faults of both modems, injected through the modem simulator into a whole
// station running in-process in real time: a modem gone silent, line garbage,
// replies cut in half, a megabyte flood, replies split byte by byte, ERROR for
// every command, and the device unplugged and plugged in again. After each
// fault the station must go on (an SMS is read and journalled, the ring-round
// judges a call), its journals and board must hold exactly what happened, its
// CPU use must stay low, and closing it in the middle of a fault must neither
// hang nor crash.
#include "codec/Classify.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/e2e/LiveStation.h"
#include "tests/support/Cp1251.h"
#include "tests/support/TempDir.h"
#include "timing/UiThread.h"
#include "windows/ModemLinkUnit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <random>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace kv::literals;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// Every instruction costs several times as much under a sanitizer.
constexpr double kCpuScale = 6;
#else
constexpr double kCpuScale = 1;
#endif
// Percent of one core.
constexpr double kFaultCpuLimit = 20 * kCpuScale;
constexpr double kIdleCpuLimit = 5 * kCpuScale;
// The operator's limit for a close, and what the worker's own pauses allow.
constexpr auto kCloseLimit = 15s;
constexpr auto kPromptClose = 6s;

const std::string kReporter = Str("Склад"_cp);
const std::string kRinged = Str("Офис"_cp);

// Process CPU time against real time, in percent of one core.
class CpuMeter {
public:
    CpuMeter() { Restart(); }
    void Restart()
    {
        m_cpu = CpuSeconds();
        m_wall = Clock::now();
    }
    double Percent() const
    {
        const double wall = std::chrono::duration<double>(Clock::now() - m_wall).count();
        return wall <= 0 ? 0 : 100 * (CpuSeconds() - m_cpu) / wall;
    }

private:
    static double CpuSeconds()
    {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    double m_cpu = 0;
    Clock::time_point m_wall;
};

struct Fault {
    const char* name;
    std::chrono::milliseconds length;  // on modem 1
    std::chrono::milliseconds length2; // on modem 2
    // Control lines; "{m}" is the modem's number, "{hex}" fresh random bytes.
    std::vector<std::string> begin;
    std::vector<std::string> repeat; // every 250 ms while the fault lasts
    std::vector<std::string> end;
    // Modem 1 hears nothing: its link is lost, and restored once it answers.
    bool linkLost = false;
};

const std::vector<Fault>& Faults()
{
    // Modem 1 tells a silent or vanished modem only when an exchange has
    // waited out its ten seconds; every other fault needs only a poll of each
    // modem (modem 1 polls every two and a half seconds, modem 2 every five).
    static const std::vector<Fault> faults = {
        {"silent", 14s, 6s, {"silent {m} on"}, {}, {"silent {m} off"}, true},
        {"garbage", 6s, 6s, {}, {"garbage {m} {hex}"}, {}, false},
        {"truncate", 6s, 6s, {}, {"truncate {m}"}, {}, false},
        {"flood", 6s, 6s, {"flood {m} 1048576"}, {}, {}, false},
        {"split", 6s, 6s, {"split {m} on"}, {}, {"split {m} off"}, false},
        {"errorall", 6s, 6s, {"errorall {m} on"}, {}, {"errorall {m} off"}, false},
        {"unplug", 14s, 6s, {"unplug {m}"}, {}, {"plug {m}"}, true},
    };
    return faults;
}

// The faults the recovery walk takes: all of them, or those named in
// KORVALEN_FAULTS (comma separated), so that CTest can run the walk in parts at
// once; each part is mostly waiting for the modems.
const std::vector<Fault>& WalkedFaults()
{
    static const std::vector<Fault> walked = [] {
        const char* names = std::getenv("KORVALEN_FAULTS");
        if (!names || !*names)
            return Faults();
        const std::string list = std::string(",") + names + ",";
        std::vector<Fault> chosen;
        for (const Fault& f : Faults())
            if (list.find(std::string(",") + f.name + ",") != std::string::npos)
                chosen.push_back(f);
        return chosen;
    }();
    return walked;
}

class FaultDriver {
public:
    FaultDriver(ModemSim& sim, int modem, std::uint32_t seed) : m_sim(sim), m_modem(modem), m_random(seed) {}

    void Send(const std::vector<std::string>& lines)
    {
        for (const std::string& line : lines)
            m_sim.Command(Expand(line));
    }

private:
    std::string Expand(std::string line)
    {
        for (std::size_t at; (at = line.find("{m}")) != std::string::npos;)
            line.replace(at, 3, std::to_string(m_modem));
        if (const std::size_t at = line.find("{hex}"); at != std::string::npos) {
            std::string hex;
            char pair[3];
            for (int i = 0; i < 48; ++i) {
                std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(m_random() & 0xFF));
                hex += pair;
            }
            line.replace(at, 5, hex);
        }
        return line;
    }

    ModemSim& m_sim;
    int m_modem;
    std::mt19937 m_random;
};

// One modem's way through the faults, one after the other: the fault, then
// the proof that the modem works again. Both modems walk at once, each at its
// own pace, so a fault of one always meets the other at work.
class Lane {
public:
    Lane(int modem, LiveStation& live, ModemSim& sim, std::function<bool()> ready)
        : m_modem(modem), m_live(live), m_sim(sim), m_driver(sim, modem, 1000 + modem), m_ready(std::move(ready))
    {
    }

    bool Done() const { return m_next >= WalkedFaults().size() && m_phase == Phase::Idle; }

    void Step()
    {
        const auto now = Clock::now();
        switch (m_phase) {
        case Phase::Idle:
            if (m_next < WalkedFaults().size() && m_ready())
                BeginFault(now);
            break;
        case Phase::Fault:
            m_largestRx = std::max(m_largestRx, Modem().RxSnapshot().size());
            if (now - m_phaseStart >= (m_modem == 1 ? Current().length : Current().length2)) {
                EndFault();
                BeginRecovery(now);
            } else if (now - m_lastRepeat >= 250ms) {
                m_lastRepeat = now;
                m_driver.Send(Current().repeat);
            }
            break;
        case Phase::Recovery:
            if (Recovered()) {
                CheckRecovery();
                m_phase = Phase::Idle;
                ++m_next;
            } else if (now - m_phaseStart > 60s) {
                ADD_FAILURE() << "modem " << m_modem << " did not recover from '" << Current().name << "' within 60 s"
                              << Journal() << "\ntechnological journal:\n" << m_live.TechnoTail(60);
                m_live.RingRound(false);
                m_phase = Phase::Idle;
                ++m_next;
            }
            break;
        }
    }

    std::string Figures() const { return m_figures; }

private:
    enum class Phase { Idle, Fault, Recovery };

    const Fault& Current() const { return WalkedFaults()[m_next]; }
    MemTable& Journal1() { return m_live.form().EventsTable; }
    MemTable& Journal2() { return m_live.form().DialEventsTable; }
    MemTable& Own() { return m_modem == 1 ? Journal1() : Journal2(); }
    TModem& Modem() { return m_modem == 1 ? *m_live.form().Modem1 : *m_live.form().Modem2; }
    std::string Journal() { return " newest rows of its journal:" + Describe(NewestRows(Own(), 6)); }
    static JournalRow LinkLostRow()
    {
        return {Str("Нет связи"_cp), Str("GSM-модем №1"_cp), Str("Потеряна связь с GSM-модулем"_cp), "        "};
    }

    void BeginFault(Clock::time_point now)
    {
        m_rowsBefore = Own().RecordCount();
        m_alarmsBefore = m_live.sounds.Count(Sound::Alarm);
        m_guardBefore = m_live.Guard(kReporter);
        m_phase = Phase::Fault;
        m_phaseStart = now;
        m_lastRepeat = now;
        m_cpu.Restart();
        m_largestRx = 0;
        m_driver.Send(Current().begin);
        m_driver.Send(Current().repeat);
    }

    void EndFault()
    {
        m_driver.Send(Current().end);
        const double cpu = m_cpu.Percent();
        char figure[64];
        std::snprintf(figure, sizeof figure, " %s %.1f%%", Current().name, cpu);
        m_figures += figure;
        SCOPED_TRACE(std::string("modem ") + std::to_string(m_modem) + ", " + Current().name);
        EXPECT_LT(cpu, kFaultCpuLimit) << "CPU in percent of one core while the fault lasted";
        EXPECT_LE(m_largestRx, 64u * 1024) << "the receive buffer grew with the fault";
        // Nothing happened that a journal should hold but the loss of modem 1
        // (once, however many time-outs), and the board kept its codes.
        const bool lost = m_modem == 1 && Current().linkLost;
        EXPECT_EQ(Own().RecordCount(), m_rowsBefore + (lost ? 1 : 0)) << Journal();
        if (lost) {
            EXPECT_EQ(NewestRows(Own(), 1), std::vector<JournalRow>{LinkLostRow()}) << Journal();
        }
        if (m_modem == 1) {
            EXPECT_EQ(m_live.Guard(kReporter), m_guardBefore);
        }
        if (m_modem == 1 && Current().linkLost) {
            EXPECT_GT(m_live.sounds.Count(Sound::Alarm), m_alarmsBefore) << "the lost link was not raised";
        }
    }

    void BeginRecovery(Clock::time_point now)
    {
        m_phase = Phase::Recovery;
        m_phaseStart = now;
        if (m_modem == 1) {
            m_armed = !m_armed;
            m_text = std::string(m_armed ? "Поставлено на охрану" : "Снято с охраны") + ". Проверка после "
                     + Current().name;
            m_sim.Command(std::string("sms 1 ") + kReporterNumber + " " + m_text);
        } else {
            m_live.RingRound(true);
        }
    }

    bool Recovered()
    {
        if (m_modem == 1) {
            const std::string event = Utf8ToCp1251("Новое сообщение:" + m_text);
            for (int r = 0; r < Journal1().RecordCount() - m_rowsBefore; ++r)
                if (Journal1().TextAt(r, journal::Event) == event)
                    return true;
            return false;
        }
        if (Journal2().RecordCount() == m_rowsBefore)
            return false;
        // Before its next pass can start another call.
        m_live.RingRound(false);
        return true;
    }

    void CheckRecovery()
    {
        SCOPED_TRACE(std::string("modem ") + std::to_string(m_modem) + ", after " + Current().name);
        const std::vector<JournalRow> added = NewestRows(Own(), Own().RecordCount() - m_rowsBefore);
        std::vector<JournalRow> expected;
        if (m_modem == 1) {
            expected.push_back({std::string(m_armed ? status::kArmed : status::kDisarmed), kReporterNumber,
                                Utf8ToCp1251("Новое сообщение:" + m_text), kReporter});
            if (Current().linkLost) {
                expected.push_back({Str("На связи"_cp), Str("GSM-модем №1"_cp),
                                    Str("Соединение с GSM-модулем восстановлено"_cp), "        "});
                expected.push_back(LinkLostRow());
            }
            EXPECT_EQ(m_live.Guard(kReporter), m_armed ? kGuardArmed : kGuardDisarmed);
        } else {
            expected.push_back({Str("На связи"_cp), kRingedNumber, Str("Дозвон завершен успешно"_cp), kRinged});
            EXPECT_NE(m_live.Info(kRinged), kInfoWarning) << "the ring-round counted a failure";
        }
        EXPECT_EQ(added, expected) << "technological journal:\n" << m_live.TechnoTail(40);
    }

    int m_modem;
    LiveStation& m_live;
    ModemSim& m_sim;
    FaultDriver m_driver;
    std::function<bool()> m_ready;

    std::size_t m_next = 0;
    Phase m_phase = Phase::Idle;
    Clock::time_point m_phaseStart{};
    Clock::time_point m_lastRepeat{};
    CpuMeter m_cpu;
    std::size_t m_largestRx = 0;
    int m_rowsBefore = 0;
    int m_alarmsBefore = 0;
    std::uint8_t m_guardBefore = 0;
    bool m_armed = false;
    std::string m_text;
    std::string m_figures;
};

ModemSimOptions WithLinks(const fs::path& dir)
{
    ModemSimOptions options;
    options.linkDir = (dir / "links").string();
    return options;
}

// Modem 1 takes a fault when no read is under way and just after one of its
// polls was answered: an exchange begun before the fault would otherwise
// swallow the fault's start; a read of an emptied SIM index would meet the
// fault's bytes in front of its short answer (and take them, as it must, for
// a damaged message); and a message whose deletion the fault kept from the
// modem would be read and journalled again. So: its start-up commands through
// (the first, "ATE1", waits out ten seconds for an answer it never knows), the
// SIM seen empty, a memory poll after that, and one more poll answered.
class Modem1Pacer {
public:
    explicit Modem1Pacer(ModemSim& sim) : m_sim(sim) {}
    bool Ready()
    {
        const auto now = Clock::now();
        const auto& sent = m_sim.SentLines(1);
        for (; m_seen < sent.size(); ++m_seen) {
            const std::string& line = sent[m_seen];
            if (line == "AT+CSMP=17,167,0,25\\r") {
                m_started = true;
            } else if (m_started && m_emptied && (line == "AT+CSQ\\r" || line == "AT+CPMS?\\r")) {
                if (m_memoryPolled)
                    m_answered = now;
                m_memoryPolled = m_memoryPolled || line == "AT+CPMS?\\r";
            } else if (line.rfind("AT+CMGR=", 0) == 0) {
                m_memoryPolled = false;
                m_answered.reset();
            }
        }
        if (m_started && !m_emptied)
            m_emptied = m_sim.Command("sim 1").empty();
        if (!m_answered || now - *m_answered < 300ms || now - *m_answered > 1200ms)
            return false;
        m_emptied = m_memoryPolled = false;
        m_answered.reset();
        return true;
    }

private:
    ModemSim& m_sim;
    std::size_t m_seen = 0;
    bool m_started = false;
    bool m_emptied = false;
    bool m_memoryPolled = false;
    std::optional<Clock::time_point> m_answered;
};

TEST(FaultRecovery, EachFaultOfEitherModemLeavesTheStationWorkingWithRightJournalsAndLowCpu)
{
    const auto started = Clock::now();
    TempDir dir;
    ModemSim sim(WithLinks(dir.path()));
    sim.Command("dial 2 busy 1 " + std::string(kRingedNumber));
    LiveStation live(dir.path(), sim);
    ASSERT_TRUE(live.Started()) << "login and modem start failed; boxes: " << live.dialogs.messages.size();
    ASSERT_FALSE(WalkedFaults().empty()) << "KORVALEN_FAULTS names no fault";

    Modem1Pacer pacer(sim);
    Lane lane1(1, live, sim, [&] { return pacer.Ready(); });
    Lane lane2(2, live, sim, [] { return true; });
    while (!lane1.Done() || !lane2.Done()) {
        ServeFor(50ms);
        lane1.Step();
        lane2.Step();
        ASSERT_LT(Clock::now() - started, 330s) << "bounded";
    }

    // Back to rest: the board tick, the polls of both modems and nothing else.
    CpuMeter idle;
    ServeFor(8s);
    const double idleCpu = idle.Percent();
    EXPECT_LT(idleCpu, kIdleCpuLimit) << "CPU in percent of one core at rest";
    EXPECT_TRUE(live.dialogs.messages.empty()) << "no fault may put a message box in the operator's way";

    bool accepted = false;
    const auto closeTime = live.Close(accepted);
    EXPECT_TRUE(accepted);
    EXPECT_LT(closeTime, kPromptClose);
    // The journals on disk are the journals shown.
    for (auto [table, file] : {std::pair{&live.form().EventsTable, "t3.bin"}, {&live.form().DialEventsTable, "t6.bin"}}) {
        MemTable saved;
        ASSERT_NO_THROW(TableFormat().Load(saved, file));
        EXPECT_EQ(NewestRows(saved, saved.RecordCount()), NewestRows(*table, table->RecordCount())) << file;
    }
    std::cout << "[ figures  ] CPU during faults, modem 1:" << lane1.Figures() << "; modem 2:" << lane2.Figures()
              << "; at rest " << idleCpu << "%; close " << closeTime.count() << " ms; whole test "
              << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count() << " s\n";
}

// Closing in the middle of each fault, with a call under way: the close ends
// within the operator's limit, nothing crashes, and the journals are saved.
class CloseDuringFault : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CloseDuringFault, EndsPromptlyAndSavesTheJournals)
{
    const Fault& fault = Faults()[GetParam()];
    TempDir dir;
    ModemSim sim(WithLinks(dir.path()));
    sim.Command("dial 2 busy 20 " + std::string(kRingedNumber));
    LiveStation live(dir.path(), sim);
    ASSERT_TRUE(live.Started());
    live.RingRound(true);
    FaultDriver driver1(sim, 1, 7), driver2(sim, 2, 8);
    for (FaultDriver* d : {&driver1, &driver2}) {
        d->Send(fault.begin);
        d->Send(fault.repeat);
    }
    // Into the fault: modem 1 waits for a reply to its first command, modem 2 dials.
    for (int i = 0; i < 8; ++i) {
        ServeFor(250ms);
        driver1.Send(fault.repeat);
        driver2.Send(fault.repeat);
    }
    const int rows = live.form().EventsTable.RecordCount();

    bool accepted = false;
    const auto closeTime = live.Close(accepted);
    EXPECT_TRUE(accepted);
    EXPECT_LT(closeTime, kCloseLimit);
    EXPECT_LT(closeTime, kPromptClose) << "a worker sat out a wait of its modem";
    const auto destroyTime = live.Destroy();
    EXPECT_LT(destroyTime, kCloseLimit);
    std::cout << "[ figures  ] close during " << fault.name << ": " << closeTime.count() << " ms, then "
              << destroyTime.count() << " ms to destroy\n";

    MemTable saved;
    ASSERT_NO_THROW(TableFormat().Load(saved, "t3.bin"));
    EXPECT_EQ(saved.RecordCount(), rows);
    ASSERT_GE(saved.RecordCount(), 1);
    EXPECT_EQ(saved.TextAt(0, journal::Status), "Логин"_cp) << "the login of this run";
    ASSERT_NO_THROW(TableFormat().Load(saved, "t6.bin"));
}

INSTANTIATE_TEST_SUITE_P(EveryFault, CloseDuringFault, ::testing::Range<std::size_t>(0, Faults().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(Faults()[info.param].name);
                         });

} // namespace
} // namespace kv::test
