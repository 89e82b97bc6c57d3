// The whole station with million-row journals: start-up to the main window
// shown, one event with its after-post work, scrolling the journal grid,
// clearing a million rows, memory; and (with --idle N) the CPU of the running
// station with both workers and the board tick against the modem simulator.
// Usage: station_scale_bench [rows] [--idle seconds]
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "devices/DeviceRegister.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TileStates.h"
#include "modemsetup/ModemUnit.h"
#include "station/JournalSearchWindow.h"
#include "station/OperatorDesk.h"
#include "station/Station.h"
#include "station/mainunit.h"
#include "tests/support/ModemSim.h"
#include "tests/support/ScriptedDialogs.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "users/SecurityUnit.h"
#include "windows/AppPaths.h"
#include "data/IniFile.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace kv::literals;

namespace {

double Ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return 0;
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        kv::ServeHandOvers();
    }
}

// Journals of `rows` events over 50 devices, a register of those devices, an account.
void MakeFiles(int rows)
{
    kv::TableFormat format;
    const std::vector<std::string> texts = {
        std::string("Новое сообщение:Поставлено на охрану. Питание в норме, температура +21"_cp),
        std::string("Новое сообщение:Снято с охраны ключом №3"_cp),
        std::string("Новое сообщение:Сетевое питание отключено, система питается от АКБ"_cp)};
    const std::string_view statuses[] = {kv::status::kArmed, kv::status::kDisarmed, kv::status::kInfoSms};
    for (const char* file : {"t3.bin", "t6.bin"}) {
        kv::MemTable journal;
        kv::DefineJournal(journal);
        for (int i = 0; i < rows; ++i) {
            const std::string tel = "+7900100" + std::to_string(1000 + i % 50);
            kv::RecordEvent(journal, statuses[i % 3], tel, texts[static_cast<std::size_t>(i % 3)],
                            [&](const std::string&) { return "Obj" + std::to_string(i % 50); },
                            40000.0 + i / 1440.0);
        }
        format.Save(journal, file);
    }
    kv::MemTable devices("DeviceTable"), descriptions("DescriptionTable");
    kv::DefineDeviceTable(devices);
    kv::DefineDescriptionTable(descriptions);
    for (int d = 0; d < 50; ++d) {
        devices.Append();
        devices.FieldByName("device").SetAsString("Device " + std::to_string(d));
        devices.Post();
        descriptions.Append();
        descriptions.FieldByName("k1").SetAsInteger(devices.FieldByName("k1").AsInteger());
        descriptions.FieldByName("simplename").SetAsString("Obj" + std::to_string(d));
        descriptions.FieldByName("simcard").SetAsString("+7900100" + std::to_string(1000 + d));
        descriptions.FieldByName("dialtime").SetAsString("60");
        descriptions.FieldByName("dialenable").SetAsBoolean(d < 3);
        descriptions.Post();
    }
    format.Save(descriptions, "t1.bin");
    format.Save(devices, "t2.bin");
    kv::MemTable users("SecurityTable");
    kv::DefineSecurityTable(users);
    users.Append();
    users.FieldByName("user").SetAsString(std::string("Администратор"_cp));
    users.FieldByName("password").SetAsString("1");
    users.Post();
    format.Save(users, "t4.bin");
    kv::TileStates tiles;
    kv::SaveTileStates(tiles, "t5.bin");
}

} // namespace

int main(int argc, char** argv)
{
    int rows = 1000000;
    int idleSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--idle") == 0 && i + 1 < argc)
            idleSeconds = std::atoi(argv[++i]);
        else
            rows = std::atoi(argv[i]);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const fs::path work = fs::temp_directory_path() / ("korvalen-scale-" + std::to_string(getpid()));
    fs::create_directories(work / "program");
    fs::current_path(work);
    QApplication app(argc, argv);
    kv::InstallUiThread();
    kv::UseDecimalPoint();
    const fs::path bin = fs::path(QCoreApplication::applicationDirPath().toStdString());
    for (const char* folder : {"ICO", "Pictures", "Sounds"})
        fs::create_directory_symlink(bin / folder, work / "program" / folder);
    kv::SetProgramDirForTests(QString::fromStdString((work / "program").string()));
    kv::RecordingSoundPlayer sounds;
    kv::SetSoundPlayer(&sounds);
    kv::test::ScriptedDialogs dialogs;

    QElapsedTimer t;
    t.start();
    MakeFiles(rows);
    const double filesMb = (fs::file_size("t3.bin") + fs::file_size("t6.bin")) / 1e6;
    std::printf("journals: 2 x %d rows, %.1f MB on disk (made in %.0f ms)\n", rows, filesMb, Ms(t));
    const long rssBefore = StatusKb("VmRSS:");

    std::unique_ptr<kv::test::ModemSim> sim;
    if (idleSeconds > 0) {
        sim = std::make_unique<kv::test::ModemSim>();
        kv::IniFile ini((work / "program" / "config.ini").string());
        ini.WriteString("MainDevice", "CPort", sim->Path(1));
        ini.WriteString("MainDevice", "CPortBaudRate", "115200");
        ini.WriteString("SecondDevice", "CPort", sim->Path(2));
        ini.WriteString("SecondDevice", "CPortBaudRate", "115200");
    }

    t.restart();
    auto station = std::make_unique<kv::Station>();
    station->Show();
    Settle();
    const double startMs = Ms(t);
    const long rss = StatusKb("VmRSS:") - rssBefore;
    std::printf("start-up to the main window shown: %.0f ms (target < 2000)\n", startMs);
    std::printf("memory of the running station: %.1f MB resident over the start, %.2f x the journal files (target < 2)\n",
                rss / 1024.0, rss / 1024.0 / filesMb * 1.048576);
    if (!dialogs.messages.empty())
        std::printf("  (start-up showed %zu message box(es); first: %s)\n", dialogs.messages.size(),
                    kv::ToQ(dialogs.messages[0].text).toStdString().c_str());

    kv::StationContext& ctx = station->Context();
    kv::TForm1& form = station->Form1();
    ctx.LoggedIn = true;
    form.SetLoginControlsEnabled(true);

    if (idleSeconds > 0) {
        station->ModemForm().RbButton7Click();
        kv::WaitServing([] { return false; }, std::chrono::seconds(15));
        QEventLoop loop;
        QTimer::singleShot(idleSeconds * 1000, &loop, &QEventLoop::quit);
        const double cpu0 = CpuSeconds();
        t.restart();
        loop.exec();
        const double share = 100.0 * (CpuSeconds() - cpu0) / (Ms(t) / 1000.0);
        std::printf("idle CPU, both workers and the board tick, %d s: %.2f %% of one core (target < 2)\n",
                    idleSeconds, share);
        form.close();
        return 0;
    }

    // One event as a worker's hand-over records it, with the journal's after-post work.
    const int events = 2000;
    double worst = 0;
    t.restart();
    for (int i = 0; i < events; ++i) {
        QElapsedTimer one;
        one.start();
        kv::RecordEvent(form.EventsTable, kv::status::kAlarm, "+79001001007",
                        std::string("Новое сообщение:Внимaние ТPEBОГА"_cp),
                        [&](const std::string& tel) { return station->Register().FindShortNameByNumber(tel, ""); }, kv::LocalNow());
        worst = std::max(worst, Ms(one));
    }
    std::printf("RecordEvent with its after-post work: %.3f ms mean, %.3f ms worst of %d (target < 1)\n",
                Ms(t) / events, worst, events);

    // Scrolling: the grid reads the rows it shows in place.
    QScrollBar* bar = form.DBGrid2->verticalScrollBar();
    form.DBGrid2->resize(800, 240);
    double paintWorst = 0, paintTotal = 0;
    const int steps = 50;
    for (int i = 0; i < steps; ++i) {
        bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * i / (steps - 1)));
        QElapsedTimer one;
        one.start();
        (void)form.DBGrid2->grab();
        paintWorst = std::max(paintWorst, Ms(one));
        paintTotal += Ms(one);
    }
    std::printf("journal grid repaint at 50 positions across %d rows: %.2f ms mean, %.2f ms worst\n",
                form.EventsTable.RecordCount(), paintTotal / steps, paintWorst);

    // The journal search window: "Найти" with no filter (every row into its
    // list) and with a text, each with the list's first paint.
    kv::TJournalSearchForm& search = station->Desk().SearchForm();
    form.N7Click();
    Settle();
    for (const char* text : {"", "пожар"}) {
        search.TextEdit->setText(QString::fromUtf8(text));
        t.restart();
        search.FindButtonClick();
        (void)search.ResultGrid->grab();
        std::printf("journal search window, text \"%s\": %d rows found and shown in %.0f ms (target < 200)\n", text,
                    search.Model().rowCount(), Ms(t));
    }
    // New events while the window shows every row: each comes in on top.
    search.TextEdit->clear();
    search.FindButtonClick();
    double liveWorst = 0;
    t.restart();
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer one;
        one.start();
        kv::RecordEvent(form.EventsTable, kv::status::kAlarm, "+79001001007", "live", {}, kv::LocalNow());
        liveWorst = std::max(liveWorst, Ms(one));
    }
    std::printf("RecordEvent with the search window showing all %d rows: %.3f ms mean, %.3f ms worst of 200\n",
                search.Model().rowCount(), Ms(t) / 200, liveWorst);
    search.close();

    dialogs.yesNoAnswers = {true};
    t.restart();
    form.N6Click();
    Settle();
    std::printf("\"Очистить\" of %d rows (with the fold of the empty journal): %.0f ms (target < 2000); %d left\n",
                rows + events, Ms(t), form.EventsTable.RecordCount());
    std::printf("peak resident memory: %.1f MB\n", StatusKb("VmHWM:") / 1024.0);

    station.reset();
    kv::SetProgramDirForTests({});
    kv::SetSoundPlayer(nullptr);
    fs::current_path(fs::temp_directory_path());
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
