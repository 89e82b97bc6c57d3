#include "tests/e2e/StationProcess.h"

#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TileStates.h"
#include "tests/support/Cp1251.h"
#include "timing/DateTime.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kv::test {

namespace fs = std::filesystem;
using namespace kv::literals;

namespace {

int WaitPid(pid_t& pid, std::chrono::milliseconds limit)
{
    if (pid <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

std::vector<std::string> ReceiverCommand(const fs::path& dataDir)
{
    return {(BuildBinDir() / "korvalen-receiver").string(), "--data", dataDir.string()};
}

fs::path BuildBinDir()
{
    if (const char* dir = std::getenv("KORVALEN_BIN_DIR"); dir && *dir)
        return dir;
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path();
}

void InstallStation(const fs::path& programDir)
{
    const fs::path bin = BuildBinDir();
    fs::create_directories(programDir);
    std::error_code ec;
    fs::create_hard_link(bin / "korvalen", programDir / "korvalen", ec);
    if (ec)
        fs::copy_file(bin / "korvalen", programDir / "korvalen", fs::copy_options::overwrite_existing);
    for (const char* folder : {"ICO", "Pictures", "Sounds"})
        fs::create_directory_symlink(bin / folder, programDir / folder);
}

StationProcess::~StationProcess()
{
    if (m_pid > 0)
        Kill();
}

void StationProcess::Start(const fs::path& programDir, const std::vector<std::string>& env, const fs::path& logFile)
{
    Start(programDir / "korvalen", programDir, env, logFile);
}

void StationProcess::Start(const fs::path& program, const fs::path& workingDir, const std::vector<std::string>& env,
                           const fs::path& logFile)
{
    Start(std::vector<std::string>{program.string()}, workingDir, env, logFile);
}

void StationProcess::Start(const std::vector<std::string>& arguments, const fs::path& workingDir,
                           const std::vector<std::string>& env, const fs::path& logFile)
{
    if (m_pid > 0)
        throw std::logic_error("the station is already running");
    std::vector<std::string> args = arguments;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    auto named = [&](const std::string& name) {
        for (const std::string& e : env)
            if (nameOf(e) == name)
                return true;
        return false;
    };
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string name = nameOf(*e);
        if (name != "QT_QPA_PLATFORM" && name != "KORVALEN_AUTOSTART" && !named(name))
            environment.push_back(*e);
    }
    if (!named("QT_QPA_PLATFORM"))
        environment.push_back("QT_QPA_PLATFORM=offscreen");
    for (const std::string& e : env)
        if (e.find('=') != std::string::npos)
            environment.push_back(e);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
}

void StationProcess::Signal(int signal) const
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int StationProcess::WaitExit(std::chrono::milliseconds limit) { return WaitPid(m_pid, limit); }

int StationProcess::Kill()
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGKILL);
    return WaitPid(m_pid, std::chrono::seconds(30));
}

ToolResult RunBuildTool(const std::string& program, const std::vector<std::string>& arguments,
                        std::chrono::milliseconds limit)
{
    std::vector<std::string> args = {(BuildBinDir() / program).string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return RunProgram(args, limit);
}

ToolResult RunProgram(const std::vector<std::string>& arguments, std::chrono::milliseconds limit)
{
    std::vector<std::string> args = arguments;
    std::vector<char*> argv = Pointers(args);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ToolResult result;
    if (rc != 0) {
        ::close(out[0]);
        result.output = "cannot start " + args[0] + ": " + std::strerror(rc);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char chunk[4096];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    result.status = WaitPid(pid, std::chrono::milliseconds(1000));
    if (result.status < 0 && pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return result;
}

void WriteStationTables(const fs::path& dir, const std::string& sender, const std::string& user,
                        const std::string& password, int oldRows, const std::vector<StationDevice>& moreDevices)
{
    const TableFormat format;
    MemTable devices, descriptions;
    DefineDeviceTable(devices);
    DefineDescriptionTable(descriptions);
    std::vector<StationDevice> all = {{Str("Склад"_cp), sender, false}};
    all.insert(all.end(), moreDevices.begin(), moreDevices.end());
    int key = 0;
    for (const StationDevice& d : all) {
        devices.Append();
        devices.FieldAt(device::K1).SetAsInteger(key);
        devices.FieldAt(device::Device).SetAsString(d.shortName);
        devices.Post();
        descriptions.Append();
        descriptions.FieldAt(description::K1).SetAsInteger(key);
        descriptions.FieldAt(description::SimpleName).SetAsString(d.shortName);
        descriptions.FieldAt(description::SimCard).SetAsString(d.number);
        descriptions.FieldAt(description::DialTime).SetAsString(d.dialMinutes);
        descriptions.FieldAt(description::DialEnable).SetAsBoolean(d.dial);
        descriptions.Post();
        ++key;
    }
    format.Save(devices, (dir / "t2.bin").string());
    format.Save(descriptions, (dir / "t1.bin").string());

    MemTable accounts;
    DefineSecurityTable(accounts);
    accounts.Append();
    accounts.FieldAt(security::User).SetAsString(Utf8ToCp1251(user));
    accounts.FieldAt(security::Password).SetAsString(password);
    accounts.Post();
    format.Save(accounts, (dir / "t4.bin").string());

    MemTable events, dialEvents;
    DefineJournal(events);
    DefineJournal(dialEvents);
    const double base = LocalNow() - 30;
    for (int i = 0; i < oldRows; ++i) {
        events.First();
        events.Insert();
        events.FieldAt(journal::EventTime).SetAsDateTime(base + i / 86400.0);
        events.FieldAt(journal::Status).SetAsString("Норма"_cp);
        events.FieldAt(journal::Tel).SetAsString(sender);
        events.FieldAt(journal::Event).SetAsString("old " + std::to_string(i));
        events.Post();
    }
    format.Save(events, (dir / "t3.bin").string());
    format.Save(dialEvents, (dir / "t6.bin").string());

    TileStates tiles;
    if (SaveTileStates(tiles, (dir / kTileStatesFile).string()) != TileSave::Saved)
        throw std::runtime_error("cannot write the tile states in " + dir.string());
}

void WriteStationConfig(const fs::path& dir, const std::string& port1, const std::string& port2)
{
    std::ofstream ini(dir / "config.ini", std::ios::binary);
    ini << "[MainDevice]\r\nPhoneNumber=*100#\r\nCPort=" << port1 << "\r\nCPortBaudRate=115200\r\n"
        << "[SecondDevice]\r\nPhoneNumber=\r\nCPort=" << port2 << "\r\nCPortBaudRate=115200\r\n";
}

ModemSimOptions LinkedModems(const TempDir& dir)
{
    ModemSimOptions options;
    options.linkDir = (dir.path() / "links").string();
    return options;
}

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, std::chrono::milliseconds period)
{
    for (const auto start = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - start < limit;
         std::this_thread::sleep_for(period))
        if (done())
            return true;
    return done();
}

} // namespace kv::test
