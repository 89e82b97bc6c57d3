#pragma once
// The modem simulator as a child process of a test: started with pipes on its control
// channel, its device paths read from the banner, commands answered with deadlines,
// and killed when the object goes. End-to-end tests use it to stand in for the modems.
#include <chrono>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kv::test {

struct ModemSimOptions {
    int modems = 2;
    bool demo = false;
    std::string linkDir;                 // --link-dir: stable DIR/modemN paths
    std::string family;                  // --family: the modems' family (sim800 when empty)
    std::vector<std::string> extraArgs;
    std::string program;                 // the simulator to run; empty: BinaryPath()
    std::chrono::milliseconds deadline{5000}; // for the banner and for each command
};

// Thrown after the failure has been reported to the test, so the test stops there.
class ModemSimError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ModemSim {
public:
    explicit ModemSim(ModemSimOptions options = {});
    ~ModemSim();
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    // Path of modem 1..N as the banner gave it (the link path with a link folder).
    const std::string& Path(int modem) const;
    int Modems() const { return static_cast<int>(m_paths.size()); }

    struct Result {
        bool ok = false;
        std::vector<std::string> lines;
        std::string error; // the "error ..." line
    };
    // Output lines of one control command. An "error" answer or a missed deadline
    // fails the test and throws ModemSimError.
    std::vector<std::string> Command(const std::string& line);
    // The same, but an "error" answer is returned; a missed deadline still fails.
    Result TryCommand(const std::string& line);

    // Every line the station sent to `modem` so far, escaped as `sent` gives them
    // (the simulator's `sent` empties its list; this keeps the whole history).
    const std::vector<std::string>& SentLines(int modem);
    // Waits until the station has sent `line` (escaped, e.g. "AT+CPMS?\\r") to `modem`.
    bool WaitForSent(int modem, const std::string& line,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

    // Closes the control channel (end of input) without waiting.
    void CloseInput();
    // Waits for the simulator to end: its exit status, or -1 when it did not end in time.
    int WaitExit(std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
    // SIGTERM, then WaitExit.
    int Terminate();
    pid_t Pid() const { return m_pid; }

    // KORVALEN_BIN_DIR/modemsim, or modemsim beside the running test program.
    static std::string BinaryPath();

private:
    bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);
    [[noreturn]] void Fail(const std::string& message);
    void Kill();

    ModemSimOptions m_options;
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::string m_buffer;
    std::vector<std::string> m_paths;
    std::vector<std::vector<std::string>> m_sent;
};

} // namespace kv::test
