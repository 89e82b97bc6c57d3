// The database layer where libpq cannot be had (the Windows build): nothing
// connects, and the reason says so. No Result is ever made here.
#include "centre/Pg.h"

namespace kv::pg {

namespace {

// UTF-8, as the server's texts are.
[[noreturn]] void Unsupported()
{
    throw Error("База данных не поддерживается этой сборкой (нет клиента PostgreSQL)", {});
}

} // namespace

bool Supported() { return false; }

void Result::Free::operator()(pg_result*) const {}
int Result::Rows() const { return 0; }
bool Result::IsNull(int, int) const { return true; }
std::string Result::Text(int, int) const { return {}; }
long long Result::Integer(int, int, long long fallback) const { return fallback; }
double Result::Real(int, int, double fallback) const { return fallback; }
int Result::Affected() const { return 0; }

Connection::Connection(std::string conninfo, std::chrono::seconds connectTimeout)
    : m_conninfo(std::move(conninfo)), m_connectTimeout(connectTimeout)
{
}

Connection::~Connection() = default;

void Connection::Connect() { Unsupported(); }
bool Connection::Connected() const { return false; }
bool Connection::StillConnected() { return false; }
void Connection::Disconnect() {}
Result Connection::Exec(const std::string&, const std::vector<Param>&) { Unsupported(); }
void Connection::ExecScript(const std::string&) { Unsupported(); }
void Connection::Fail(pg_result*) { Unsupported(); }
void Connection::RollbackQuietly() {}
int Connection::Socket() const { return -1; }
std::vector<std::pair<std::string, std::string>> Connection::Notifications() { return {}; }
void Connection::Abort() {}

std::string HostFirst(const std::string& conninfo, const std::string&, const std::string&) { return conninfo; }

} // namespace kv::pg
