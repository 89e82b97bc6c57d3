// modemsim: simulated GSM modems on pseudo-terminals, scripted through standard input.
#include "tools/modemsim/Simulator.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void Usage()
{
    std::cerr << "usage: modemsim [--modems N] [--family NAME] [--noise] [--demo] [--link-dir DIR] [--seed N]\n"
                 "families: " << kv::modemsim::FamilyNames() << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    using namespace kv::modemsim;
    SimulatorOptions options;
    options.seed = std::random_device{}();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--modems" && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > Simulator::kMaxModems) {
                std::cerr << "modemsim: --modems takes 1.." << Simulator::kMaxModems << "\n";
                return 2;
            }
            options.modems = static_cast<int>(n);
        } else if (arg == "--family" && hasValue) {
            options.family = FindFamily(argv[++i]);
            if (!options.family) {
                std::cerr << "modemsim: --family takes one of " << FamilyNames() << "\n";
                return 2;
            }
        } else if (arg == "--noise") {
            options.noise = true;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--link-dir" && hasValue) {
            options.linkDir = argv[++i];
        } else if (arg == "--seed" && hasValue) {
            options.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            Usage();
            return 2;
        }
    }

    // Signals arrive through a descriptor of the poll loop, so that the links are
    // removed on the way out whatever ended the run.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int signalFd = signalfd(-1, &mask, SFD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options);
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    std::string error;
    if (!simulator.Start(error, now)) {
        std::cerr << "modemsim: " << error << "\n";
        return 1;
    }
    std::string banner;
    for (const std::string& line : simulator.PortLines())
        banner += line + "\n";
    banner += "ready\n";
    std::cout << banner << std::flush;
    return simulator.Run(STDIN_FILENO, STDOUT_FILENO, signalFd);
}
