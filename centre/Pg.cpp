#include "centre/Pg.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>

#include <poll.h>
#include <sys/socket.h>

namespace kv::pg {

bool Supported() { return true; }

void Result::Free::operator()(pg_result* r) const { PQclear(r); }

int Result::Rows() const { return PQntuples(m_result.get()); }

bool Result::IsNull(int row, int column) const { return PQgetisnull(m_result.get(), row, column) != 0; }

std::string Result::Text(int row, int column) const
{
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
}

long long Result::Integer(int row, int column, long long fallback) const
{
    if (IsNull(row, column))
        return fallback;
    return std::strtoll(PQgetvalue(m_result.get(), row, column), nullptr, 10);
}

double Result::Real(int row, int column, double fallback) const
{
    if (IsNull(row, column))
        return fallback;
    // The server's text is C-locale whatever the station's locale is.
    const std::string text = Text(row, column);
    double value = fallback;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

int Result::Affected() const { return std::atoi(PQcmdTuples(m_result.get())); }

Connection::Connection(std::string conninfo, std::chrono::seconds connectTimeout)
    : m_conninfo(std::move(conninfo)), m_connectTimeout(connectTimeout)
{
}

Connection::~Connection() { Disconnect(); }

namespace {

std::vector<std::string> Split(const std::string& list)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = list.find(',', from);
        out.push_back(list.substr(from, comma - from));
        if (comma == std::string::npos)
            return out;
        from = comma + 1;
    }
}

std::string Join(const std::vector<std::string>& items)
{
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : ",") + item;
    return out;
}

// A value as the connection string's syntax quotes it.
std::string Quoted(const std::string& value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'')
            out += '\\';
        out += c;
    }
    return out + "'";
}

} // namespace

namespace {

// A connection string's hosts, with the addresses and ports that go one to each.
struct HostList {
    std::map<std::string, std::string> options;
    bool byName = false; // "host" names sockets' folders and machines; "hostaddr" alone, addresses
    std::vector<std::string> hosts, addrs, ports;

    bool Parse(const std::string& conninfo)
    {
        char* error = nullptr;
        PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &error);
        if (!parsed) {
            PQfreemem(error);
            return false;
        }
        for (const PQconninfoOption* o = parsed; o->keyword; ++o)
            if (o->val)
                options[o->keyword] = o->val;
        PQconninfoFree(parsed);
        byName = options.count("host") > 0;
        hosts = Split(byName ? options["host"] : options["hostaddr"]);
        if (options.count("hostaddr"))
            addrs = Split(options["hostaddr"]);
        if (options.count("port"))
            ports = Split(options["port"]);
        return true;
    }
    bool PortEach() const { return ports.size() == hosts.size() && hosts.size() > 1; }
    // That host's place (and port's, where each has its own); hosts.size() when none.
    std::size_t Find(const std::string& host, const std::string& port) const
    {
        std::size_t at = 0;
        while (at < hosts.size() && !(hosts[at] == host && (!PortEach() || ports[at] == port)))
            ++at;
        return at;
    }
    // The list changed by `change`, its addresses and ports alike; as text.
    template <typename Change>
    std::string Changed(Change change)
    {
        const bool addrEach = byName && addrs.size() == hosts.size(), portEach = PortEach();
        change(hosts);
        options[byName ? "host" : "hostaddr"] = Join(hosts);
        if (addrEach) {
            change(addrs);
            options["hostaddr"] = Join(addrs);
        }
        if (portEach) {
            change(ports);
            options["port"] = Join(ports);
        }
        std::string out;
        for (const auto& [key, value] : options)
            out += (out.empty() ? "" : " ") + key + "=" + Quoted(value);
        return out;
    }
};

// `conninfo` without that host; unchanged when it is the only one or not there.
std::string WithoutHost(const std::string& conninfo, const std::string& host, const std::string& port)
{
    HostList list;
    if (!list.Parse(conninfo))
        return conninfo;
    const std::size_t at = list.Find(host, port);
    if (list.hosts.size() < 2 || at == list.hosts.size())
        return conninfo;
    return list.Changed([at](std::vector<std::string>& items) { items.erase(items.begin() + static_cast<std::ptrdiff_t>(at)); });
}

} // namespace

std::string HostFirst(const std::string& conninfo, const std::string& host, const std::string& port)
{
    HostList list;
    if (!list.Parse(conninfo))
        return conninfo;
    const std::size_t at = list.Find(host, port);
    if (list.hosts.size() < 2 || at == 0 || at == list.hosts.size())
        return conninfo;
    return list.Changed([at](std::vector<std::string>& items) {
        std::rotate(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(at),
                    items.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    });
}

void Connection::Connect()
{
    Disconnect();
    const std::string conninfo = m_lastHost.empty() ? m_conninfo : HostFirst(m_conninfo, m_lastHost, m_lastPort);
    const std::string timeout = std::to_string(m_connectTimeout.count());
    // The connection string comes after the time-out, so its own one wins; the
    // encoding comes last, since every text we exchange is UTF-8.
    // Over TCP a server gone silent is given up within about half a minute,
    // not the system's quarter of an hour; the connection string may say otherwise.
    const char* keys[] = {"connect_timeout",  "keepalives_idle", "keepalives_interval", "keepalives_count",
                          "tcp_user_timeout", "application_name", "dbname", "client_encoding", nullptr};
    std::string hosts = conninfo;
    pg_conn* conn = nullptr;
    for (;;) {
        const char* values[] = {timeout.c_str(), "10", "5", "3", "30000", "korvalen", hosts.c_str(), "UTF8", nullptr};
        conn = PQconnectStartParams(keys, values, 1);
        if (!conn)
            throw Error("out of memory", {});
        const Opening opening = Open(conn);
        if (opening == Opening::Done)
            break;
        std::string message = opening == Opening::Aborted ? std::string("connection aborted") : PQerrorMessage(conn);
        // libpq leaves a host that never answers to its caller: the rest are
        // tried without it, as a blocking connect would.
        if (opening == Opening::TimedOut) {
            const std::string host = PQhost(conn) ? PQhost(conn) : "", port = PQport(conn) ? PQport(conn) : "";
            const std::string rest = WithoutHost(hosts, host, port);
            message = "connection to server at \"" + host + "\", port " + port + " failed: timeout expired";
            if (rest != hosts) {
                PQfinish(conn);
                hosts = rest;
                continue;
            }
        }
        PQfinish(conn);
        while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
            message.pop_back();
        throw Error(message, {});
    }
    // The server's notices ("already exists, skipping") are for a person at psql.
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    m_conn = conn;
    m_lastHost = PQhost(conn) ? PQhost(conn) : "";
    m_lastPort = PQport(conn) ? PQport(conn) : "";
    std::lock_guard lock(m_abortLock);
    m_socket = PQsocket(conn);
}

Connection::Opening Connection::Open(pg_conn* conn)
{
    // The connection string's time-out, as libpq reads it: per host, 2 s at least, 0 none.
    int timeout = 0;
    if (PQconninfoOption* options = PQconninfo(conn)) {
        for (const PQconninfoOption* o = options; o->keyword; ++o)
            if (std::string_view(o->keyword) == "connect_timeout" && o->val)
                timeout = std::atoi(o->val);
        PQconninfoFree(options);
    }
    if (timeout > 0)
        timeout = std::max(timeout, 2);
    std::string host;
    auto deadline = std::chrono::steady_clock::now();
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    for (;;) {
        if (m_aborted)
            return Opening::Aborted;
        if (state == PGRES_POLLING_OK && PQstatus(conn) == CONNECTION_OK)
            return Opening::Done;
        if (state == PGRES_POLLING_FAILED || PQstatus(conn) == CONNECTION_BAD)
            return Opening::Failed;
        // libpq moves on to the next host by itself when one refuses: its own time.
        const std::string now = std::string(PQhost(conn) ? PQhost(conn) : "") + ":" + (PQport(conn) ? PQport(conn) : "");
        if (now != host) {
            host = now;
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
        }
        int wait = 100; // the abort is looked for this often
        if (timeout > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return Opening::TimedOut;
            wait = static_cast<int>(std::min<long long>(wait, left.count()));
        }
        pollfd ready{PQsocket(conn), static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (::poll(&ready, 1, wait) > 0)
            state = PQconnectPoll(conn);
    }
}

bool Connection::Connected() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

bool Connection::StillConnected()
{
    if (!Connected())
        return false;
    // A server going away sends its farewell, then ends the stream: read
    // while there is something to read (bounded, should notifications pour
    // in), and the end fails the read.
    for (int reads = 0; reads < 64; ++reads) {
        pollfd ready{PQsocket(m_conn), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0)
            break;
        if (!PQconsumeInput(m_conn))
            return false;
    }
    return Connected();
}

void Connection::Disconnect()
{
    {
        std::lock_guard lock(m_abortLock);
        m_socket = -1;
    }
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

Result Connection::Exec(const std::string& sql, const std::vector<Param>& params)
{
    if (!m_conn)
        throw Error("not connected", {});
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const Param& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    pg_result* r = PQexecParams(m_conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                                nullptr, 0);
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        Fail(r);
    return Result(r);
}

void Connection::ExecScript(const std::string& sql)
{
    if (!m_conn)
        throw Error("not connected", {});
    pg_result* r = PQexec(m_conn, sql.c_str());
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        Fail(r);
    PQclear(r);
}

void Connection::Fail(pg_result* r)
{
    std::string message = r ? PQresultErrorMessage(r) : "";
    if (message.empty() && m_conn)
        message = PQerrorMessage(m_conn);
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    std::string sqlState = state ? state : "";
    if (r)
        PQclear(r);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    throw Error(message, std::move(sqlState));
}

void Connection::RollbackQuietly()
{
    if (!Connected())
        return;
    if (pg_result* r = PQexec(m_conn, "ROLLBACK"))
        PQclear(r);
}

int Connection::Socket() const { return m_conn ? PQsocket(m_conn) : -1; }

std::vector<std::pair<std::string, std::string>> Connection::Notifications()
{
    std::vector<std::pair<std::string, std::string>> out;
    if (!m_conn || !PQconsumeInput(m_conn))
        return out;
    while (PGnotify* n = PQnotifies(m_conn)) {
        out.emplace_back(n->relname, n->extra);
        PQfreemem(n);
    }
    return out;
}

void Connection::Abort()
{
    // The descriptor stays open (PQfinish closes it, after m_socket is
    // cleared), so it cannot be a reused one here.
    m_aborted = true;
    std::lock_guard lock(m_abortLock);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

} // namespace kv::pg
