#include "centre/SharedRegister.h"

#include "centre/Schema.h"
#include "centre/StopWait.h"
#include "centre/Utf8.h"
#include "data/Text.h"

#include <cstdio>
#include <set>
#include <stdexcept>

namespace kv::centre {

using namespace literals;

namespace {

// Taken by each change of the register: a seed and a save cannot interleave.
constexpr const char* kRegisterLock = "7741776385064461679";
constexpr auto kRereadEvery = std::chrono::seconds(30);
constexpr int kListenSliceMs = 200;

// A JSON string of station text; the rows go to the server as one parameter.
void AppendJson(std::string& out, const std::string& stationText)
{
    out += '"';
    for (const char c : Utf8FromCp1251(stationText)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

struct JsonRow {
    std::string text = "{";
    void Add(const char* key, const std::string& stationText)
    {
        Key(key);
        AppendJson(text, stationText);
    }
    void Add(const char* key, bool value)
    {
        Key(key);
        text += value ? "true" : "false";
    }
    void Add(const char* key, std::size_t value)
    {
        Key(key);
        text += std::to_string(value);
    }
    void Key(const char* key)
    {
        if (text.size() > 1)
            text += ',';
        text += '"';
        text += key;
        text += "\":";
    }
};

std::string JsonArray(const std::vector<std::string>& rows)
{
    std::string out = "[";
    for (const std::string& row : rows) {
        if (out.size() > 1)
            out += ',';
        out += row;
    }
    return out + "]";
}

void MarkHeld(pg::Connection& db, const char* kind, const std::string& station)
{
    db.Exec("INSERT INTO register_state (kind, changed_by) VALUES ($1, $2) "
            "ON CONFLICT (kind) DO UPDATE SET changed_by = excluded.changed_by, changed_at = now()",
            {kind, Utf8FromCp1251(station)});
}

void WriteDevices(pg::Connection& db, const std::vector<DeviceEntry>& devices, const std::string& station)
{
    std::vector<std::string> rows;
    rows.reserve(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceEntry& d = devices[i];
        JsonRow row;
        row.Add("position", i);
        row.Add("list_name", d.listName);
        row.Add("short_name", d.shortName);
        row.Add("tel", d.number);
        row.Add("name", d.name);
        row.Add("address", d.address);
        row.Add("description", d.description);
        row.Add("device_description", d.deviceDescription);
        row.Add("dial_time", d.dialTime);
        row.Add("dial_enable", d.dialEnable);
        row.Add("drosvel", d.drosvel);
        rows.push_back(row.text + "}");
    }
    const std::string json = JsonArray(rows);
    db.Exec("DELETE FROM devices WHERE short_name NOT IN "
            "(SELECT r->>'short_name' FROM json_array_elements($1::json) r)",
            {json});
    // Only rows that differ are touched, so their changed_at tells what changed.
    db.Exec(R"sql(
INSERT INTO devices (position, list_name, short_name, tel, name, address, description, device_description,
                     dial_time, dial_enable, drosvel)
SELECT position, list_name, short_name, tel, name, address, description, device_description, dial_time,
       dial_enable, drosvel
FROM json_to_recordset($1::json) AS r(position integer, list_name text, short_name text, tel text, name text,
     address text, description text, device_description text, dial_time text, dial_enable boolean, drosvel boolean)
ON CONFLICT (short_name) DO UPDATE SET
    position = excluded.position, list_name = excluded.list_name, tel = excluded.tel, name = excluded.name,
    address = excluded.address, description = excluded.description,
    device_description = excluded.device_description, dial_time = excluded.dial_time,
    dial_enable = excluded.dial_enable, drosvel = excluded.drosvel, changed_at = now()
WHERE (devices.position, devices.list_name, devices.tel, devices.name, devices.address, devices.description,
       devices.device_description, devices.dial_time, devices.dial_enable, devices.drosvel)
      IS DISTINCT FROM
      (excluded.position, excluded.list_name, excluded.tel, excluded.name, excluded.address, excluded.description,
       excluded.device_description, excluded.dial_time, excluded.dial_enable, excluded.drosvel)
)sql",
            {json});
    MarkHeld(db, "devices", station);
}

bool LooksHashed(const std::string& stored) { return stored.rfind("$argon2", 0) == 0; }

void WriteAccounts(pg::Connection& db, const std::vector<SharedAccount>& accounts, const std::string& station)
{
    std::vector<std::string> rows;
    std::set<std::string> names;
    for (const SharedAccount& a : accounts) {
        // A password still in clear never leaves the station; a name twice
        // counts once, as the login finds the first.
        if (!LooksHashed(a.passwordHash) || !names.insert(a.name).second)
            continue;
        const bool known = a.role == kRoleAdmin || a.role == kRoleOperator || a.role == kRoleViewer;
        JsonRow row;
        row.Add("name", a.name);
        row.Add("password_hash", a.passwordHash);
        row.Add("role", known ? a.role : std::string(kRoleOperator));
        rows.push_back(row.text + "}");
    }
    const std::string json = JsonArray(rows);
    db.Exec("DELETE FROM operators WHERE name NOT IN (SELECT r->>'name' FROM json_array_elements($1::json) r)",
            {json});
    db.Exec(R"sql(
INSERT INTO operators (name, password_hash, role)
SELECT name, password_hash, role FROM json_to_recordset($1::json) AS r(name text, password_hash text, role text)
ON CONFLICT (name) DO UPDATE SET password_hash = excluded.password_hash, role = excluded.role, changed_at = now()
WHERE (operators.password_hash, operators.role) IS DISTINCT FROM (excluded.password_hash, excluded.role)
)sql",
            {json});
    MarkHeld(db, "operators", station);
}

void WriteObjects(pg::Connection& db, const std::map<std::string, ObjectCard>& objects, const std::string& station)
{
    std::vector<std::string> cards, contacts;
    for (const auto& [tel, card] : objects) {
        if (tel.empty() || card.Empty())
            continue;
        JsonRow row;
        row.Add("tel", tel);
        row.Add("instructions", card.instructions);
        cards.push_back(row.text + "}");
        for (std::size_t i = 0; i < card.contacts.size(); ++i) {
            const ObjectContact& c = card.contacts[i];
            JsonRow contact;
            contact.Add("tel", tel);
            contact.Add("position", i);
            contact.Add("name", c.name);
            contact.Add("role", c.role);
            contact.Add("phone", c.phone);
            contact.Add("note", c.note);
            contacts.push_back(contact.text + "}");
        }
    }
    // Few and small: written whole, in the save's one transaction.
    db.Exec("DELETE FROM object_cards");
    db.Exec("INSERT INTO object_cards (tel, instructions) "
            "SELECT tel, instructions FROM json_to_recordset($1::json) AS r(tel text, instructions text)",
            {JsonArray(cards)});
    db.Exec("INSERT INTO object_contacts (tel, position, name, role, phone, note) "
            "SELECT tel, position, name, role, phone, note FROM json_to_recordset($1::json) "
            "AS r(tel text, position integer, name text, role text, phone text, note text)",
            {JsonArray(contacts)});
    MarkHeld(db, "objects", station);
}

SharedRegister Read(pg::Connection& db)
{
    SharedRegister out;
    const pg::Result held = db.Exec("SELECT kind FROM register_state");
    for (int i = 0; i < held.Rows(); ++i) {
        if (held.Text(i, 0) == "devices")
            out.devices.emplace();
        else if (held.Text(i, 0) == "operators")
            out.accounts.emplace();
        else if (held.Text(i, 0) == "objects")
            out.objects.emplace();
    }
    if (out.objects) {
        const pg::Result cards = db.Exec("SELECT tel, instructions FROM object_cards");
        for (int i = 0; i < cards.Rows(); ++i)
            (*out.objects)[Cp1251FromUtf8(cards.Text(i, 0))].instructions = Cp1251FromUtf8(cards.Text(i, 1));
        const pg::Result contacts =
            db.Exec("SELECT tel, name, role, phone, note FROM object_contacts ORDER BY tel, position");
        for (int i = 0; i < contacts.Rows(); ++i) {
            const auto text = [&](int c) { return Cp1251FromUtf8(contacts.Text(i, c)); };
            (*out.objects)[text(0)].contacts.push_back({text(1), text(2), text(3), text(4)});
        }
    }
    if (out.devices) {
        const pg::Result r = db.Exec("SELECT list_name, name, address, description, short_name, tel, "
                                     "device_description, dial_time, dial_enable, drosvel, receiver "
                                     "FROM devices ORDER BY position, id");
        out.devices->reserve(static_cast<std::size_t>(r.Rows()));
        for (int i = 0; i < r.Rows(); ++i) {
            const auto text = [&](int c) { return Cp1251FromUtf8(r.Text(i, c)); };
            out.devices->push_back({text(0), text(1), text(2), text(3), text(4), text(5), text(6), text(7),
                                    r.Text(i, 8) == "t", r.Text(i, 9) == "t"});
            if (!r.IsNull(i, 10))
                out.ringers.emplace(text(4), text(10));
        }
    }
    if (out.accounts) {
        const pg::Result r = db.Exec("SELECT name, password_hash, role FROM operators ORDER BY name");
        for (int i = 0; i < r.Rows(); ++i)
            out.accounts->push_back({Cp1251FromUtf8(r.Text(i, 0)), Cp1251FromUtf8(r.Text(i, 1)), r.Text(i, 2)});
    }
    return out;
}

std::string FirstLine(const std::string& what) { return Cp1251FromUtf8(what.substr(0, what.find('\n'))); }

} // namespace

std::string DevicesRefusal(const std::vector<DeviceEntry>& devices)
{
    std::set<std::string> seen;
    for (const DeviceEntry& d : devices)
        if (!seen.insert(d.shortName).second)
            return Str("Краткое имя \""_cp) + d.shortName +
                   Str("\" есть у двух устройств: реестр не отправлен в базу центра, у каждого устройства должно быть своё краткое имя"_cp);
    return {};
}

void PushDevices(pg::Connection& db, const std::vector<DeviceEntry>& devices, const std::string& station)
{
    if (std::string why = DevicesRefusal(devices); !why.empty())
        throw std::invalid_argument(why);
    db.Transaction([&] {
        db.Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kRegisterLock});
        WriteDevices(db, devices, station);
    });
}

void PushObjects(pg::Connection& db, const std::map<std::string, ObjectCard>& objects, const std::string& station)
{
    db.Transaction([&] {
        db.Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kRegisterLock});
        WriteObjects(db, objects, station);
    });
}

void PushAccounts(pg::Connection& db, const std::vector<SharedAccount>& accounts, const std::string& station)
{
    db.Transaction([&] {
        db.Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kRegisterLock});
        WriteAccounts(db, accounts, station);
    });
}

SharedRegister Pull(pg::Connection& db)
{
    SharedRegister out;
    // The devices and the accounts of one moment.
    db.Transaction([&] {
        db.Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
        out = Read(db);
    });
    return out;
}

SharedRegister SeedOrPull(pg::Connection& db, const std::vector<DeviceEntry>& devices,
                          const std::vector<SharedAccount>& accounts, const std::string& station,
                          const std::map<std::string, ObjectCard>& objects)
{
    SharedRegister out;
    try {
        db.Transaction([&] {
            db.Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kRegisterLock});
            out = Read(db);
            // A register that the database would refuse seeds nothing: the
            // administrator is told at the first save.
            if (!out.devices && !devices.empty() && DevicesRefusal(devices).empty()) {
                WriteDevices(db, devices, station);
                out.devices = devices;
            }
            if (!out.accounts && !accounts.empty()) {
                WriteAccounts(db, accounts, station);
                out.accounts = Read(db).accounts;
            }
            if (!out.objects && !objects.empty()) {
                WriteObjects(db, objects, station);
                out.objects = Read(db).objects;
            }
        });
    } catch (const pg::Error& e) {
        // A viewer's desk reads what there is and seeds nothing.
        if (e.SqlState() != "42501")
            throw;
        out = Pull(db);
    }
    return out;
}

// ---------------------------------------------------------------- the sync

RegisterSync::RegisterSync(std::string connection, std::string station, SharedRegister seed, Post post,
                           Callbacks callbacks, std::chrono::milliseconds retry)
    : m_db(std::move(connection)),
      m_station(Cp1251FromUtf8(station)),
      m_seed(std::move(seed)),
      m_post(std::move(post)),
      m_callbacks(std::move(callbacks)),
      m_retry(retry)
{
    m_thread = std::thread([this] { Run(); });
}

RegisterSync::~RegisterSync()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_db.Abort();
    m_thread.join();
}

void RegisterSync::PushDevices(std::vector<DeviceEntry> devices)
{
    {
        std::lock_guard lock(m_lock);
        m_devices = std::move(devices);
    }
    m_wake.notify_all();
}

void RegisterSync::PushAccounts(std::vector<SharedAccount> accounts)
{
    {
        std::lock_guard lock(m_lock);
        m_accounts = std::move(accounts);
    }
    m_wake.notify_all();
}

void RegisterSync::PushObjects(std::map<std::string, ObjectCard> objects)
{
    {
        std::lock_guard lock(m_lock);
        m_objects = std::move(objects);
    }
    m_wake.notify_all();
}

void RegisterSync::PullNow()
{
    {
        std::lock_guard lock(m_lock);
        m_pullAsked = true;
    }
    m_wake.notify_all();
}

bool RegisterSync::WaitSettled(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_lock);
    return m_wake.wait_for(lock, limit, [&] {
        return m_connected && !m_busy && !m_devices && !m_accounts && !m_objects && !m_pullAsked;
    });
}

void RegisterSync::Run()
{
    bool seeded = false;
    for (;;) {
        bool failed = false;
        try {
            failed = !Step(seeded);
        } catch (const std::exception&) {
            failed = true; // the connection is made again after the pause
        }
        std::unique_lock lock(m_lock);
        m_busy = false;
        if (failed) {
            m_connected = false;
            lock.unlock();
            m_db.Disconnect();
            m_wake.notify_all();
            lock.lock();
            m_wake.wait_for(lock, m_retry, [&] { return m_stop; });
        }
        if (m_stop)
            break;
    }
    m_db.Disconnect();
}

// One connection's life: false (or a throw) when it is lost.
bool RegisterSync::Step(bool& seeded)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stop)
            return true;
    }
    m_db.Connect();
    try {
        Migrate(m_db);
    } catch (const pg::Error& e) {
        if (e.SqlState() != "42501") // a viewer's desk leaves the schema to the others
            throw;
    }
    m_db.Exec("LISTEN korvalen_register");
    const auto deliver = [this](SharedRegister pulled) {
        if (m_callbacks.pulled)
            m_post([cb = m_callbacks.pulled, pulled = std::move(pulled)] { cb(pulled); });
    };
    if (!seeded) {
        deliver(SeedOrPull(m_db, m_seed.devices.value_or(std::vector<DeviceEntry>{}),
                           m_seed.accounts.value_or(std::vector<SharedAccount>{}), m_station,
                           m_seed.objects.value_or(std::map<std::string, ObjectCard>{})));
        seeded = true;
        m_seed = {};
    } else {
        deliver(Pull(m_db)); // what changed while away
    }
    m_connected = true;
    m_wake.notify_all();

    auto lastRead = std::chrono::steady_clock::now();
    for (;;) {
        std::optional<std::vector<DeviceEntry>> devices;
        std::optional<std::vector<SharedAccount>> accounts;
        std::optional<std::map<std::string, ObjectCard>> objects;
        bool pull = false;
        {
            std::unique_lock lock(m_lock);
            if (m_stop)
                return true;
            devices.swap(m_devices);
            accounts.swap(m_accounts);
            objects.swap(m_objects);
            pull = m_pullAsked;
            m_pullAsked = false;
            m_busy = devices || accounts || objects || pull;
        }
        const auto refuse = [this](const std::string& why) {
            if (m_callbacks.refused)
                m_post([cb = m_callbacks.refused, why] { cb(why); });
        };
        // A push lost with the connection is kept for the return, unless a
        // newer save came meanwhile; one the database refuses is told.
        const auto push = [&](auto& pending, auto& slot, auto&& write) {
            if (!pending)
                return;
            try {
                write(*pending);
            } catch (const std::invalid_argument& e) {
                refuse(e.what());
            } catch (const pg::Error& e) {
                if (!m_db.Connected()) {
                    std::lock_guard lock(m_lock);
                    if (!slot)
                        slot = std::move(pending);
                    throw;
                }
                refuse(Str("База центра не приняла изменения: "_cp) + FirstLine(e.what()));
            }
            pull = true;
        };
        push(devices, m_devices, [&](const std::vector<DeviceEntry>& d) { centre::PushDevices(m_db, d, m_station); });
        push(accounts, m_accounts,
             [&](const std::vector<SharedAccount>& a) { centre::PushAccounts(m_db, a, m_station); });
        push(objects, m_objects,
             [&](const std::map<std::string, ObjectCard>& o) { centre::PushObjects(m_db, o, m_station); });

        if (pull || std::chrono::steady_clock::now() - lastRead >= kRereadEvery) {
            deliver(Pull(m_db));
            lastRead = std::chrono::steady_clock::now();
        }
        {
            std::lock_guard lock(m_lock);
            m_busy = false;
        }
        m_wake.notify_all();

        // Listens in short slices, so a save or a stop waits no longer.
        const int socket = m_db.Socket();
        if (socket < 0)
            return false;
        WaitReadable(socket, std::chrono::milliseconds(kListenSliceMs));
        // Also without new bytes: a notice may have come in with a statement's answer.
        const auto notices = m_db.Notifications();
        if (!m_db.Connected())
            return false;
        if (!notices.empty()) {
            std::lock_guard lock(m_lock);
            m_pullAsked = true;
        }
    }
}

} // namespace kv::centre
