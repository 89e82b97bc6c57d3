#include "devices/DeviceRegister.h"

#include "data/AtomicFile.h"
#include "data/Schemas.h"

#include <unordered_map>

namespace kv {

struct DeviceRegister::Snapshot {
    std::vector<RegisterRow> rows;
    // The first position of each number and short name.
    std::unordered_map<std::string, std::size_t> byNumber;
    std::unordered_map<std::string, std::size_t> byShortName;
};

namespace {

std::string_view TextOf(const MemTable& table, RecordHandle row, int field)
{
    return row && field >= 0 ? table.TextView(row, field) : std::string_view();
}

} // namespace

DeviceRegister::DeviceRegister() : m_snapshot(std::make_shared<Snapshot>())
{
    DefineDeviceTable(DeviceTable);
    DefineDescriptionTable(DescriptionTable);
    DescriptionTable.SetMaster(&DeviceTable, "k1", "k1");
    DeviceTable.SetReadOnly(true);
    DescriptionTable.SetReadOnly(true);
    DeviceTable.AddRecordListener(this);
    DescriptionTable.AddRecordListener(this);
}

DeviceRegister::~DeviceRegister()
{
    DescriptionTable.RemoveRecordListener(this);
    DeviceTable.RemoveRecordListener(this);
}

bool DeviceRegister::Load()
{
    auto load = [this](MemTable& table, const char* file, const std::vector<FieldDef>& fields) {
        try {
            frmbin.Load(table, file);
            if (HoldsFields(table, fields))
                return true;
        } catch (const std::exception&) {
        }
        KeepAside(file, ".damaged");
        if (!HoldsFields(table, fields))
            table.SetFields(fields);
        return false;
    };
    m_loading = true;
    bool loaded = load(DescriptionTable, kDescriptionFile, DescriptionFields());
    if (loaded) {
        loaded = load(DeviceTable, kDeviceFile, DeviceFields());
    } else {
        // Without the descriptions the device list is not read either; it must
        // not be overwritten by the empty register at the next close.
        KeepAside(kDeviceFile, ".unloaded");
    }
    m_loading = false;
    Publish();
    return loaded;
}

void DeviceRegister::Save()
{
    MemTable::Bookmark mark = 0;
    try {
        mark = DeviceTable.GetBookmark();
        DeviceTable.SaveToFile(kDeviceFile, &frmbin);
        DescriptionTable.SaveToFile(kDescriptionFile, &frmbin);
        DeviceTable.GotoBookmark(mark);
    } catch (...) {
        DeviceTable.FreeBookmark(mark);
        throw;
    }
    DeviceTable.FreeBookmark(mark);
}

std::vector<DeviceEntry> DeviceRegister::Entries() const
{
    const MemTable& devices = DeviceTable;
    const MemTable& descriptions = DescriptionTable;
    const int deviceKey = devices.FindField("k1");
    const int listName = devices.FindField("device");
    const int key = descriptions.FindField("k1");
    const auto field = [&](const char* name) { return descriptions.FindField(name); };
    const int name = field("name"), address = field("adress"), description = field("description"),
              shortName = field("simplename"), number = field("simcard"), deviceDescription = field("devicedescription"),
              dialTime = field("dialtime"), dialEnable = field("dialenable"), drosvel = field("drosvel");

    // The card shows a device's first description row: that one counts.
    std::unordered_map<std::int32_t, RecordHandle> byKey;
    for (std::size_t i = 0; key >= 0 && i < descriptions.TotalRecordCount(); ++i) {
        const RecordHandle d = descriptions.RecordAt(i);
        if (!descriptions.IsNull(d, key))
            byKey.emplace(descriptions.Integer(d, key), d);
    }
    std::vector<DeviceEntry> out;
    out.reserve(devices.TotalRecordCount());
    for (std::size_t i = 0; i < devices.TotalRecordCount(); ++i) {
        const RecordHandle device = devices.RecordAt(i);
        RecordHandle d;
        if (deviceKey >= 0 && !devices.IsNull(device, deviceKey))
            if (const auto it = byKey.find(devices.Integer(device, deviceKey)); it != byKey.end())
                d = it->second;
        const auto text = [&](int f) { return std::string(TextOf(descriptions, d, f)); };
        const auto flag = [&](int f) { return d && f >= 0 && descriptions.Boolean(d, f); };
        DeviceEntry e;
        e.listName = TextOf(devices, device, listName);
        e.name = text(name);
        e.address = text(address);
        e.description = text(description);
        e.shortName = text(shortName);
        e.number = text(number);
        e.deviceDescription = text(deviceDescription);
        e.dialTime = text(dialTime);
        e.dialEnable = flag(dialEnable);
        e.drosvel = flag(drosvel);
        out.push_back(std::move(e));
    }
    return out;
}

void DeviceRegister::Replace(const std::vector<DeviceEntry>& entries)
{
    // Built apart and saved first: a file that cannot be written leaves the
    // register as it was, tables and files alike.
    MemTable devices("DeviceTable");
    MemTable descriptions("DescriptionTable");
    DefineDeviceTable(devices);
    DefineDescriptionTable(descriptions);
    std::int32_t key = 0;
    for (const DeviceEntry& e : entries) {
        ++key;
        devices.Append();
        devices.FieldAt(device::K1).SetAsInteger(key);
        devices.FieldAt(device::Device).SetAsString(e.listName);
        devices.Post();
        descriptions.Append();
        descriptions.FieldAt(description::K1).SetAsInteger(key);
        descriptions.FieldAt(description::Name).SetAsString(e.name);
        descriptions.FieldAt(description::Adress).SetAsString(e.address);
        descriptions.FieldAt(description::Description).SetAsString(e.description);
        descriptions.FieldAt(description::SimpleName).SetAsString(e.shortName);
        descriptions.FieldAt(description::SimCard).SetAsString(e.number);
        descriptions.FieldAt(description::DeviceDescription).SetAsString(e.deviceDescription);
        descriptions.FieldAt(description::DialTime).SetAsString(e.dialTime);
        descriptions.FieldAt(description::DialEnable).SetAsBoolean(e.dialEnable);
        descriptions.FieldAt(description::Drosvel).SetAsBoolean(e.drosvel);
        descriptions.Post();
    }
    descriptions.SaveToFile(kDescriptionFile, &frmbin);
    devices.SaveToFile(kDeviceFile, &frmbin);
    const bool readOnly = DeviceTable.ReadOnly();
    SetReadOnly(true); // an edit under way is given up: the register it was made on is gone
    Load();
    SetReadOnly(readOnly);
}

void DeviceRegister::SetReadOnly(bool readOnly)
{
    if (readOnly) {
        // A change begun by the administrator is not left for the next user to save.
        if (DescriptionTable.State() != DataSetState::Browse)
            DescriptionTable.Cancel();
        if (DeviceTable.State() != DataSetState::Browse)
            DeviceTable.Cancel();
    }
    DeviceTable.SetReadOnly(readOnly);
    DescriptionTable.SetReadOnly(readOnly);
}

void DeviceRegister::Publish(RecordHandle leaving)
{
    if (m_loading)
        return;
    const MemTable& devices = DeviceTable;
    const MemTable& descriptions = DescriptionTable;
    const int deviceKey = devices.FindField("k1");
    const int listName = devices.FindField("device");
    const int descriptionKey = descriptions.FindField("k1");
    const int simpleName = descriptions.FindField("simplename");
    const int simCard = descriptions.FindField("simcard");
    const int address = descriptions.FindField("adress");
    const int dialTime = descriptions.FindField("dialtime");
    const int dialEnable = descriptions.FindField("dialenable");

    // A device's description is the first row with its key, the one the card shows.
    std::unordered_map<std::int32_t, RecordHandle> byKey;
    if (descriptionKey >= 0) {
        const std::size_t n = descriptions.TotalRecordCount();
        for (std::size_t i = 0; i < n; ++i) {
            const RecordHandle d = descriptions.RecordAt(i);
            if (d != leaving && !descriptions.IsNull(d, descriptionKey))
                byKey.emplace(descriptions.Integer(d, descriptionKey), d);
        }
    }
    auto next = std::make_shared<Snapshot>();
    const std::size_t n = devices.TotalRecordCount();
    next->rows.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const RecordHandle device = devices.RecordAt(i);
        if (device == leaving)
            continue;
        RecordHandle d;
        if (deviceKey >= 0 && !devices.IsNull(device, deviceKey)) {
            const auto it = byKey.find(devices.Integer(device, deviceKey));
            if (it != byKey.end())
                d = it->second;
        }
        RegisterRow row;
        row.listName = TextOf(devices, device, listName);
        row.shortName = TextOf(descriptions, d, simpleName);
        row.number = TextOf(descriptions, d, simCard);
        row.address = TextOf(descriptions, d, address);
        row.dialTime = TextOf(descriptions, d, dialTime);
        row.dialEnable = d && dialEnable >= 0 && descriptions.Boolean(d, dialEnable);
        next->byNumber.emplace(row.number, next->rows.size());
        next->byShortName.emplace(row.shortName, next->rows.size());
        next->rows.push_back(std::move(row));
    }
    std::lock_guard lock(m_mutex);
    m_snapshot = std::move(next);
}

std::shared_ptr<const DeviceRegister::Snapshot> DeviceRegister::Current() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

std::string DeviceRegister::FindShortNameByNumber(const std::string& number, const std::string& initial) const
{
    const auto s = Current();
    if (s->rows.empty())
        return initial;
    const auto it = s->byNumber.find(number);
    return it == s->byNumber.end() ? std::string(kNoDeviceForNumber) : s->rows[it->second].shortName;
}

std::string DeviceRegister::FindNumberByShortName(const std::string& shortName, const std::string& initial) const
{
    const auto s = Current();
    const auto it = s->byShortName.find(shortName);
    return it == s->byShortName.end() ? initial : s->rows[it->second].number;
}

std::string DeviceRegister::FindListNameByNumber(const std::string& number) const
{
    const auto s = Current();
    const auto it = s->byNumber.find(number);
    return it == s->byNumber.end() ? std::string() : s->rows[it->second].listName;
}

std::string DeviceRegister::FindAddressByNumber(const std::string& number) const
{
    const auto s = Current();
    const auto it = s->byNumber.find(number);
    return it == s->byNumber.end() ? std::string() : s->rows[it->second].address;
}

std::optional<std::size_t> DeviceRegister::PositionOfShortName(const std::string& shortName) const
{
    const auto s = Current();
    const auto it = s->byShortName.find(shortName);
    if (it == s->byShortName.end())
        return std::nullopt;
    return it->second;
}

std::vector<DialDevice> DeviceRegister::Devices() const
{
    const auto s = Current();
    std::vector<DialDevice> out;
    out.reserve(s->rows.size());
    for (const RegisterRow& row : s->rows)
        out.push_back({row.shortName, row.dialEnable, row.dialTime, row.number});
    return out;
}

std::vector<RegisterRow> DeviceRegister::Rows() const { return Current()->rows; }

} // namespace kv
