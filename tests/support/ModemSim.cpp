#include "tests/support/ModemSim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kv::test {

std::string ModemSim::BinaryPath()
{
    if (const char* dir = std::getenv("KORVALEN_BIN_DIR"); dir && *dir)
        return (std::filesystem::path(dir) / "modemsim").string();
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / "modemsim").string();
}

ModemSim::ModemSim(ModemSimOptions options) : m_options(std::move(options))
{
    // A simulator that died must fail the test, not kill it with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    const std::string binary = m_options.program.empty() ? BinaryPath() : m_options.program;
    std::vector<std::string> args = {binary, "--modems", std::to_string(m_options.modems)};
    if (m_options.demo)
        args.push_back("--demo");
    if (!m_options.linkDir.empty()) {
        args.push_back("--link-dir");
        args.push_back(m_options.linkDir);
    }
    if (!m_options.family.empty()) {
        args.push_back("--family");
        args.push_back(m_options.family);
    }
    args.insert(args.end(), m_options.extraArgs.begin(), m_options.extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        Fail(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int rc = posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_toChild = in[1];
    m_fromChild = out[0];
    if (rc != 0) {
        m_pid = -1;
        Kill();
        Fail("cannot start " + binary + ": " + std::strerror(rc));
    }

    const auto deadline = std::chrono::steady_clock::now() + m_options.deadline;
    std::string line;
    while (ReadLine(line, deadline)) {
        if (line == "ready")
            return;
        const size_t space = line.find(' ');
        if (line.rfind("modem", 0) != 0 || space == std::string::npos) {
            Kill();
            Fail("unexpected banner line: " + line);
        }
        m_paths.push_back(line.substr(space + 1));
    }
    // The destructor does not run for a constructor that throws.
    Kill();
    Fail("modemsim did not get ready");
}

ModemSim::~ModemSim()
{
    Kill();
}

const std::string& ModemSim::Path(int modem) const
{
    return m_paths.at(static_cast<size_t>(modem - 1));
}

std::vector<std::string> ModemSim::Command(const std::string& line)
{
    Result result = TryCommand(line);
    if (!result.ok)
        Fail("'" + line + "' answered: " + result.error);
    return std::move(result.lines);
}

ModemSim::Result ModemSim::TryCommand(const std::string& line)
{
    const std::string text = line + "\n";
    std::string_view data = text;
    while (!data.empty()) {
        const ssize_t n = ::write(m_toChild, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("cannot send '" + line + "': " + std::strerror(errno));
        data.remove_prefix(static_cast<size_t>(n));
    }
    Result result;
    const auto deadline = std::chrono::steady_clock::now() + m_options.deadline;
    std::string reply;
    while (ReadLine(reply, deadline)) {
        if (reply == "ok") {
            result.ok = true;
            return result;
        }
        if (reply.rfind("error", 0) == 0) {
            result.error = reply;
            return result;
        }
        result.lines.push_back(reply);
    }
    Fail("no answer to '" + line + "' in time");
}

const std::vector<std::string>& ModemSim::SentLines(int modem)
{
    if (modem < 1 || modem > Modems())
        Fail("no modem " + std::to_string(modem));
    m_sent.resize(m_paths.size());
    auto& history = m_sent[static_cast<size_t>(modem - 1)];
    for (std::string& line : Command("sent " + std::to_string(modem)))
        history.push_back(std::move(line));
    return history;
}

bool ModemSim::WaitForSent(int modem, const std::string& line, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    size_t checked = 0;
    for (;;) {
        const auto& history = SentLines(modem);
        for (; checked < history.size(); ++checked) {
            if (history[checked] == line)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ModemSim::ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_fromChild < 0)
            return false;
        pollfd p{m_fromChild, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(m_fromChild, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
}

void ModemSim::Fail(const std::string& message)
{
    ADD_FAILURE() << "modemsim: " << message;
    throw ModemSimError(message);
}

void ModemSim::CloseInput()
{
    if (m_toChild >= 0)
        ::close(m_toChild);
    m_toChild = -1;
}

int ModemSim::WaitExit(std::chrono::milliseconds limit)
{
    if (m_pid < 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ModemSim::Terminate()
{
    if (m_pid < 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    return WaitExit();
}

void ModemSim::Kill()
{
    if (m_pid > 0 && Terminate() < 0 && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    CloseInput();
    if (m_fromChild >= 0)
        ::close(m_fromChild);
    m_fromChild = -1;
}

} // namespace kv::test
