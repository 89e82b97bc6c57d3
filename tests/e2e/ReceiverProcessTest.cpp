// korvalen-receiver as a separate process against the modem simulator: it
// carries no window, picture or display library and runs where there is no
// display; it refuses a folder or a port another process holds and a command
// line it does not understand; a signal ends it cleanly, also while its modems
// are being started, with what it journalled in "t3.bin"; with nobody at a
// desk it resumes after a crash, escalates, and starts over a damaged table.
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/Cp1251.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSender = "+79111111111";
constexpr const char* kStarted = "Приёмник запущен: модем 1 ";
constexpr const char* kStopped = "Приёмник остановлен";

bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& done)
{
    return PollUntil(done, limit, 50ms);
}

// A data folder with its tables and "config.ini" naming the simulator's modems.
class ReceiverProcess : public ::testing::Test {
protected:
    ReceiverProcess() : data(dir.path() / "data"), sim(LinkedModems(dir))
    {
        fs::create_directories(data);
        WriteStationTables(data, kSender, "Оператор", "1234", 10);
        WriteStationConfig(data, sim.Path(1), sim.Path(2));
    }

    // Its standard error (UTF-8) since the last start.
    std::string Log() const { return ReadFileBytes(log).substr(logFrom); }
    bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

    void Start(const std::vector<std::string>& env = {})
    {
        logFrom = ReadFileBytes(log).size();
        receiver.Start(ReceiverCommand(data), data, env, log);
    }

    // SIGTERM: exit code 0 within 15 s, and the close journalled.
    void Stop()
    {
        receiver.Signal(SIGTERM);
        const auto signalled = Clock::now();
        EXPECT_EQ(receiver.WaitExit(15s), 0) << Log();
        EXPECT_LT(Clock::now() - signalled, 15s);
        EXPECT_TRUE(Logged(kStopped)) << Log();
    }

    // The events of "t3.bin" (UTF-8), newest first.
    std::vector<std::string> Events() const
    {
        MemTable events;
        TableFormat().Load(events, (data / "t3.bin").string());
        std::vector<std::string> out;
        for (int r = 0; r < events.RecordCount(); ++r)
            out.push_back(Cp1251ToUtf8(events.TextAt(r, journal::Event)));
        return out;
    }
    int RowsOf(const std::string& event) const
    {
        int n = 0;
        for (const std::string& e : Events())
            n += e == event;
        return n;
    }

    bool SimEmpty() { return sim.Command("sim 1").empty() && sim.Command("network 1").empty(); }

    TempDir dir;
    fs::path data;
    fs::path log = dir.path() / "receiver.log";
    std::size_t logFrom = 0;
    ModemSim sim;
    StationProcess receiver;
};

// Nothing of windows, pictures, sound or a display is linked in, nor loaded at
// run time with no display to be had: it starts, reads a report and journals it.
TEST_F(ReceiverProcess, NeedsNoDisplayAndLoadsNoGuiLibrary)
{
    // No Qt at all: the receiver runs its own loop (and goes where Qt cannot).
    const std::vector<std::string> guiLibraries = {"libQt6", "libX11", "libxcb", "libGL", "libEGL", "libwayland"};
    const ToolResult ldd = RunProgram({"/usr/bin/ldd", (BuildBinDir() / "korvalen-receiver").string()}, 20s);
    ASSERT_EQ(ldd.status, 0) << ldd.output;
    EXPECT_NE(ldd.output.find("libpq"), std::string::npos) << "not the receiver's list: " << ldd.output;
    for (const std::string& library : guiLibraries)
        EXPECT_EQ(ldd.output.find(library), std::string::npos) << library << " linked in:\n" << ldd.output;

    Start({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"});
    ASSERT_TRUE(WaitUntil(20s, [&] { return Logged(kStarted); })) << Log();
    const std::string environment =
        std::string(1, '\0') + ReadFileBytes("/proc/" + std::to_string(receiver.Pid()) + "/environ");
    EXPECT_NE(environment.find(std::string(1, '\0') + "PATH="), std::string::npos) << "the block was read";
    for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="})
        EXPECT_EQ(environment.find(std::string(1, '\0') + name), std::string::npos) << name << " reached the receiver";
    const std::string maps = ReadFileBytes("/proc/" + std::to_string(receiver.Pid()) + "/maps");
    EXPECT_NE(maps.find("libpq"), std::string::npos);
    for (const std::string& library : guiLibraries)
        EXPECT_EQ(maps.find(library), std::string::npos) << library << " loaded at run time";

    const std::string report = "Поставлено на охрану без экрана";
    sim.Command(std::string("sms 1 ") + kSender + " " + report);
    ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << Log();
    Stop();
    EXPECT_EQ(RowsOf("Новое сообщение:" + report), 1);
    // The technological journal's file has what the stream had.
    const std::string techno = ReadFileBytes(data / "techno.log");
    EXPECT_NE(techno.find(kStarted), std::string::npos) << techno;
    EXPECT_NE(techno.find(kStopped), std::string::npos) << techno;
}

// A command line it does not understand is refused with its usage and exit
// code 2; a folder or settings file it cannot read with the reason and 1.
// Either way nothing in the folder is touched.
TEST_F(ReceiverProcess, RefusesACommandLineOrFolderItCannotUse)
{
    const std::string bin = (BuildBinDir() / "korvalen-receiver").string();
    const std::string folder = data.string();
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{}, 2, "Не указана папка данных (--data DIR)"},
        {{"--data"}, 2, "После --data нужен путь"},
        {{"--data", folder, "--config"}, 2, "После --config нужен путь"},
        {{"--data", folder, "--port", "/dev/ttyS0"}, 2, "Неизвестный параметр: --port"},
        {{"--data", folder + "/nowhere"}, 1, "Нет доступа к папке данных: "},
        {{"--data", folder, "--config", "missing.ini"}, 1, "Нет файла настроек missing.ini: "},
    };
    const std::string t3 = ReadFileBytes(data / "t3.bin");
    for (const auto& c : cases) {
        std::vector<std::string> argv = {bin};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ToolResult run = RunProgram(argv, 10s);
        std::string line;
        for (const std::string& a : c.args)
            line += " [" + a + "]";
        EXPECT_EQ(run.status, c.status) << line << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << line << "\n" << run.output;
        EXPECT_EQ(run.output.find("Использование: korvalen-receiver --data") != std::string::npos, c.status == 2)
            << line << "\n" << run.output;
    }
    EXPECT_FALSE(fs::exists(data / "techno.log"));
    EXPECT_FALSE(fs::exists(data / "korvalen.running"));
    EXPECT_EQ(ReadFileBytes(data / "t3.bin"), t3);
    EXPECT_TRUE(sim.SentLines(1).empty() && sim.SentLines(2).empty()) << "a refused receiver spoke to a modem";
}

// A second receiver on the same folder is refused at once and the first goes
// on: it reads a report after the refusal, and SIGTERM ends it with the row.
TEST_F(ReceiverProcess, ASecondOnTheSameFolderIsRefusedWhileTheFirstGoesOn)
{
    Start();
    ASSERT_TRUE(WaitUntil(20s, [&] { return Logged(kStarted); })) << Log();
    const std::size_t sentBefore = sim.SentLines(1).size() + sim.SentLines(2).size();
    const ToolResult second = RunProgram(ReceiverCommand(data), 10s);
    EXPECT_EQ(second.status, 1) << second.output;
    EXPECT_NE(second.output.find("Станция уже работает с журналами в этой папке."), std::string::npos) << second.output;

    const std::string report = "Снято с охраны после отказа второму";
    sim.Command(std::string("sms 1 ") + kSender + " " + report);
    ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << Log();
    EXPECT_GT(sim.SentLines(1).size() + sim.SentLines(2).size(), sentBefore) << "the first went quiet";
    Stop();
    EXPECT_EQ(RowsOf("Новое сообщение:" + report), 1);
    EXPECT_EQ(Log().find(kStarted), Log().rfind(kStarted)) << "started twice:\n" << Log();
}

// The windows program watching the modems from the same folder, or from
// another with the same ports: the receiver is refused either way, and the
// station goes on.
TEST_F(ReceiverProcess, IsRefusedBesideTheWindowsProgramOnItsFolderOrItsPorts)
{
    InstallStation(data);
    StationProcess station;
    const fs::path stationLog = dir.path() / "station.log";
    station.Start(data, {"KORVALEN_AUTOSTART=Оператор:1234"}, stationLog);
    ASSERT_TRUE(sim.WaitForSent(2, "AT+CSQ\\r", 60s)) << "both modems started; see " << ReadFileBytes(stationLog);

    const fs::path other = dir.path() / "other";
    fs::create_directories(other);
    WriteStationTables(other, kSender, "Оператор", "1234", 0);
    WriteStationConfig(other, sim.Path(1), sim.Path(2));
    const ToolResult sameFolder = RunProgram(ReceiverCommand(data), 10s);
    EXPECT_EQ(sameFolder.status, 1) << sameFolder.output;
    EXPECT_NE(sameFolder.output.find("Станция уже работает с журналами в этой папке."), std::string::npos)
        << sameFolder.output;
    const ToolResult samePorts = RunProgram(ReceiverCommand(other), 20s);
    EXPECT_EQ(samePorts.status, 1) << samePorts.output;
    EXPECT_NE(samePorts.output.find("Невозможно открыть порт " + sim.Path(1) + " модема 1: "), std::string::npos)
        << samePorts.output;
    // The simulator keeps each port open as well; the station holds its lock.
    EXPECT_NE(samePorts.output.find("занят программой korvalen (процесс " + std::to_string(station.Pid()) + ")"),
              std::string::npos)
        << samePorts.output;

    const std::string report = "Снято с охраны при станции";
    sim.Command(std::string("sms 1 ") + kSender + " " + report);
    ASSERT_TRUE(WaitUntil(30s, [&] { return SimEmpty(); })) << ReadFileBytes(stationLog);
    std::this_thread::sleep_for(500ms);
    station.Signal(SIGTERM);
    ASSERT_EQ(station.WaitExit(15s), 0) << ReadFileBytes(stationLog);
    EXPECT_EQ(RowsOf("Новое сообщение:" + report), 1);
}

// A port another program holds (locked as the station locks its own) is
// refused by name, whichever modem it belongs to; the folder is left for the
// next start, which then works.
TEST_F(ReceiverProcess, APortHeldByAnotherProcessIsRefusedByName)
{
    for (const int modem : {1, 2}) {
        SCOPED_TRACE("modem " + std::to_string(modem));
        const std::string port = sim.Path(modem);
        const int held = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(held, 0) << port;
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        Start();
        const auto started = Clock::now();
        const int status = receiver.WaitExit(20s);
        ::close(held);
        EXPECT_EQ(status, 1) << Log();
        EXPECT_LT(Clock::now() - started, 15s);
        const std::string refusal =
            "korvalen-receiver: Невозможно открыть порт " + port + " модема " + std::to_string(modem) + ": ";
        EXPECT_NE(Log().find(refusal), std::string::npos) << Log();
        EXPECT_NE(Log().find(" (процесс " + std::to_string(::getpid()) + "). Закройте её и повторите."),
                  std::string::npos)
            << "the holder, this test, is named:\n" << Log();
        EXPECT_FALSE(Logged(kStarted)) << Log();
    }
    Start();
    EXPECT_TRUE(WaitUntil(20s, [&] { return Logged(kStarted); })) << Log();
    EXPECT_EQ(Log().find("Работа возобновлена после сбоя"), std::string::npos) << "a refusal is no crash:\n" << Log();
    Stop();
}

// SIGTERM, SIGHUP and SIGINT end it cleanly, with exit code 0 within 15 s,
// also while its modems are being started (kept silent, so that the start
// takes seconds): a report left on the SIM by such a run is read by the next,
// and an alarm open at the end is journalled as unhandled. Each report once.
TEST_F(ReceiverProcess, ASignalEndsItCleanlyWhileItStartsAndWhileItRuns)
{
    const std::string stored = "Поставлено на охрану до запуска";
    const std::string alarm = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Зона 4";
    sim.Command(std::string("sms 1 ") + kSender + " " + stored);
    sim.Command("silent 1 on");
    sim.Command("silent 2 on");
    const struct {
        int signal;
        int modem; // the signal comes once this modem has been spoken to
    } starting[] = {{SIGTERM, 1}, {SIGHUP, 2}};
    for (const auto& s : starting) {
        SCOPED_TRACE(strsignal(s.signal));
        const std::size_t sentBefore = sim.SentLines(s.modem).size();
        Start();
        ASSERT_TRUE(WaitUntil(20s, [&] { return sim.SentLines(s.modem).size() > sentBefore; })) << Log();
        ASSERT_FALSE(Logged(kStarted)) << "started before the signal; the modems answered?\n" << Log();
        receiver.Signal(s.signal);
        const auto signalled = Clock::now();
        EXPECT_EQ(receiver.WaitExit(15s), 0) << Log();
        EXPECT_LT(Clock::now() - signalled, 15s);
        EXPECT_TRUE(Logged(kStopped)) << Log();
        const ToolResult check = RunBuildTool("korvalen-jrn", {"check", (data / "t3.bin").string()});
        EXPECT_EQ(check.output.rfind("OK ", 0), 0u) << check.output;
        EXPECT_EQ(Events().size(), 10u);
    }

    sim.Command("silent 1 off");
    sim.Command("silent 2 off");
    Start();
    ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << "the report left by the stopped starts" << Log();
    sim.Command(std::string("sms 1 ") + kSender + " " + alarm);
    ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << Log();
    receiver.Signal(SIGINT);
    EXPECT_EQ(receiver.WaitExit(15s), 0) << Log();
    EXPECT_EQ(Log().find("Работа возобновлена после сбоя"), std::string::npos) << "a signal is no crash:\n" << Log();

    EXPECT_EQ(RowsOf("Новое сообщение:" + stored), 1);
    EXPECT_EQ(RowsOf("Новое сообщение:" + alarm), 1);
    int unhandled = 0;
    const std::string left = "Не обработано: Новое сообщение:" + alarm + " (без оператора, ждала ";
    for (const std::string& event : Events())
        unhandled += event.rfind(left, 0) == 0;
    EXPECT_EQ(unhandled, 1) << "the alarm open at the signal";
}

// Killed with an alarm open, it resumes on the next start with nobody to log
// in: the report sent while it was down is read, the alarm is still open and
// is journalled as unhandled by the clean close, once.
TEST_F(ReceiverProcess, AfterSigkillItResumesWithTheAlarmStillOpen)
{
    const std::string alarm = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Зона 7";
    const std::string meanwhile = "Снято с охраны, пока приёмник лежал";
    const fs::path record = data / "korvalen.running";
    auto alarmOnRecord = [&] { return ReadFileBytes(record).find("intrusion\t") != std::string::npos; };
    Start();
    ASSERT_TRUE(WaitUntil(20s, [&] { return Logged(kStarted); })) << Log();
    sim.Command(std::string("sms 1 ") + kSender + " " + alarm);
    ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << Log();
    ASSERT_TRUE(WaitUntil(10s, alarmOnRecord)) << ReadFileBytes(record);
    std::this_thread::sleep_for(1500ms); // the journal's log is synced
    ASSERT_EQ(receiver.Kill(), 128 + SIGKILL);

    sim.Command(std::string("sms 1 ") + kSender + " " + meanwhile);
    Start();
    EXPECT_TRUE(WaitUntil(20s, [&] { return Logged("Работа возобновлена после сбоя"); })) << Log();
    ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << Log();
    EXPECT_TRUE(WaitUntil(10s, alarmOnRecord)) << "the alarm open at the kill is not open again";
    Stop();
    EXPECT_FALSE(fs::exists(record)) << "the clean close removes it";

    EXPECT_EQ(RowsOf("Новое сообщение:" + alarm), 1);
    EXPECT_EQ(RowsOf("Новое сообщение:" + meanwhile), 1);
    EXPECT_EQ(RowsOf("Возобновление работы после сбоя"), 1);
    int unhandled = 0;
    for (const std::string& event : Events())
        unhandled += event.rfind("Не обработано: Новое сообщение:" + alarm + " (", 0) == 0;
    EXPECT_EQ(unhandled, 1);
}

// With nobody at a desk an alarm is escalated as in the windows program: once
// its wait is over, one SMS to the responder through modem 1, journalled as
// sent; a report that is no alarm calls nobody.
TEST_F(ReceiverProcess, EscalatesAnAlarmNobodyAcknowledges)
{
    const std::string responder = "+79990000001";
    {
        std::ofstream ini(data / "config.ini", std::ios::binary | std::ios::app);
        ini << "[Escalation]\r\nMinutes=0.05\r\nNumbers=" << responder << "\r\n";
    }
    const std::string alarm = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Зона 2";
    Start();
    ASSERT_TRUE(WaitUntil(20s, [&] { return Logged(kStarted); })) << Log();
    sim.Command(std::string("sms 1 ") + kSender + " Поставлено на охрану");
    sim.Command(std::string("sms 1 ") + kSender + " " + alarm);
    auto toResponder = [&] {
        int n = 0;
        for (const std::string& line : sim.Command("outbox 1"))
            n += line.find(" " + responder + " ") != std::string::npos;
        return n;
    };
    ASSERT_TRUE(WaitUntil(20s, [&] { return toResponder() > 0; })) << Log();
    std::this_thread::sleep_for(3s); // more ticks: no second SMS for the same alarm
    Stop();
    EXPECT_EQ(toResponder(), 1);
    MemTable events;
    TableFormat().Load(events, (data / "t3.bin").string());
    int sent = 0;
    for (int r = 0; r < events.RecordCount(); ++r)
        sent += events.TextAt(r, journal::Tel) == responder &&
                Cp1251ToUtf8(events.TextAt(r, journal::Event)).rfind("Эскалация: ", 0) == 0;
    EXPECT_EQ(sent, 1) << Log();
}

// A damaged table is no reason to stop: the receiver says which, keeps the
// damaged file aside as it was (the tile states are only rebuilt), starts,
// journals the next report once and closes with exit code 0.
TEST_F(ReceiverProcess, StartsOverADamagedTableAndKeepsItAside)
{
    const struct {
        const char* file;
        const char* told;
        bool keptAside;
    } cases[] = {
        {"t1.bin", "Реестр устройств (t1.bin, t2.bin) не прочитан: приёмник работает без устройств", true},
        {"t3.bin", "Список событий пуст!", true},
        {"t6.bin", "Список событий обзвона пуст!", true},
        {"t5.bin", "Список состояния объектов пуст.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        data = dir.path() / (std::string("data-") + c.file);
        fs::create_directories(data);
        WriteStationTables(data, kSender, "Оператор", "1234", 10);
        WriteStationConfig(data, sim.Path(1), sim.Path(2));
        const std::string whole = ReadFileBytes(data / c.file);
        const std::string damaged = whole.substr(0, whole.size() / 2) + "\x01garbage";
        WriteFileBytes(data / c.file, damaged);

        Start();
        ASSERT_TRUE(WaitUntil(20s, [&] { return Logged(kStarted); })) << Log();
        EXPECT_TRUE(Logged(c.told)) << Log();
        const std::string report = std::string("Поставлено на охрану после ") + c.file;
        sim.Command(std::string("sms 1 ") + kSender + " " + report);
        ASSERT_TRUE(WaitUntil(20s, [&] { return SimEmpty(); })) << Log();
        Stop();
        EXPECT_EQ(RowsOf("Новое сообщение:" + report), 1) << Log();
        if (c.keptAside) {
            EXPECT_EQ(ReadFileBytes(data / (std::string(c.file) + ".damaged")), damaged);
        }
    }
}

} // namespace
} // namespace kv::test
