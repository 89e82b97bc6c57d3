#pragma once
// The simulator process: N modems, each on its own pseudo-terminal, a control channel
// of text commands, and one poll() loop that carries all bytes and timers.
#include "tools/modemsim/Demo.h"
#include "tools/modemsim/PtyLink.h"
#include "tools/modemsim/SimModem.h"

#include <memory>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

namespace kv::modemsim {

struct SimulatorOptions {
    int modems = 2;
    bool demo = false;
    std::string linkDir;     // when set, DIR/modemN links follow the slaves
    std::uint32_t seed = 1;
    const Family* family = nullptr; // every modem's family; the default when null
    bool noise = false;             // harmless unsolicited codes from the start
    ModemOptions modem;      // seed is derived per modem from `seed`
};

// Answer to one control command: output lines then "ok", or one "error ..." line.
struct ControlReply {
    bool ok = true;
    std::vector<std::string> lines;
    std::string error;
    bool quit = false;
};

class Simulator {
public:
    static constexpr int kMaxModems = 16;
    static constexpr size_t kMaxControlLine = 64 * 1024;

    explicit Simulator(SimulatorOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens every pseudo-terminal (and link); false and `error` on failure.
    bool Start(std::string& error, Millis now);
    // "modemN <path>" for each modem: the link when there is one, else the slave.
    std::vector<std::string> PortLines() const;
    ControlReply Execute(std::string_view line, Millis now);

    // Moves bytes between the modems and their pseudo-terminals and runs due timers;
    // returns the poll() time-out until the next thing is due (-1: nothing is).
    int Pump(Millis now);
    // Descriptors for poll(): each plugged modem's master, with POLLOUT while output waits.
    void AddPollFds(std::vector<pollfd>& fds) const;

    // Runs until "quit", end of input, or a signal on `signalFd` (-1: none).
    int Run(int controlIn, int controlOut, int signalFd);

    SimModem& Modem(int number) { return *m_ports.at(number - 1)->modem; }
    std::string PortPath(int number) const;

private:
    struct Port {
        std::unique_ptr<SimModem> modem;
        PtyLink link;
        std::string pending; // taken from the modem, not yet accepted by the pty
        std::string linkPath;
    };

    bool Plug(Port& port, std::string& error);
    void Unplug(Port& port);
    void ServicePort(Port& port, Millis now);
    void ReadPort(Port& port, Millis now);

    SimulatorOptions m_options;
    std::vector<std::unique_ptr<Port>> m_ports;
    std::unique_ptr<DemoScript> m_demo;
};

} // namespace kv::modemsim
