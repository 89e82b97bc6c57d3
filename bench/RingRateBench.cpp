// Calls an hour one modem 2 makes: the ring-round worker on virtual time
// against a scripted modem, every device due all the time, so the figure is
// what the modem can do, not what the board asks. Usage: ring_rate [hours]
#include "modem/DialThread.h"
#include "tests/support/CallLog.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestClock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using kv::test::FakePort;

struct Figures {
    double callsAnHour = 0;
    double verdictSeconds = 0; // from the dial command to the next one
};

// `devices` devices, each answering as `reply` says after its dial command.
Figures Run(int devices, double hours, const std::vector<FakePort::Piece>& reply)
{
    kv::test::TestClock clock;
    kv::test::CallLog log{&clock};
    FakePort port{&clock, &log};
    kv::test::RecordingHost host{&log};
    kv::TModem modem;
    kv::DialSchedule schedule;
    kv::DialState state;
    modem.Running = true;
    port.DeliverTo([&](const std::string& bytes) { modem.AppendReceived(bytes); });
    std::vector<kv::DialDevice> board;
    for (int i = 0; i < devices; ++i) {
        const std::string number = "+7911" + std::to_string(1000000 + i);
        const std::string command = "ATD" + number + ";\r";
        host.AddDevice(number, "D" + std::to_string(i));
        std::vector<FakePort::Piece> pieces{{0, command + "\r\n"}};
        for (const FakePort::Piece& p : reply)
            pieces.push_back(p);
        port.Always(command, pieces);
        board.push_back({"D" + std::to_string(i), true, "0"}); // due at every pass
    }
    port.Always("AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n");
    port.Always("ATH\r", "ATH\r\r\nOK\r\n");
    schedule.Rebuild(board, 30, 30, clock.MonotonicMs());
    kv::TDialThread worker(modem, port, host, clock, schedule, state);
    // The first hour's calls fill the log; the figure is over the whole run.
    const auto end = static_cast<std::uint64_t>(hours * 3600000.0);
    while (clock.NowMs() < end)
        worker.Pass();
    std::size_t calls = 0;
    for (const std::string& w : port.Writes())
        if (w.starts_with("ATD"))
            ++calls;
    Figures f;
    f.callsAnHour = static_cast<double>(calls) / hours;
    f.verdictSeconds = calls ? hours * 3600.0 / static_cast<double>(calls) : 0;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const double hours = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(hours > 0)) {
        std::fprintf(stderr, "usage: ring_rate [hours]\n");
        return 2;
    }
    struct Case {
        const char* name;
        std::vector<FakePort::Piece> reply;
    };
    const std::vector<Case> cases = {
        {"BUSY after 3 s", {{3000, "\r\nBUSY\r\n"}}},
        {"NO CARRIER after 10 s", {{10000, "\r\nNO CARRIER\r\n"}}},
        {"no answer at all", {}},
    };
    std::printf("ring-round on one modem 2, 20 devices always due, %.1f virtual hour(s)\n", hours);
    for (const Case& c : cases) {
        const auto t0 = std::chrono::steady_clock::now();
        const Figures f = Run(20, hours, c.reply);
        const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("  %-24s %6.0f calls an hour (one every %.1f s)   [%.2f s real]\n", c.name, f.callsAnHour,
                    f.verdictSeconds, real);
    }
    return 0;
}
