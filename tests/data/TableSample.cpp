// Writes the station's files from fixed rows into the folder named: the same
// bytes must come out of every build, whatever system it runs on.
#include "data/IniFile.h"
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TileStates.h"
#include "timing/DateTime.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace kv::literals;

namespace {

// A value for each field kind that the schemas use, varied by row: Cyrillic,
// line feeds, carriage returns and ^Z in texts, dates on both sides of 1899.
void Fill(kv::MemTable& t, int rows)
{
    const std::string texts[] = {std::string("Тревога №1"_cp), "a\nb\r\nc", "\x1A end", "Ёё 0x0A\n", ""};
    for (int r = 0; r < rows; ++r) {
        t.Last();
        t.Append();
        for (int f = 0; f < t.FieldCount(); ++f) {
            kv::Field field = t.FieldAt(f);
            switch (t.Fields()[static_cast<std::size_t>(f)].type) {
            case kv::FieldType::String:
            case kv::FieldType::Memo:
                field.SetAsString(texts[(r + f) % 5] + std::to_string(r));
                break;
            case kv::FieldType::SmallInt:
            case kv::FieldType::Integer:
            case kv::FieldType::Word:
                field.SetAsInteger(r * 10 + f);
                break;
            case kv::FieldType::Boolean:
                field.SetAsBoolean((r + f) % 2 == 0);
                break;
            case kv::FieldType::Float:
                field.SetAsFloat(r * 1.25 - 3.5);
                break;
            case kv::FieldType::Date:
            case kv::FieldType::Time:
            case kv::FieldType::DateTime:
                field.SetAsDateTime(kv::EncodeDateTime({r % 2 ? 2026 : 1899, 12, r % 2 ? 7 : 29, 14, 5, r, 250}));
                break;
            default:
                break; // left null
            }
        }
        t.Post();
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: table_sample <folder>\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    try {
        const struct {
            const char* file;
            void (*define)(kv::MemTable&);
            int rows;
        } tables[] = {
            {"t1.bin", kv::DefineDescriptionTable, 7},
            {"t2.bin", kv::DefineDeviceTable, 5},
            {"t3.bin", kv::DefineJournal, 40},
            {"t4.bin", kv::DefineSecurityTable, 3},
            {"t6.bin", kv::DefineJournal, 0},
        };
        for (const auto& table : tables) {
            kv::MemTable t;
            table.define(t);
            Fill(t, table.rows);
            // Written twice: the second save replaces a file that exists.
            kv::TableFormat().Save(t, folder + table.file);
            kv::TableFormat().Save(t, folder + table.file);
        }
        kv::TileStates states;
        for (int i = 0; i < kv::TileStates::kTiles; ++i) {
            states.GuardStates[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 4);
            states.InfoStates[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 10);
        }
        if (kv::SaveTileStates(states, folder + kv::kTileStatesFile) != kv::TileSave::Saved)
            throw std::runtime_error("t5.bin not saved");
        const kv::IniFile ini(folder + "config.ini");
        ini.WriteString("Port", "Name", "COM3");
        ini.WriteString(std::string("Объект"_cp), std::string("Адрес"_cp), std::string("ул. Ленина, 1"_cp));
        ini.WriteString("Port", "Name", "COM4");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "table_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
