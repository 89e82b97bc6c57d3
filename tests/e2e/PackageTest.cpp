// The Debian package of what this build built, installed into a fresh root
// and started there as a new user would: a fresh home folder, the station
// offscreen against the package's own modem simulator.
#include "data/IniFile.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
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

// The package of this build in `dir`/out, its files unpacked into `dir`/root.
std::string PackageAndUnpack(const fs::path& dir)
{
    const fs::path build = BuildBinDir().parent_path();
    const ToolResult packaged = RunProgram(
        {std::string(std::getenv("KORVALEN_SOURCE_DIR")) + "/scripts/package.sh", "--from-build", build.string(),
         (dir / "out").string()},
        300s);
    EXPECT_EQ(packaged.status, 0) << packaged.output;
    const std::string deb = packaged.output.empty() ? std::string() : Lines(packaged.output).back();
    if (!fs::exists(deb)) {
        ADD_FAILURE() << "no package: " << packaged.output;
        return {};
    }
    const ToolResult extracted = RunProgram({"/usr/bin/dpkg-deb", "-x", deb, (dir / "root").string()}, 60s);
    EXPECT_EQ(extracted.status, 0) << extracted.output;
    return extracted.status == 0 ? deb : std::string();
}

TEST(Package, InstalledIntoAFreshRootItStartsInAFreshHomeJournalsAnSmsAndClosesCleanly)
{
    TempDir dir;
    const std::string deb = PackageAndUnpack(dir.path());
    ASSERT_FALSE(deb.empty());
    EXPECT_EQ(fs::path(deb).filename().string().rfind("korvalen_", 0), 0u);
    ExpectDependenciesInstalled(deb);

    const fs::path root = dir.path() / "root";
    for (const char* file : {"usr/bin/korvalen", "usr/bin/korvalen-jrn", "usr/bin/modemsim",
                             "usr/bin/korvalen-receiver", "usr/share/korvalen/Sounds/Alarm.wav",
                             "usr/share/applications/korvalen.desktop",
                             "usr/share/icons/hicolor/48x48/apps/korvalen.png", "usr/share/man/man1/korvalen.1.gz",
                             "usr/share/man/man1/korvalen-jrn.1.gz", "usr/share/man/man1/modemsim.1.gz",
                             "usr/share/man/man1/korvalen-receiver.1.gz", "usr/share/doc/korvalen/copyright"})
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
    EXPECT_TRUE(PollUntil([&] { return fs::exists(data / "korvalen.lock"); }, 30s))
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
    const bool read = PollUntil([&] { return sim.Command("sim 1").empty(); }, 60s);
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

// A command of a maintainer script that would enable the receiver's service
// or start it (a try-restart only restarts one that runs).
const std::regex kEnablesOrStarts(
    R"((systemctl|deb-systemd-invoke)\b.*\s(enable|reenable|preset|unmask|start|restart)\b)"
    R"(|deb-systemd-helper\b.*\s(enable|reenable|unmask|update-state)\b)");

std::string ScriptCommands(const fs::path& script)
{
    std::string commands;
    for (const std::string& line : Lines(ReadFileBytes(script))) {
        const std::size_t text = line.find_first_not_of(" \t");
        if (text != std::string::npos && line[text] != '#')
            commands += line + "\n";
    }
    return commands;
}

// Runs a maintainer script with DPKG_ROOT at `root` and every command that
// would touch this system's accounts, modes or services replaced by one that
// only notes its call in `calls`; any other such command is not found.
ToolResult RunMaintainerScript(const fs::path& script, const std::vector<std::string>& args, const fs::path& root,
                               const fs::path& calls, bool accountsExist)
{
    const fs::path stubs = root.parent_path() / "stubs", tools = root.parent_path() / "tools";
    fs::create_directories(stubs);
    fs::create_directories(tools);
    const fs::path note = stubs / "note";
    // getent knows the accounts only when told; no mode is overridden yet.
    WriteFileBytes(note, R"(#!/bin/sh
echo "${0##*/} $*" >> "$KV_CALLS"
case ${0##*/} in
  getent) [ -n "$KV_ACCOUNTS" ] ;;
  dpkg-statoverride) [ "$1" != --list ] ;;
esac
)");
    fs::permissions(note, fs::perms::owner_all);
    for (const char* name : {"getent", "addgroup", "adduser", "deluser", "delgroup", "chown", "dpkg-statoverride",
                             "systemctl", "deb-systemd-invoke", "deb-systemd-helper"})
        if (!fs::exists(stubs / name))
            fs::create_symlink(note, stubs / name);
    for (const char* name : {"mkdir", "rm", "rmdir"})
        if (!fs::exists(tools / name))
            fs::create_symlink(fs::path("/bin") / name, tools / name);
    std::vector<std::string> argv = {"/usr/bin/env", "-i", "PATH=" + stubs.string() + ":" + tools.string(),
                                     "DPKG_ROOT=" + root.string(), "KV_CALLS=" + calls.string(),
                                     std::string("KV_ACCOUNTS=") + (accountsExist ? "1" : ""), "/bin/sh",
                                     script.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, 20s);
}

// The receiver's service comes disabled: nothing in the package enables it and
// no maintainer script enables or starts it; they make its system user in
// dialout and a purge takes it away again. Its unit, pointed at the packaged
// program, passes systemd's own check.
TEST(Package, HoldsTheReceiverServiceDisabledWithItsUserAndAUnitThatVerifies)
{
    TempDir dir;
    const std::string deb = PackageAndUnpack(dir.path());
    ASSERT_FALSE(deb.empty());
    const fs::path root = dir.path() / "root";
    const fs::path unit = root / "lib/systemd/system/korvalen-receiver.service";
    ASSERT_TRUE(fs::exists(unit));
    ASSERT_TRUE(fs::exists(root / "usr/bin/korvalen-receiver"));
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().string();
        EXPECT_TRUE(name.find(".wants") == std::string::npos && name.find(".requires") == std::string::npos)
            << "the package itself enables a unit: " << name;
    }

    const fs::path control = dir.path() / "control";
    ASSERT_EQ(RunProgram({"/usr/bin/dpkg-deb", "-e", deb, control.string()}, 20s).status, 0);
    EXPECT_EQ(ReadFileBytes(control / "conffiles"), "/etc/korvalen/config.ini\n");
    const IniFile shipped((root / "etc/korvalen/config.ini").string());
    EXPECT_NE(shipped.ReadString("MainDevice", "CPort", ""), "");
    EXPECT_NE(shipped.ReadString("SecondDevice", "CPort", ""), "");
    // The pattern would catch what it looks for.
    for (const char* enabling : {"systemctl enable --now korvalen-receiver", "deb-systemd-invoke start x.service",
                                 "  systemctl --system restart x", "deb-systemd-helper enable x.service"})
        EXPECT_TRUE(std::regex_search(enabling, kEnablesOrStarts)) << enabling;
    EXPECT_FALSE(std::regex_search("deb-systemd-invoke try-restart x.service", kEnablesOrStarts));
    for (const char* name : {"preinst", "postinst", "prerm", "postrm"}) {
        if (!fs::exists(control / name))
            continue;
        std::smatch found;
        const std::string commands = ScriptCommands(control / name);
        EXPECT_FALSE(std::regex_search(commands, found, kEnablesOrStarts)) << name << ": " << found.str();
        EXPECT_EQ(RunProgram({"/bin/sh", "-n", (control / name).string()}, 10s).status, 0) << name;
    }

    // A first install, then an upgrade with the accounts already there, then a purge.
    const fs::path target = dir.path() / "target", calls = dir.path() / "calls";
    fs::create_directories(target / "etc/korvalen");
    ToolResult run = RunMaintainerScript(control / "postinst", {"configure"}, target, calls, false);
    EXPECT_EQ(run.status, 0) << run.output;
    std::string made = ReadFileBytes(calls);
    EXPECT_TRUE(std::regex_search(made, std::regex("(^|\n)adduser [^\n]*--system[^\n]* korvalen\n"))) << made;
    EXPECT_TRUE(std::regex_search(made, std::regex("(^|\n)adduser [^\n]*korvalen dialout\n"))) << made;
    EXPECT_NE(made.find("0640 /etc/korvalen/config.ini"), std::string::npos) << made;
    EXPECT_EQ(fs::status(target / "var/lib/korvalen").permissions(), fs::perms::owner_all);

    fs::remove(calls);
    run = RunMaintainerScript(control / "postinst", {"configure", "2.1.4"}, target, calls, true);
    EXPECT_EQ(run.status, 0) << run.output;
    made = ReadFileBytes(calls);
    EXPECT_EQ(made.find("--system"), std::string::npos) << "an existing user is made again: " << made;
    EXPECT_NE(made.find("korvalen dialout"), std::string::npos) << made;

    fs::remove(calls);
    run = RunMaintainerScript(control / "postrm", {"purge"}, target, calls, true);
    EXPECT_EQ(run.status, 0) << run.output;
    made = ReadFileBytes(calls);
    EXPECT_TRUE(std::regex_search(made, std::regex("(^|\n)deluser [^\n]*--system[^\n]* korvalen\n"))) << made;
    EXPECT_FALSE(fs::exists(target / "var/lib/korvalen"));
    EXPECT_FALSE(fs::exists(target / "etc/korvalen"));

    // The packaged unit with its program, data and settings moved into the
    // test's folders. Nothing of its sandbox may close the serial ports
    // (ProtectClock= implies a DeviceAllow=).
    const fs::path data = target / "var/lib/korvalen", settings = target / "etc/korvalen";
    std::string text = ReadFileBytes(unit);
    for (const std::string& line : Lines(text))
        for (const std::string closes : {"PrivateDevices=", "DevicePolicy=", "DeviceAllow=", "ProtectClock="})
            EXPECT_TRUE(line.rfind(closes, 0) != 0 || line == closes + "no") << line;
    for (const auto& [from, to] : {std::pair<std::string, fs::path>{"/usr/bin/", root / "usr/bin/"},
                                   {"/var/lib/korvalen", data}, {"/etc/korvalen", settings}})
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.string().size())
            text.replace(at, from.size(), to.string());
    std::string exec;
    for (const std::string& line : Lines(text))
        if (line.rfind("ExecStart=", 0) == 0)
            exec = line.substr(std::string("ExecStart=").size());
    ASSERT_EQ(exec.rfind((root / "usr/bin/korvalen-receiver ").string(), 0), 0u) << exec;

    // Its command line is one the packaged receiver takes: it runs on
    // simulated modems and ends on SIGTERM within the unit's stop time-out.
    fs::create_directories(data);
    fs::create_directories(settings);
    WriteStationTables(data, kSender, kOperator, kPassword, 0);
    ModemSimOptions options;
    options.program = (root / "usr/bin/modemsim").string();
    ModemSim sim(options);
    WriteStationConfig(settings, sim.Path(1), sim.Path(2));
    const fs::path start = dir.path() / "start", log = dir.path() / "receiver.log";
    WriteFileBytes(start, "#!/bin/sh\nexec " + exec + "\n");
    fs::permissions(start, fs::perms::owner_all);
    StationProcess receiver;
    receiver.Start(start, dir.path(), {"DISPLAY="}, log);
    EXPECT_TRUE(PollUntil([&] { return fs::exists(data / "korvalen.lock"); }, 30s))
        << exec << " holds no data folder: " << ReadFileBytes(log);
    receiver.Signal(SIGTERM);
    EXPECT_EQ(receiver.WaitExit(20s), 0) << exec << ": " << ReadFileBytes(log);

    // systemd's own check, against the packaged program and, where man is
    // there, the packaged manual page its Documentation= names.
    if (!fs::exists("/usr/bin/systemd-analyze"))
        GTEST_SKIP() << "no systemd-analyze";
    const fs::path check = dir.path() / "verify" / "korvalen-receiver.service";
    fs::create_directories(check.parent_path());
    WriteFileBytes(check, text);
    const ToolResult verify = RunProgram(
        {"/usr/bin/env", "MANPATH=" + (root / "usr/share/man").string(), "/usr/bin/systemd-analyze", "verify",
         fs::exists("/usr/bin/man") ? "--man=yes" : "--man=no", check.string()},
        60s);
    EXPECT_EQ(verify.status, 0) << verify.output;
    // It reports a key it ignores but still ends with 0.
    EXPECT_EQ(verify.output.find("korvalen-receiver"), std::string::npos) << verify.output;
}

} // namespace
} // namespace kv::test
