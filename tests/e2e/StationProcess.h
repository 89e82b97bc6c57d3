#pragma once
// The station as a program of its own: installed into a folder of the test's
// (the executable copied there, its pictures and sounds linked in, never
// anything written into the build's folder), started with that folder as its
// working directory, signalled, and reaped. The journal tool as a child too.
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kv::test {

// Copies the built station into `programDir` (a hard link when the build is
// on the same file system) and links ICO/, Pictures/ and Sounds/ beside it.
void InstallStation(const std::filesystem::path& programDir);

class StationProcess {
public:
    StationProcess() = default;
    // SIGKILL and reap, should the test end with the station still running.
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // Starts programDir/korvalen in programDir, offscreen, with `env` added
    // ("NAME=value"); its output goes to `logFile`. Throws when it cannot start.
    void Start(const std::filesystem::path& programDir, const std::vector<std::string>& env,
               const std::filesystem::path& logFile);
    // The same for any station program started in `workingDir` (an installed
    // one); a variable of `env` replaces the inherited one of that name, and a
    // bare name ("DISPLAY") removes it (QT_QPA_PLATFORM too, which is offscreen
    // unless named).
    void Start(const std::filesystem::path& program, const std::filesystem::path& workingDir,
               const std::vector<std::string>& env, const std::filesystem::path& logFile);
    // The same with arguments: `argv[0]` is the program's path.
    void Start(const std::vector<std::string>& argv, const std::filesystem::path& workingDir,
               const std::vector<std::string>& env, const std::filesystem::path& logFile);
    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;
    // Exit code, 128 + signal when a signal ended it, -1 when it is still
    // running at the limit.
    int WaitExit(std::chrono::milliseconds limit);
    // Kills with SIGKILL and reaps; returns the status as WaitExit does.
    int Kill();

private:
    pid_t m_pid = -1;
};

struct ToolResult {
    int status = -1; // exit code, -1 when it did not end in time
    std::string output; // standard output and error together
};
// Runs a program of the build's folder (e.g. "korvalen-jrn") with arguments, bounded.
ToolResult RunBuildTool(const std::string& program, const std::vector<std::string>& args,
                        std::chrono::milliseconds limit = std::chrono::seconds(20));
// Runs argv[0] (a path) with the rest as its arguments, bounded.
ToolResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit);

// A device of the register beyond the first: short name in CP1251, number,
// and whether the ring-round calls it, every `dialMinutes` ("." decimals),
// first that long after the start.
struct StationDevice {
    std::string shortName;
    std::string number;
    bool dial = false;
    std::string dialMinutes = "60";
};

// A station's files in `dir`: a register of one device "Склад" with number
// `sender` and `moreDevices` after it, the account `user` (UTF-8) with
// `password`, a main journal of `oldRows` old rows, an empty ring-round journal
// and fresh tile states, so that it starts without a message. Throws when a
// file cannot be written.
void WriteStationTables(const std::filesystem::path& dir, const std::string& sender, const std::string& user,
                        const std::string& password, int oldRows, const std::vector<StationDevice>& moreDevices = {});
// "config.ini" in `dir` naming the two ports at 115200 baud.
void WriteStationConfig(const std::filesystem::path& dir, const std::string& port1, const std::string& port2);

// Looks at `done` every `period` until it holds or `limit` has passed; its
// last answer. For tests that wait on another process, with no event loop to serve.
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds period = std::chrono::milliseconds(100));

// The simulator's options with its modems at stable link paths in `dir`.
ModemSimOptions LinkedModems(const TempDir& dir);

// The build's folder (KORVALEN_BIN_DIR).
std::filesystem::path BuildBinDir();

// The command line of the built receiver on the data folder `dataDir`.
std::vector<std::string> ReceiverCommand(const std::filesystem::path& dataDir);

} // namespace kv::test
