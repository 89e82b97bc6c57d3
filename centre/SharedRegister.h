#pragma once
// One register and one set of accounts for every station of a centre. The
// database holds them once an administrator has saved them, or a first
// station has seeded them from its files; from then on the database wins and
// each station's files are a copy of it. Texts here are station text.
#include "centre/Pg.h"
#include "data/ObjectCards.h"
#include "devices/DeviceRegister.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv::centre {

inline constexpr const char* kRoleAdmin = "admin";
inline constexpr const char* kRoleOperator = "operator";
inline constexpr const char* kRoleViewer = "viewer";

struct SharedAccount {
    std::string name;
    std::string passwordHash; // never a password
    std::string role;         // kRoleAdmin, kRoleOperator or kRoleViewer
    bool operator==(const SharedAccount&) const = default;
};

// What the database holds; nullopt for a part nobody has saved or seeded yet.
struct SharedRegister {
    std::optional<std::vector<DeviceEntry>> devices;
    std::optional<std::vector<SharedAccount>> accounts;
    // The object cards, by the device's number.
    std::optional<std::map<std::string, ObjectCard>> objects;
    // Devices that one receiver alone rings, by short name: the receiver's
    // name. A device not named here is rung by every receiver.
    std::map<std::string, std::string> ringers;
};

// Why the database cannot take that register (two devices of one short
// name), station text; empty when it can.
std::string DevicesRefusal(const std::vector<DeviceEntry>& devices);

// Each replaces the whole part in one transaction: rows upserted by short
// name (by name for the accounts), rows no longer there deleted. An account
// whose password is not a hash is left out. Throws pg::Error (the database's
// refusal too) or std::invalid_argument (DevicesRefusal).
void PushDevices(pg::Connection& db, const std::vector<DeviceEntry>& devices, const std::string& station);
void PushAccounts(pg::Connection& db, const std::vector<SharedAccount>& accounts, const std::string& station);
void PushObjects(pg::Connection& db, const std::map<std::string, ObjectCard>& objects, const std::string& station);

SharedRegister Pull(pg::Connection& db);

// At a station's start: a part the database lacks is seeded from the
// station's own (a part with nothing in it seeds nothing), then everything is
// read back. Two stations starting together seed once.
SharedRegister SeedOrPull(pg::Connection& db, const std::vector<DeviceEntry>& devices,
                          const std::vector<SharedAccount>& accounts, const std::string& station,
                          const std::map<std::string, ObjectCard>& objects = {});

// Keeps a station's copy in step, on a thread with its own connection: it
// seeds or pulls once connected, listens for the database's notice of every
// change (and reads again every 30 s and after a reconnect, in case a notice
// was missed), and pushes what the station's administrator saves. A push made
// while the database cannot be reached waits and goes first on return, so
// the administrator's save is not lost to the database's older copy.
class RegisterSync {
public:
    using Post = std::function<void(std::function<void()>)>;
    struct Callbacks {
        // Each read of the database, posted (the UI's thread).
        std::function<void(const SharedRegister&)> pulled;
        // A push the database refused, posted; station text.
        std::function<void(const std::string&)> refused;
    };

    // `connection`, `station`: UTF-8, as config.ini's [Database] gives them;
    // `seed`: what the station's files hold, for a database without a
    // register (a part left out seeds nothing).
    RegisterSync(std::string connection, std::string station, SharedRegister seed, Post post, Callbacks callbacks,
                 std::chrono::milliseconds retry = std::chrono::seconds(5));
    ~RegisterSync();
    RegisterSync(const RegisterSync&) = delete;
    RegisterSync& operator=(const RegisterSync&) = delete;

    // The latest of each kind goes; any thread.
    void PushDevices(std::vector<DeviceEntry> devices);
    void PushAccounts(std::vector<SharedAccount> accounts);
    void PushObjects(std::map<std::string, ObjectCard> objects);
    // A read now, as after a notice.
    void PullNow();

    bool Connected() const { return m_connected; }
    // Waits until no push waits and a pull has followed the last one (tests).
    bool WaitSettled(std::chrono::milliseconds limit);

private:
    void Run();
    bool Step(bool& seeded);

    pg::Connection m_db;
    std::string m_station; // station text
    SharedRegister m_seed;
    Post m_post;
    Callbacks m_callbacks;
    std::chrono::milliseconds m_retry;
    std::atomic<bool> m_connected{false};

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::optional<std::vector<DeviceEntry>> m_devices;
    std::optional<std::vector<SharedAccount>> m_accounts;
    std::optional<std::map<std::string, ObjectCard>> m_objects;
    bool m_pullAsked = false;
    bool m_busy = false; // a push or pull under way
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace kv::centre
