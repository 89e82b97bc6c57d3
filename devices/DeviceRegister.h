#pragma once
// The device register without its window: the device list ("t2.bin") and one
// description row per device ("t1.bin"), their files, and the lookups the
// station makes in them. The tables belong to the UI thread, which edits them
// (the card, the register dialog); every lookup reads an immutable copy that
// is published after each posted change, so the modem workers look up from
// their own threads without waiting for the UI thread.
#include "data/MemTable.h"
#include "data/ObjectCards.h"
#include "data/TableFormat.h"
#include "modem/DialSchedule.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv {

inline constexpr const char* kDescriptionFile = "t1.bin";
inline constexpr const char* kDeviceFile = "t2.bin";

// What a number that no device of a non-empty register has is called.
inline constexpr std::string_view kNoDeviceForNumber = "        ";

// One device as the lookups see it; a device without a description row has
// empty texts and takes no part in the ring-round.
struct RegisterRow {
    std::string listName;  // the device list's name
    std::string shortName; // the tile's text
    std::string number;    // the SIM card's number, byte for byte
    std::string address;
    std::string dialTime;
    bool dialEnable = false;
};

// One device with every field its two rows hold, in register order: what
// another station's copy of the register is made of.
struct DeviceEntry {
    std::string listName;    // the device list's name
    std::string name;
    std::string address;
    std::string description;
    std::string shortName;
    std::string number;
    std::string deviceDescription;
    std::string dialTime;
    bool dialEnable = false;
    bool drosvel = false;
    bool operator==(const DeviceEntry&) const = default;
};

class DeviceRegister final : private IRecordListener {
public:
    DeviceRegister();
    ~DeviceRegister() override;
    DeviceRegister(const DeviceRegister&) = delete;
    DeviceRegister& operator=(const DeviceRegister&) = delete;

    // UI thread only.
    MemTable DeviceTable{"DeviceTable"};
    MemTable DescriptionTable{"DescriptionTable"};
    TableFormat frmbin;
    // Each object's instructions and contacts, by number (UI thread only).
    ObjectCards Objects;

    // Reads both files from the working folder. A file that does not load is
    // kept aside as "<file>.damaged"; without the descriptions the device list
    // is not read either and is kept as "t2.bin.unloaded", so the next save
    // cannot overwrite it. False when the register did not load whole.
    bool Load();
    // Writes both files; the current device stays current. Throws on failure.
    void Save();
    // The register as entries (UI thread); a device without a description row
    // has empty texts.
    std::vector<DeviceEntry> Entries() const;
    // Writes `entries` as both files and reads them back, so the tables and
    // the files hold exactly that register. Throws when a file cannot be
    // written; the old files then stay.
    void Replace(const std::vector<DeviceEntry>& entries);
    // Cancels a change under way when the register becomes read-only.
    void SetReadOnly(bool readOnly);

    // Lookups, from any thread; the first device in register order counts.
    // The short name of the device with that number; eight blanks when none of
    // a non-empty register has it; `initial` for an empty register.
    std::string FindShortNameByNumber(const std::string& number, const std::string& initial) const;
    // The number of the device with that short name; `initial` when none.
    std::string FindNumberByShortName(const std::string& shortName, const std::string& initial) const;
    // The device-list name of the device with that number; empty when none.
    std::string FindListNameByNumber(const std::string& number) const;
    // The card's "АДРЕС" of the device with that number; empty when none.
    std::string FindAddressByNumber(const std::string& number) const;
    // The 0-based register position of the device with that short name.
    std::optional<std::size_t> PositionOfShortName(const std::string& shortName) const;
    // The register in its order, as the board places it and the ring-round calls it.
    std::vector<DialDevice> Devices() const;
    std::vector<RegisterRow> Rows() const;

private:
    struct Snapshot;

    void RecordAdded(RecordHandle, std::size_t) override { Publish(); }
    void RecordChanged(RecordHandle) override { Publish(); }
    void RecordRemoving(RecordHandle record, std::size_t) override { Publish(record); }
    void RecordsCleared() override { Publish(); }

    // Builds the copy the lookups read, leaving out a record about to go.
    void Publish(RecordHandle leaving = {});
    std::shared_ptr<const Snapshot> Current() const;

    bool m_loading = false; // one copy after a whole file, not one per row
    mutable std::mutex m_mutex;
    std::shared_ptr<const Snapshot> m_snapshot;
};

} // namespace kv
