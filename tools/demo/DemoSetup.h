#pragma once
// The demo start of the station: whether ./run should bring up the simulated
// modems, the "config.ini" that points the station at them, and the working
// folder's first files (the register of the simulator's demo devices, two
// accounts), all in the station's own formats. Files an operator already has
// are never replaced.
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace kv {
class MemTable;
}

namespace kv::demo {

namespace fs = std::filesystem;

// Texts here are UTF-8; they are stored as code page 1251.
struct Account {
    std::string_view user;
    std::string_view password;
};
inline constexpr Account kAccounts[] = {
    {"Администратор", "admin"},
    {"Оператор", "1234"},
};
// Offered in the login field at the first start: the ordinary operator, whose
// name then needs no Russian keyboard.
inline constexpr std::string_view kFirstUser = "Оператор";

inline constexpr std::string_view kUssdCode = "*100#";
inline constexpr std::string_view kBaudRate = "115200";

// The register and the accounts, built in memory.
void FillRegister(MemTable& devices, MemTable& descriptions);
void FillAccounts(MemTable& security);

// ---- which start

enum class Mode { Demo, Real };

struct Port {
    std::string name; // as "config.ini" gives it (or the station's default)
    std::string path; // the device the station opens for it
    bool exists = false;
};

struct Decision {
    Mode mode = Mode::Demo;
    std::string reason;
    std::vector<Port> ports; // modem 1, modem 2; empty without "config.ini"
    // "config.ini" is the operator's own (not written by a demo start).
    bool operatorConfig = false;
};

// No "config.ini": demo. A "config.ini" whose ports lie in `linkDir` was
// written by an earlier demo start: demo again. Otherwise real modems as soon
// as one configured port's device exists; demo when none does.
Decision Decide(const fs::path& programDir, const fs::path& linkDir);

// Points "config.ini" at the simulated modems. An operator's own file is kept
// beside it first ("config.ini.saved", numbered when that name is taken).
// Returns the name it was kept under, empty when there was nothing to keep.
std::string WriteDemoConfig(const fs::path& programDir, const fs::path& linkDir, const std::string& modem1,
                            const std::string& modem2);

// ---- the working folder

struct Prepared {
    std::vector<std::string> made; // file names written now
    std::vector<std::string> kept; // file names that were there and stay as they were
    // The demo accounts that "t4.bin" holds (made now or earlier), UTF-8.
    std::vector<Account> logins;
};

// Writes, each only when missing: the register ("t1.bin" and "t2.bin", only
// when neither exists), the accounts ("t4.bin"), the two journals with their
// first row and the tile states (so the first start asks nothing), and
// "user.ini" beside the program with the ordinary operator's name.
// Throws std::runtime_error when a file cannot be written.
Prepared PrepareFiles(const fs::path& dataDir, const fs::path& programDir, double now);

// korvalen-demo mode|config|files ...; returns the exit code.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace kv::demo
