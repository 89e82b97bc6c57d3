// The Debian package of what this build built, installed into a fresh root
// and started there as a new user would: a fresh home folder, the station
// offscreen against the package's own modem simulator.
#include "tests/e2e/StationProcess.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kSender = "+79111111111";
constexpr const char* kOperator = "Оператор";
constexpr const char* kPassword = "1234";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// Every package the control file depends on is installed here, at a version
// that satisfies it: the station in the fresh root runs on this system's libraries.
void ExpectDependenciesInstalled(const std::string& deb)
{
    const ToolResult check = RunProgram(
        {"/bin/bash", "-c",
         "dpkg-deb -f \"$1\" Depends | tr ',' '\\n' | while read -r dep; do"
         "  [ -z \"$dep\" ] && continue; ok=0;"
         "  IFS='|' read -ra alts <<< \"$dep\";"
         "  for alt in \"${alts[@]}\"; do"
         "    name=$(echo $alt | cut -d' ' -f1); want=$(echo \"$alt\" | sed -n 's/.*(\\(.*\\)).*/\\1/p');"
         "    have=$(dpkg-query -W -f='${Status} ${Version}' \"$name\" 2>/dev/null | sed -n 's/^install ok installed //p');"
         "    [ -z \"$have\" ] && continue;"
         "    if [ -z \"$want\" ] || dpkg --compare-versions \"$have\" ${want}; then ok=1; fi;"
         "  done;"
         "  [ $ok = 1 ] || echo \"missing: $dep\";"
         "done",
         "check", deb},
        20s);
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output, "") << "dependencies not installed";
}

TEST(Package, InstalledIntoAFreshRootItStartsInAFreshHomeJournalsAnSmsAndClosesCleanly)
{
    TempDir dir;
    const fs::path build = BuildBinDir().parent_path();
    const ToolResult packaged = RunProgram(
        {std::string(KORVALEN_TEST_SOURCE_DIR) + "/scripts/package.sh", "--from-build", build.string(),
         (dir.path() / "out").string()},
        300s);
    ASSERT_EQ(packaged.status, 0) << packaged.output;
    const std::string deb = Lines(packaged.output).back();
    ASSERT_TRUE(fs::exists(deb)) << packaged.output;
    EXPECT_EQ(fs::path(deb).filename().string().rfind("korvalen_", 0), 0u);
    ExpectDependenciesInstalled(deb);

    const fs::path root = dir.path() / "root";
    const ToolResult extracted = RunProgram({"/usr/bin/dpkg-deb", "-x", deb, root.string()}, 60s);
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    for (const char* file : {"usr/bin/korvalen", "usr/bin/korvalen-jrn", "usr/bin/modemsim",
                             "usr/share/korvalen/Sounds/Alarm.wav", "usr/share/applications/korvalen.desktop",
                             "usr/share/icons/hicolor/48x48/apps/korvalen.png", "usr/share/man/man1/korvalen.1.gz",
                             "usr/share/man/man1/korvalen-jrn.1.gz", "usr/share/man/man1/modemsim.1.gz",
                             "usr/share/doc/korvalen/copyright"})
        EXPECT_TRUE(fs::exists(root / file)) << file;

    // A new user: nothing of the station in the home folder yet. The first
    // start creates the folders and then waits on its first-start messages.
    const fs::path home = dir.path() / "home";
    fs::create_directories(home);
    const fs::path config = home / ".config/korvalen";
    const fs::path data = home / ".local/share/korvalen";
    const std::vector<std::string> env = {"HOME=" + home.string(), "XDG_CONFIG_HOME=", "XDG_DATA_HOME="};
    const fs::path log = dir.path() / "station.log";
    StationProcess station;
    station.Start(root / "usr/bin/korvalen", home, env, log);
    EXPECT_TRUE(WaitFor([&] { return fs::exists(data / "korvalen.lock"); }, 30s))
        << "no working folder in " << data << "; see " << log;
    EXPECT_TRUE(fs::is_directory(config));
    EXPECT_FALSE(fs::exists(home / "korvalen.lock")) << "the tables do not land in the folder it was started in";
    station.Kill();

    // Set up as an installer would, then the operator's start.
    WriteStationTables(data, kSender, kOperator, kPassword, 0);
    ModemSimOptions options;
    options.program = (root / "usr/bin/modemsim").string();
    ModemSim sim(options);
    WriteStationConfig(config, sim.Path(1), sim.Path(2));
    std::vector<std::string> run = env;
    run.push_back(std::string("KORVALEN_AUTOSTART=") + kOperator + ":" + kPassword);
    station.Start(root / "usr/bin/korvalen", home, run, log);
    ASSERT_TRUE(sim.WaitForSent(1, "AT\\r", 30s)) << "no modem initialisation; see " << log;
    sim.Command(std::string("sms 1 ") + kSender + " Поставлено на охрану");
    const bool read = WaitFor([&] { return sim.Command("sim 1").empty(); }, 60s);
    EXPECT_TRUE(read) << "the message was never read; see " << log;
    std::this_thread::sleep_for(1500ms); // its row synced
    station.Signal(SIGTERM);
    EXPECT_EQ(station.WaitExit(20s), 0) << "SIGTERM closes it as its close box does; see " << log;

    const ToolResult journal = RunProgram({(root / "usr/bin/korvalen-jrn").string(), "csv", (data / "t3.bin").string()}, 20s);
    ASSERT_EQ(journal.status, 0) << journal.output;
    EXPECT_NE(journal.output.find("Новое сообщение:Поставлено на охрану"), std::string::npos) << journal.output;
    EXPECT_NE(journal.output.find(kSender), std::string::npos);
    EXPECT_FALSE(fs::exists(config / "t3.bin") || fs::exists(root / "usr/bin/t3.bin") || fs::exists(home / "t3.bin"))
        << "the tables stay in the data folder";
    std::ifstream techno(data / "techno.log");
    std::string technoText((std::istreambuf_iterator<char>(techno)), std::istreambuf_iterator<char>());
    EXPECT_NE(technoText.find("Поставлено на охрану"), std::string::npos) << "the technological journal is kept";

    // Private: the folders the station made and every file it wrote, the
    // accounts' passwords hashed at the start (the installer wrote one in clear).
    for (const fs::path& folder : {config, data})
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    for (const fs::path& file : {data / "t3.bin", data / "t4.bin", data / "techno.log", data / "korvalen.lock"})
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write) << file;
    const ToolResult accounts = RunProgram({(root / "usr/bin/korvalen-jrn").string(), "csv", (data / "t4.bin").string()}, 20s);
    EXPECT_NE(accounts.output.find("$argon2id$"), std::string::npos) << accounts.output;
    EXPECT_EQ(accounts.output.find(std::string(";") + kPassword), std::string::npos) << accounts.output;
    const ToolResult depends = RunProgram({"/usr/bin/dpkg-deb", "-f", deb, "Depends"}, 20s);
    EXPECT_NE(depends.output.find("libsodium"), std::string::npos) << depends.output;
}

} // namespace
} // namespace kv::test
