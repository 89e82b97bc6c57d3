#pragma once
// A thin hold on libpq: one connection, parameterised statements only (data
// never becomes SQL text), results that free themselves, and the socket for
// LISTEN/NOTIFY. Texts in and out are UTF-8, as the connection's encoding is.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace kv::pg {

// A failed statement or a lost connection; what() is the server's or libpq's text.
class Error : public std::runtime_error {
public:
    Error(const std::string& message, std::string sqlState)
        : std::runtime_error(message), m_sqlState(std::move(sqlState)) {}
    // Five characters ("23505"); empty when the connection failed.
    const std::string& SqlState() const { return m_sqlState; }

private:
    std::string m_sqlState;
};

class Result {
public:
    explicit Result(pg_result* result) : m_result(result) {}
    int Rows() const;
    bool IsNull(int row, int column) const;
    std::string Text(int row, int column) const;
    // A number column; `fallback` for NULL.
    long long Integer(int row, int column, long long fallback = 0) const;
    double Real(int row, int column, double fallback = 0) const;
    int Affected() const; // rows an INSERT or UPDATE touched

private:
    struct Free {
        void operator()(pg_result* r) const;
    };
    std::unique_ptr<pg_result, Free> m_result;
};

// NULL is a missing value.
using Param = std::optional<std::string>;

class Connection {
public:
    // `conninfo`: a libpq connection string or URI; several hosts allowed.
    explicit Connection(std::string conninfo, std::chrono::seconds connectTimeout = std::chrono::seconds(5));
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens the connection (again); throws Error when the server cannot be reached.
    // Of several hosts, the one that answered last is tried first: after a
    // standby's promotion a dead primary would cost its time-out each time.
    void Connect();
    bool Connected() const;
    // Reads what the server sent meanwhile and says whether the connection
    // still stands: a server stopped or restarted since the last statement
    // has said goodbye, and a new connection spares the next statement a
    // failure. Notifications read here wait for Notifications().
    bool StillConnected();
    void Disconnect();

    // One statement; $1, $2, ... stand for `params`. Throws Error.
    Result Exec(const std::string& sql, const std::vector<Param>& params = {});

    // Fixed SQL of several statements, no data in it (the schema's scripts).
    void ExecScript(const std::string& sql);

    // BEGIN ... COMMIT around `work`; a throw rolls back and goes on.
    template <typename Work>
    void Transaction(Work&& work)
    {
        Exec("BEGIN");
        try {
            work();
        } catch (...) {
            RollbackQuietly();
            throw;
        }
        Exec("COMMIT");
    }

    // For LISTEN: the descriptor to wait on, -1 when not connected; then
    // Notifications() takes what arrived (channel and payload).
    int Socket() const;
    std::vector<std::pair<std::string, std::string>> Notifications();

    // From another thread: cuts the connection under a statement in flight,
    // which then fails at once, so a stop need not wait on a server that has
    // stopped answering (a cancel request would wait on it too). A connection
    // being opened fails too, as does every later Connect: it is for a stop.
    void Abort();

private:
    enum class Opening { Done, Failed, TimedOut, Aborted };
    // Drives a connection started without waiting, host by host.
    Opening Open(pg_conn* conn);
    void RollbackQuietly();
    [[noreturn]] void Fail(pg_result* result);

    std::string m_conninfo;
    std::chrono::seconds m_connectTimeout;
    std::string m_lastHost, m_lastPort; // of the last connection
    pg_conn* m_conn = nullptr;
    std::mutex m_abortLock; // m_socket against Abort from another thread
    int m_socket = -1;
    std::atomic<bool> m_aborted{false};
};

// False in a build without libpq (PgNone.cpp): every connection fails, with
// the reason, and a [Database] section is not taken up.
bool Supported();

// `conninfo` with `host` at `port` moved to the head of its host list, the
// others following in their order; unchanged when it names one host, not
// that one, or cannot be read.
std::string HostFirst(const std::string& conninfo, const std::string& host, const std::string& port);

} // namespace kv::pg
