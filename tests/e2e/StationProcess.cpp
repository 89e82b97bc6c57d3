#include "tests/e2e/StationProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kv::test {

namespace fs = std::filesystem;

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
    if (m_pid > 0)
        throw std::logic_error("the station is already running");
    std::vector<std::string> args = {(programDir / "korvalen").string()};
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QT_QPA_PLATFORM=", 0) != 0 && entry.rfind("KORVALEN_AUTOSTART=", 0) != 0)
            environment.push_back(entry);
    }
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, programDir.c_str());
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

} // namespace kv::test
