#pragma once
// A station's register and accounts kept as copies of the centre's: the
// database's register is laid into the tables and files when it differs, an
// administrator's save goes to the database, and the accounts are handed to
// whoever keeps them. UI thread only; the database is reached from the
// sync's own thread. Nothing of it exists without [Database].
#include "centre/SharedRegister.h"
#include "data/IniFile.h"
#include "data/Rgb.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kv {

// Beside t1.bin and t2.bin: the station's own register, as it was when the
// centre's first replaced it.
inline constexpr const char* kOwnRegisterSuffix = ".own";

class CentreRegister {
public:
    struct Hooks {
        // True while the register is being edited here: the database's copy
        // waits for the save.
        std::function<bool()> busy;
        // The register was replaced: the board is laid again.
        std::function<void()> replaced;
        // The same for the accounts: kept here, being edited, replaced by the database's.
        std::function<std::vector<centre::SharedAccount>()> accounts;
        std::function<bool()> accountsBusy;
        std::function<void(const std::vector<centre::SharedAccount>&)> layAccounts;
        std::function<void(const std::string& text, Rgb colour)> techno;
        // A save the database would not take, for the administrator.
        std::function<void(const std::string& text)> refused;
    };

    // Null without a [Database] section. `accounts`: the station's own, to
    // seed an empty database; nullopt for a station without accounts (the
    // receiver), which then takes none either. The hooks run on the UI thread.
    static std::unique_ptr<CentreRegister> Start(const IniFile& config, DeviceRegister& reg,
                                                 std::optional<std::vector<centre::SharedAccount>> accounts,
                                                 Hooks hooks, centre::RegisterSync::Post post = {});
    CentreRegister(const std::string& connection, const std::string& station, DeviceRegister& reg,
                   std::optional<std::vector<centre::SharedAccount>> accounts, Hooks hooks,
                   centre::RegisterSync::Post post);
    ~CentreRegister();
    CentreRegister(const CentreRegister&) = delete;
    CentreRegister& operator=(const CentreRegister&) = delete;

    // The register's files were saved. An administrator's change goes to the
    // database; otherwise a copy of the database that waited is laid now.
    // Returns why the database cannot take the change (station text), empty
    // when it can.
    std::string Saved(bool byAdministrator);
    // The accounts were saved: a change goes to the database (password
    // hashes only), else a copy of the database's that waited is laid.
    void AccountsSaved();

    // Whether this station rings that device: not when the centre gives it
    // to another receiver.
    bool RingsHere(const std::string& shortName) const;
    // The receiver the centre gives that device to; empty for none.
    std::string ReceiverOf(const std::string& shortName) const;

    centre::RegisterSync& Sync() { return *m_sync; }

private:
    void Pulled(const centre::SharedRegister& pulled);
    // True when the register was replaced (and the hook told).
    bool Lay(const std::vector<DeviceEntry>& devices);
    void LayAccounts(const std::vector<centre::SharedAccount>& accounts);
    // The object cards go with the register's save, and come as its copies do.
    void ObjectsSaved(bool byAdministrator);
    void LayObjects(const std::map<std::string, ObjectCard>& objects);

    DeviceRegister& m_register;
    std::string m_station; // station text
    Hooks m_hooks;
    // Every device given to one receiver: its name (the board's pages, and
    // whether this station rings it).
    std::map<std::string, std::string> m_receivers;
    // The register as last in step with the database (laid or pushed; the
    // files as found at first): a save that differs is the administrator's change.
    std::vector<DeviceEntry> m_laid;
    // Nothing laid yet since the start: the station's own register is kept
    // aside when the centre's first replaces it.
    bool m_firstLay = true;
    std::optional<std::vector<DeviceEntry>> m_waiting;
    std::vector<centre::SharedAccount> m_accountsLaid;
    std::optional<std::vector<centre::SharedAccount>> m_accountsWaiting;
    std::map<std::string, ObjectCard> m_objectsLaid;
    std::optional<std::map<std::string, ObjectCard>> m_objectsWaiting;
    // Posted reads that arrive after the close are dropped.
    std::shared_ptr<CentreRegister*> m_alive;
    std::unique_ptr<centre::RegisterSync> m_sync;
};

} // namespace kv
