#include "data/Schemas.h"

#include "data/Text.h"

namespace kv {

namespace {

FieldDef Def(const char* name, FieldType type, int size = 0, int displayWidth = -1)
{
    FieldDef d;
    d.name = name;
    d.type = type;
    d.size = size;
    d.displayWidth = displayWidth;
    return d;
}

} // namespace

std::vector<FieldDef> JournalFields()
{
    return {
        Def("EventTime", FieldType::DateTime, 0, 14),
        Def("Status", FieldType::String, 200, 30),
        Def("tel", FieldType::String, 50, 29),
        Def("event", FieldType::String, 200, 77),
        Def("simplename", FieldType::String, 50),
    };
}

std::vector<FieldDef> DescriptionFields()
{
    return {
        Def("k1", FieldType::Integer),
        Def("name", FieldType::String, 100),
        Def("adress", FieldType::String, 100),
        Def("description", FieldType::String, 20),
        Def("simplename", FieldType::String, 100),
        Def("simcard", FieldType::String, 100),
        Def("devicedescription", FieldType::Memo, 300),
        Def("dialtime", FieldType::String, 10),
        Def("dialenable", FieldType::Boolean),
        Def("drosvel", FieldType::Boolean),
    };
}

std::vector<FieldDef> DeviceFields()
{
    std::vector<FieldDef> fields = {
        Def("k1", FieldType::AutoInc),
        Def("device", FieldType::String, 150),
    };
    fields[device::Device].displayLabel = Str("Устройства"_cp);
    return fields;
}

std::vector<FieldDef> SecurityFields()
{
    return {
        Def("k", FieldType::AutoInc),
        Def("user", FieldType::String, 100),
        Def("password", FieldType::String, 100),
    };
}

void DefineJournal(MemTable& table)
{
    table.SetFields(JournalFields());
}

void DefineDescriptionTable(MemTable& table)
{
    table.SetFields(DescriptionFields());
}

void DefineDeviceTable(MemTable& table)
{
    table.SetFields(DeviceFields());
}

void DefineSecurityTable(MemTable& table)
{
    table.SetFields(SecurityFields());
}

} // namespace kv
