// CPU used by a running modem-1 worker (worker thread, port event thread and the
// UI thread's hand-overs) against the modem simulator: first with no traffic,
// then with an SMS every 5 s. Usage: worker_cpu_bench [seconds-per-phase]
#include "data/Text.h"
#include "modem/CommThread.h"
#include "modem/Commands.h"
#include "modem/Modem.h"
#include "serial/CPort.h"
#include "tests/support/ModemSim.h"
#include "tests/support/RecordingHost.h"
#include "timing/Clock.h"
#include "timing/UiThread.h"
#include "timing/rdtsc.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Phase(const char* name, int seconds, const std::function<void(int)>& everySecond)
{
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    // The Qt event loop serves the hand-overs, as in the station: no polling here.
    QEventLoop loop;
    int second = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (second == seconds)
            loop.quit();
        else
            everySecond(second++);
    });
    tick.start(1000);
    everySecond(second++);
    loop.exec();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double share = 100.0 * (CpuSeconds() - cpu0) / wall;
    std::printf("%-28s %6.1f s wall  %7.3f s CPU  %6.2f %% of one core\n", name, wall, CpuSeconds() - cpu0, share);
    return share;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    QCoreApplication app(argc, argv);
    kv::InstallUiThread();
    kv::test::ModemSimOptions options;
    options.modems = 1;
    kv::test::ModemSim sim(options);
    kv::test::RecordingHost host;
    kv::TModem modem;
    kv::TComPort port;
    port.SetPort(sim.Path(1));
    port.SetDiscardNull(true);
    port.SetOnRxChar([&](kv::TComPort* p, int n) { modem.AppendReceived(p->ReadText(n)); });
    port.Open();
    modem.Running = true;
    port.WriteText(std::string(kv::kCmdLinkTest));
    kv::WaitMs(1000);
    kv::TCommThread worker(modem, port, host, kv::RealClock::Instance(), [] { return kv::TileSaveResult::Saved; });
    worker.Start();
    for (auto line : {kv::kCmdEchoOn, kv::kCmdTextMode, kv::kCmdCharsetUcs2, kv::kCmdTextParams})
        kv::EnqueueCommand(modem, std::string(line));
    kv::WaitMs(100);
    modem.ClearRx();
    // Let the start-up exchanges finish before measuring.
    kv::WaitServing([] { return false; }, std::chrono::milliseconds(15000));

    Phase("idle (polls only)", seconds, [](int) {});
    Phase("an SMS every 5 s", seconds, [&](int s) {
        if (s % 5 == 0)
            sim.Command("sms 1 +79111111111 Поставлено на охрану");
    });
    std::printf("journal rows written: %zu\n", host.Events().size());
    modem.Running = false;
    kv::WaitServing([&] { return worker.Finished(); }, std::chrono::milliseconds(15000));
    port.Close();
    return 0;
}
