#include "data/Schemas.h"

#include "data/ObjectCards.h"
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

// Integers of any width, texts of any kind: what a file of another make may hold.
bool CompatibleType(FieldType have, FieldType want)
{
    auto integer = [](FieldType t) {
        return t == FieldType::Integer || t == FieldType::AutoInc || t == FieldType::SmallInt || t == FieldType::Word;
    };
    auto text = [](FieldType t) {
        return t == FieldType::String || t == FieldType::FixedChar || t == FieldType::Memo || t == FieldType::FmtMemo;
    };
    if (integer(want))
        return integer(have);
    if (text(want))
        return text(have);
    return have == want;
}

} // namespace

bool HoldsFields(const MemTable& table, const std::vector<FieldDef>& wanted)
{
    for (const FieldDef& w : wanted) {
        const int f = table.FindField(w.name);
        if (f < 0 || !CompatibleType(table.Fields()[static_cast<std::size_t>(f)].type, w.type))
            return false;
    }
    return true;
}

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

std::vector<FieldDef> ObjectCardFields()
{
    return {Def("tel", FieldType::String, 50),
            Def("instructions", FieldType::Memo, static_cast<int>(ObjectCards::kInstructionsLimit))};
}

std::vector<FieldDef> ObjectContactFields()
{
    const int text = static_cast<int>(ObjectCards::kTextLimit);
    return {Def("tel", FieldType::String, 50), Def("name", FieldType::String, text),
            Def("role", FieldType::String, text), Def("phone", FieldType::String, 50),
            Def("note", FieldType::String, text)};
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
