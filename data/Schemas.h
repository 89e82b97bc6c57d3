#pragma once
// Fields of the station's tables, in file order. Columns are addressed by
// these enums wherever a table of the schema is read by position.
#include "data/MemTable.h"

#include <vector>

namespace kv {

namespace journal {
enum Field : int { EventTime, Status, Tel, Event, SimpleName, FieldCount };
}
namespace description {
enum Field : int { K1, Name, Adress, Description, SimpleName, SimCard, DeviceDescription, DialTime, DialEnable,
                   Drosvel, FieldCount };
}
namespace device {
enum Field : int { K1, Device, FieldCount };
}
namespace security {
enum Field : int { K, User, Password, FieldCount };
}

// EventsTable, DialEventsTable and the "*.jrn" files.
std::vector<FieldDef> JournalFields();
std::vector<FieldDef> DescriptionFields();
std::vector<FieldDef> DeviceFields();
std::vector<FieldDef> SecurityFields();
// The object cards ("t7.bin") and their contacts ("t8.bin"), by device number.
std::vector<FieldDef> ObjectCardFields();
std::vector<FieldDef> ObjectContactFields();
// The table holds these fields (possibly in another order), each of a
// compatible type.
bool HoldsFields(const MemTable& table, const std::vector<FieldDef>& wanted);

// Give an (emptied) table the schema.
void DefineJournal(MemTable& table);
void DefineDescriptionTable(MemTable& table);
void DefineDeviceTable(MemTable& table);
void DefineSecurityTable(MemTable& table);

} // namespace kv
