#include "core/CentreRegister.h"

#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "data/Text.h"
#include "timing/UiThread.h"

#include <filesystem>
#include <utility>

namespace kv {

using namespace literals;

std::unique_ptr<CentreRegister> CentreRegister::Start(const IniFile& config, DeviceRegister& reg,
                                                      std::optional<std::vector<centre::SharedAccount>> accounts,
                                                      Hooks hooks, centre::RegisterSync::Post post)
{
    const std::optional<centre::DatabaseSettings> settings = centre::ReadDatabaseSettings(config);
    if (!settings)
        return nullptr;
    if (!post)
        post = [](std::function<void()> fn) { PostToUi(std::move(fn)); };
    return std::make_unique<CentreRegister>(settings->connection, settings->station, reg, std::move(accounts),
                                            std::move(hooks), std::move(post));
}

CentreRegister::CentreRegister(const std::string& connection, const std::string& station, DeviceRegister& reg,
                               std::optional<std::vector<centre::SharedAccount>> accounts, Hooks hooks,
                               centre::RegisterSync::Post post)
    : m_register(reg),
      m_station(Cp1251FromUtf8(station)),
      m_hooks(std::move(hooks)),
      m_alive(std::make_shared<CentreRegister*>(this))
{
    centre::SharedRegister seed;
    seed.devices = reg.Entries();
    m_laid = *seed.devices;
    // The cards as the files hold them, also where no device card reads them (the receiver).
    if (std::string problem; !reg.Objects.Load(problem) && m_hooks.techno)
        m_hooks.techno(problem, kRed);
    seed.objects = reg.Objects.All();
    m_objectsLaid = *seed.objects;
    if (accounts)
        m_accountsLaid = *accounts;
    seed.accounts = std::move(accounts);
    const bool takesAccounts = seed.accounts.has_value();
    centre::RegisterSync::Callbacks callbacks;
    const std::weak_ptr<CentreRegister*> alive = m_alive;
    callbacks.pulled = [alive, takesAccounts](const centre::SharedRegister& pulled) {
        if (const auto self = alive.lock()) {
            centre::SharedRegister taken = pulled;
            if (!takesAccounts)
                taken.accounts.reset();
            (*self)->Pulled(taken);
        }
    };
    callbacks.refused = [alive](const std::string& why) {
        if (const auto self = alive.lock(); self && (*self)->m_hooks.refused)
            (*self)->m_hooks.refused(why);
    };
    m_sync = std::make_unique<centre::RegisterSync>(connection, station, std::move(seed), std::move(post),
                                                    std::move(callbacks));
}

CentreRegister::~CentreRegister()
{
    m_sync.reset();
    m_alive.reset();
}

void CentreRegister::Pulled(const centre::SharedRegister& pulled)
{
    if (pulled.objects) {
        // Edited here meanwhile (the device card is open): laid at its save.
        if (m_hooks.busy && m_hooks.busy())
            m_objectsWaiting = pulled.objects;
        else
            LayObjects(*pulled.objects);
    }
    if (pulled.accounts) {
        if (m_hooks.accountsBusy && m_hooks.accountsBusy()) {
            m_accountsWaiting = pulled.accounts;
        } else {
            m_accountsWaiting.reset();
            LayAccounts(*pulled.accounts);
        }
    }
    if (!pulled.devices)
        return;
    // A device moved between two other receivers moves between the board's pages.
    const bool ringersChanged = pulled.ringers != m_receivers;
    m_receivers = pulled.ringers;
    if (m_hooks.busy && m_hooks.busy()) {
        m_waiting = pulled.devices;
        return;
    }
    m_waiting.reset();
    // A new share of the ring-round lays the board again, with or without a new register.
    if (!Lay(*pulled.devices) && ringersChanged && m_hooks.replaced)
        m_hooks.replaced();
}

bool CentreRegister::RingsHere(const std::string& shortName) const
{
    const auto it = m_receivers.find(shortName);
    return it == m_receivers.end() || it->second == m_station;
}

std::string CentreRegister::ReceiverOf(const std::string& shortName) const
{
    const auto it = m_receivers.find(shortName);
    return it == m_receivers.end() ? std::string() : it->second;
}

bool CentreRegister::Lay(const std::vector<DeviceEntry>& devices)
{
    const bool first = std::exchange(m_firstLay, false);
    const std::vector<DeviceEntry> own = m_register.Entries();
    if (own == devices) {
        m_laid = devices;
        return false;
    }
    try {
        // A station joining a centre with a register of its own keeps a copy
        // of it: its devices may have to be added to the centre's by hand.
        if (first && !own.empty()) {
            namespace fs = std::filesystem;
            for (const char* file : {kDescriptionFile, kDeviceFile})
                fs::copy_file(file, std::string(file) + kOwnRegisterSuffix, fs::copy_options::overwrite_existing);
            if (m_hooks.techno)
                m_hooks.techno(Str("Реестр устройств станции отличался от реестра центра: прежний сохранён в t1.bin.own и t2.bin.own"_cp),
                               kRed);
        }
        m_register.Replace(devices);
    } catch (const std::exception& e) {
        if (m_hooks.techno)
            m_hooks.techno(Str("Реестр устройств из базы центра не записан: "_cp) + e.what(), kRed);
        return false;
    }
    m_laid = devices;
    if (m_hooks.techno)
        m_hooks.techno(Str("Реестр устройств обновлён из базы центра: устройств "_cp) + std::to_string(devices.size()),
                       kNavy);
    if (m_hooks.replaced)
        m_hooks.replaced();
    return true;
}

void CentreRegister::LayObjects(const std::map<std::string, ObjectCard>& objects)
{
    m_objectsWaiting.reset();
    m_objectsLaid = objects;
    if (m_register.Objects.All() == objects)
        return;
    m_register.Objects.ReplaceAll(objects);
    std::string error;
    if (!m_register.Objects.Save(error)) {
        if (m_hooks.techno)
            m_hooks.techno(Str("Карточки объектов из базы центра не записаны: "_cp) + error, kRed);
        return;
    }
    if (m_hooks.techno)
        m_hooks.techno(Str("Карточки объектов обновлены из базы центра: карточек "_cp) + std::to_string(objects.size()),
                       kNavy);
}

void CentreRegister::ObjectsSaved(bool byAdministrator)
{
    std::map<std::string, ObjectCard> objects = m_register.Objects.All();
    if (byAdministrator && objects != m_objectsLaid) {
        // The save wins over a copy read while it was being made.
        m_objectsWaiting.reset();
        m_objectsLaid = objects;
        m_sync->PushObjects(std::move(objects));
    } else if (m_objectsWaiting) {
        const std::map<std::string, ObjectCard> waiting = std::move(*m_objectsWaiting);
        LayObjects(waiting);
    }
}

std::string CentreRegister::Saved(bool byAdministrator)
{
    ObjectsSaved(byAdministrator);
    std::vector<DeviceEntry> devices = m_register.Entries();
    if (!byAdministrator || devices == m_laid) {
        // Nothing of the administrator's to keep: the database's copy, if one
        // waited, is laid now.
        if (m_waiting) {
            const std::vector<DeviceEntry> waiting = std::move(*m_waiting);
            m_waiting.reset();
            Lay(waiting);
        }
        return {};
    }
    if (std::string why = centre::DevicesRefusal(devices); !why.empty())
        return why;
    // The save wins over a copy read while it was being made.
    m_waiting.reset();
    m_laid = devices;
    m_sync->PushDevices(std::move(devices));
    return {};
}

void CentreRegister::LayAccounts(const std::vector<centre::SharedAccount>& accounts)
{
    m_accountsLaid = accounts;
    if (m_hooks.layAccounts && (!m_hooks.accounts || m_hooks.accounts() != accounts))
        m_hooks.layAccounts(accounts);
}

void CentreRegister::AccountsSaved()
{
    if (!m_hooks.accounts)
        return;
    std::vector<centre::SharedAccount> accounts = m_hooks.accounts();
    if (accounts == m_accountsLaid) {
        if (m_accountsWaiting) {
            const std::vector<centre::SharedAccount> waiting = std::move(*m_accountsWaiting);
            m_accountsWaiting.reset();
            LayAccounts(waiting);
        }
        return;
    }
    m_accountsWaiting.reset();
    m_accountsLaid = accounts;
    m_sync->PushAccounts(std::move(accounts));
}

} // namespace kv
