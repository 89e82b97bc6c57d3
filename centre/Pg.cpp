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

std::string HostFirst(const std::string& conninfo, const std::string& host, const std::string& port)
{
    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &error);
    if (!parsed) {
        PQfreemem(error);
        return conninfo;
    }
    std::map<std::string, std::string> options;
    for (const PQconninfoOption* o = parsed; o->keyword; ++o)
        if (o->val)
            options[o->keyword] = o->val;
    PQconninfoFree(parsed);
    // "host" names sockets' folders and machines; "hostaddr" alone, addresses.
    const bool byName = options.count("host") > 0;
    std::vector<std::string> hosts = Split(byName ? options["host"] : options["hostaddr"]);
    std::vector<std::string> addrs = options.count("hostaddr") ? Split(options["hostaddr"]) : std::vector<std::string>();
    std::vector<std::string> ports = options.count("port") ? Split(options["port"]) : std::vector<std::string>();
    const bool portEach = ports.size() == hosts.size() && hosts.size() > 1;
    std::size_t at = 0;
    while (at < hosts.size() && !(hosts[at] == host && (!portEach || ports[at] == port)))
        ++at;
    if (hosts.size() < 2 || at == 0 || at == hosts.size())
        return conninfo;
    const auto front = [at](std::vector<std::string>& list) {
        std::rotate(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(at),
                    list.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    };
    front(hosts);
    options[byName ? "host" : "hostaddr"] = Join(hosts);
    if (byName && addrs.size() == hosts.size()) {
        front(addrs);
        options["hostaddr"] = Join(addrs);
    }
    if (portEach) {
        front(ports);
        options["port"] = Join(ports);
    }
    std::string out;
    for (const auto& [key, value] : options)
        out += (out.empty() ? "" : " ") + key + "=" + Quoted(value);
    return out;
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
    const char* values[] = {timeout.c_str(), "10", "5", "3", "30000", "korvalen", conninfo.c_str(), "UTF8", nullptr};
    pg_conn* conn = PQconnectdbParams(keys, values, 1);
    if (!conn)
        throw Error("out of memory", {});
    if (PQstatus(conn) != CONNECTION_OK) {
        std::string message = PQerrorMessage(conn);
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
    std::lock_guard lock(m_abortLock);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

} // namespace kv::pg
